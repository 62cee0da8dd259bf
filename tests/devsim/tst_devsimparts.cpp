// The simulator's pure parts: its line syntax, how it finds requests in the
// byte stream, its encoders against the standard's own examples, and how its
// modem shows each kind of message.

#include "frames.h"
#include "gsmtext.h"
#include "messageline.h"
#include "modem.h"
#include "simulator.h"
#include "userdata.h"

#include <QTest>

using namespace devsim;

class TestDevSimParts : public QObject
{
    Q_OBJECT
private slots:
    void quotedValueReadsBack_data();
    void quotedValueReadsBack();
    void brokenLinesAreRefused_data();
    void brokenLinesAreRefused();
    void wordsSplitAtUnquotedBlanks();
    void requestsFoundInStream_data();
    void requestsFoundInStream();
    void modemCommands_data();
    void modemCommands();
    void answerTypedAtItsRate();
    void encoders_data();
    void encoders();
    void messagesShownAsModemsShowThem_data();
    void messagesShownAsModemsShowThem();
};

void TestDevSimParts::quotedValueReadsBack_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "Pump3";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks and commas") << "Level low, tank 2";
    QTest::newRow("quotes") << "say \"hi\"";
    QTest::newRow("backslash") << "C:\\x\\n";
    QTest::newRow("line breaks") << "one\r\ntwo\nthree";
    QTest::newRow("equals sign") << "a=b";
    QTest::newRow("control byte") << QString("bell") + QChar(7);
    QTest::newRow("chinese") << QString::fromUtf8("水位過低");
}

void TestDevSimParts::quotedValueReadsBack()
{
    QFETCH(QString, value);
    QList<Word> words;
    QString error;
    QVERIFY2(ParseWords("text=" + QuoteValue(value) + " next", words, error), qPrintable(error));
    QCOMPARE(words.size(), 2);
    QCOMPARE(words[0].key, QString("text"));
    QCOMPARE(words[0].value, value);
    QCOMPARE(words[1].value, QString("next"));
}

void TestDevSimParts::brokenLinesAreRefused_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("open quote") << "text=\"abc";
    QTest::newRow("lone backslash") << "text=abc\\";
    QTest::newRow("short hex escape") << "text=\\x4";
    QTest::newRow("bad unicode escape") << "text=\\u12G4";
}

void TestDevSimParts::brokenLinesAreRefused()
{
    QFETCH(QString, line);
    QList<Word> words;
    QString error;
    QVERIFY(!ParseWords(line, words, error));
    QVERIFY(!error.isEmpty());
}

void TestDevSimParts::wordsSplitAtUnquotedBlanks()
{
    QList<Word> words;
    QString error;
    QVERIFY(ParseWords("  exception 160  text=a\\ b \"x=y\" k=\"v=w\" \\u4F60", words, error));
    QCOMPARE(words.size(), 6);
    QCOMPARE(words[0].value, QString("exception"));
    QCOMPARE(words[1].value, QString("160"));
    QCOMPARE(words[2].key, QString("text"));
    QCOMPARE(words[2].value, QString("a b"));
    QVERIFY(words[3].key.isEmpty()); // a quoted '=' does not make a key
    QCOMPARE(words[3].value, QString("x=y"));
    QCOMPARE(words[4].key, QString("k"));
    QCOMPARE(words[4].value, QString("v=w"));
    QCOMPARE(words[5].value, QString(QChar(0x4F60)));
}

void TestDevSimParts::requestsFoundInStream_data()
{
    // Chunks arrive one after the other; "|" in a chunk list marks a pause
    // long enough to end a half-received request.
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("expected");

    // Requests as the logger sends them.
    const QByteArray regs = WithCRC(QByteArray::fromHex("f70400020004"));
    const QByteArray poll = WithCRC(QByteArray::fromHex("f75066"));
    // AT text whose bytes include the station number and the poll's bytes.
    const QByteArray at = WithCRC(QByteArray::fromHex("f7506500054154f75066"));
    QByteArray spoiled = regs;
    spoiled[6] = char(spoiled[6] ^ 0x40);
    const QByteArray other = WithCRC(QByteArray::fromHex("010400020004"));
    const QByteArray unknown = WithCRC(QByteArray::fromHex("f7030000000a"));

    QTest::newRow("one chunk") << QList<QByteArray>{regs} << QList<QByteArray>{regs};
    QList<QByteArray> bytes;
    for (char c : at)
        bytes << QByteArray(1, c);
    QTest::newRow("byte by byte") << bytes << QList<QByteArray>{at};
    QTest::newRow("back to back") << QList<QByteArray>{poll + at + regs}
                                  << QList<QByteArray>{poll, at, regs};
    QTest::newRow("noise first") << QList<QByteArray>{QByteArray::fromHex("00f7ff") + poll}
                                 << QList<QByteArray>{poll};
    QTest::newRow("bad crc skipped")
        << QList<QByteArray>{spoiled + poll} << QList<QByteArray>{poll};
    QTest::newRow("other station") << QList<QByteArray>{other, poll} << QList<QByteArray>{poll};
    QTest::newRow("unknown function by its crc")
        << QList<QByteArray>{unknown.left(3), unknown.mid(3)} << QList<QByteArray>{unknown};
    QTest::newRow("half request then pause")
        << QList<QByteArray>{at.left(6), "|", regs} << QList<QByteArray>{regs};
    QTest::newRow("length announced but never sent")
        << QList<QByteArray>{QByteArray::fromHex("f7506500ff41"), "|", poll}
        << QList<QByteArray>{poll};
}

void TestDevSimParts::requestsFoundInStream()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, expected);
    FrameAssembler assembler;
    QList<QByteArray> found;
    for (const QByteArray &chunk : chunks)
        found += chunk == "|" ? assembler.gap() : assembler.feed(chunk);
    found += assembler.gap();
    QCOMPARE(found, expected);
    QVERIFY(!assembler.pending());
}

namespace {

// Slots 1 to 4 of a 5-slot store: read, unread, sent, unsent.
void FillStore(SimStore &store)
{
    const QString stamp = QStringLiteral("26/12/08,09:15:00+32");
    store.put(1, {SmsStatus::RecRead, "+1", {}, false, stamp, SmsAlphabet::Gsm, "old"});
    store.put(2, {SmsStatus::RecUnread, "+1", {}, false, stamp, SmsAlphabet::Gsm, "hello"});
    store.put(3, {SmsStatus::StoSent, "2", {}, false, {}, SmsAlphabet::Gsm, "out"});
    store.put(4, {SmsStatus::StoUnsent, "2", {}, false, {}, SmsAlphabet::Gsm, "draft"});
}

} // namespace

void TestDevSimParts::modemCommands_data()
{
    QTest::addColumn<QStringList>("commands"); // each ends with CR unless it holds Ctrl-Z
    QTest::addColumn<QString>("answer");       // to the last command
    QTest::addColumn<QList<int>>("slotsLeft");

    const QList<int> all{1, 2, 3, 4};
    const QString ok = "\r\nOK\r\n";
    const QString error = "\r\nERROR\r\n";
    QTest::newRow("delete one") << QStringList{"AT+CMGD=3"} << ok << QList<int>{1, 2, 4};
    QTest::newRow("delete empty slot") << QStringList{"AT+CMGD=5"} << ok << all;
    QTest::newRow("delete outside") << QStringList{"AT+CMGD=6"} << error << all;
    QTest::newRow("delete read") << QStringList{"AT+CMGD=1,1"} << ok << QList<int>{2, 3, 4};
    QTest::newRow("delete read and sent") << QStringList{"AT+CMGD=1,2"} << ok << QList<int>{2, 4};
    QTest::newRow("delete all but unread") << QStringList{"AT+CMGD=1,3"} << ok << QList<int>{2};
    QTest::newRow("delete all") << QStringList{"AT+CMGD=1,4"} << ok << QList<int>{};
    QTest::newRow("delete flag 5")
        << QStringList{"AT+CMEE=1", "AT+CMGD=1,5"} << "\r\n+CMS ERROR: 304\r\n"
        << all;
    QTest::newRow("short header")
        << QStringList{"AT+CSDH=0", "AT+CMGR=2"}
        << "\r\n+CMGR: \"REC UNREAD\",\"+1\",,\"26/12/08,09:15:00+32\"\r\nhello\r\n\r\nOK\r\n"
        << all;
    QTest::newRow("short outgoing header")
        << QStringList{"AT+CSDH=0", "AT+CMGR=4"}
        << "\r\n+CMGR: \"STO UNSENT\",\"2\",\r\ndraft\r\n\r\nOK\r\n"
        << all;
    QTest::newRow("echo") << QStringList{"ATE1", "at"} << "at\r" + ok << all;
    QTest::newRow("pdu mode") << QStringList{"AT+CMGF=0", "AT+CMGR=2"}
                              << "\r\n+CMGR: 0,,19\r\n07915892000000F0040191F10000622180905100230"
                                 "5E8329BFD06\r\n\r\nOK\r\n"
                              << all;
    QTest::newRow("character set other than GSM")
        << QStringList{"AT+CMEE=1", "AT+CSCS=\"UCS2\""} << "\r\n+CME ERROR: 4\r\n"
        << all;
    QTest::newRow("noise before the prefix") << QStringList{QString::fromLatin1("\xf7\x04"
                                                                                "AT")}
                                             << ok << all;
    QTest::newRow("unknown command") << QStringList{"AT+COPS?"} << error << all;
    QTest::newRow("registration with area and cell")
        << QStringList{"AT+CREG=2", "AT+CREG?"}
        << "\r\n+CREG: 2,1,\"1A2B\",\"01C3D4E5\",0\r\n" + ok << all;
    QTest::newRow("signal") << QStringList{"AT+CSQ"} << "\r\n+CSQ: 20,99\r\n" + ok << all;
    QTest::newRow("signal has no query form") << QStringList{"AT+CSQ?"} << error << all;
    QTest::newRow("restart brings the factory profile")
        << QStringList{"ATE0", "AT+CFUN=1,1", "AT"} << "AT\r" + ok << all;
    QTest::newRow("not a command") << QStringList{"HELLO"} << error << all;
    QTest::newRow("reset ends error numbers")
        << QStringList{"AT+CMEE=1", "ATZ", "AT+CMGR=9"} << error << all;
    QTest::newRow("parameters kept")
        << QStringList{"AT+CSMP=17,11,0,8", "AT+CSMP?"} << "\r\n+CSMP: 17,11,0,8\r\n" + ok << all;
    QTest::newRow("bad parameter")
        << QStringList{"AT+CMEE=1", "AT+CSMP=1,x"} << "\r\n+CMS ERROR: 304\r\n"
        << all;
    QTest::newRow("unknown storage") << QStringList{"AT+CPMS=\"XX\""} << error << all;
    QTest::newRow("bad ucs2 text")
        << QStringList{"AT+CSMP=17,167,0,8", "AT+CMGS=\"1\"", "00G1\x1a"} << error << all;
    QTest::newRow("pin wanted first") << QStringList{"AT+CPIN=\"0000\""} << error << all;
    QTest::newRow("read marks read")
        << QStringList{"AT+CMGR=2", "AT+CMGD=1,1"} << ok << QList<int>{3, 4};
}

void TestDevSimParts::modemCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, answer);
    QFETCH(QList<int>, slotsLeft);
    SimStore store(5, 1);
    FillStore(store);
    Modem modem(store, [] { return qint64(0); });
    for (const QString &command : commands)
        modem.input(command.toUtf8() + (command.contains(QChar(0x1a)) ? "" : "\r"));
    QCOMPARE(modem.answer(), answer);
    QCOMPARE(modem.typedOutput(), ToGsm(answer));
    QList<int> left;
    for (const auto &entry : store.messages())
        left << entry.first;
    QCOMPARE(left, slotsLeft);
}

void TestDevSimParts::answerTypedAtItsRate()
{
    SimStore store;
    qint64 now = 1000;
    Modem modem(store, [&now] { return now; });
    modem.settings().latencyMs = 100;
    modem.settings().charsPerSecond = 20;
    modem.input("AT\r"); // answer CR LF O K CR LF, six characters
    const QList<QPair<qint64, QByteArray>> steps{
        {1000, ""},      {1099, ""},         {1149, ""},           {1150, "\r"},
        {1250, "\r\nO"}, {1399, "\r\nOK\r"}, {1400, "\r\nOK\r\n"}, {9000, "\r\nOK\r\n"}};
    for (const auto &[at, typed] : steps) {
        now = at;
        QCOMPARE(modem.typedOutput(), typed);
    }
    // The next command starts its own answer from nothing.
    modem.input("AT+CMGR=1\r");
    QCOMPARE(modem.typedOutput(), QByteArray());
}

void TestDevSimParts::encoders_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("septets");
    QTest::addColumn<int>("fillBits");
    QTest::addColumn<QByteArray>("packed");
    // The standard's worked example, then the extension table behind its
    // escape, and the text of a part behind a six-octet header (one fill bit).
    QTest::newRow("hellohello") << "hellohello" << QByteArray("hellohello") << 0
                                << QByteArray::fromHex("E8329BFD4697D9EC37");
    QTest::newRow("extension table")
        << QString::fromUtf8("€{}[]~\\|^\f")
        << QByteArray::fromHex("1B651B281B291B3C1B3E1B3D1B2F1B401B141B0A") << 0
        << QByteArray::fromHex("9BF206B5496D781BDFA6B7796D801BCA4601");
    QTest::newRow("default table")
        << QString::fromUtf8("@£$¥èÉÆ_ΔΩ¤¡ÄÑ§¿äöà")
        << QByteArray::fromHex("00010203041F1C11101524405B5D5F607B7C7F") << 0 << QByteArray();
    QTest::newRow("behind a header")
        << "hi" << QByteArray("hi") << 1 << QByteArray::fromHex("D069");
}

void TestDevSimParts::encoders()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, septets);
    QFETCH(int, fillBits);
    QFETCH(QByteArray, packed);
    QVERIFY(IsGsmWritable(text));
    QCOMPARE(ToGsm(text), septets);
    QCOMPARE(FromGsm(septets), text);
    if (!packed.isEmpty())
        QCOMPARE(PackSeptets(septets, fillBits), packed);
    QString back;
    QVERIFY(FromUcs2Hex(Hex(Ucs2Octets(text)), back));
    QCOMPARE(back, text);
}

void TestDevSimParts::messagesShownAsModemsShowThem_data()
{
    QTest::addColumn<QStringList>("controls"); // control commands, then AT commands after "|"
    QTest::addColumn<QString>("answer");       // to the last AT command
    const QString number = "number=+85291234567 time=24/01/02,10:20:30+32 ";
    const QString head =
        "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\",145,";
    const QString tail = "\r\n\r\nOK\r\n";
    QTest::newRow("flash message")
        << QStringList{"deliver " + number + "dcs=0x10 text=ALARM", "|", "AT+CMGR=1"}
        << head + "4,0,16,\"+85290000000\",145,5\r\nALARM" + tail;
    QTest::newRow("UCS2 class 0") << QStringList{"deliver " + number + "dcs=0x18 text=\\u6C34", "|",
                                                 "AT+CMGR=1"}
                                  << head + "4,0,24,\"+85290000000\",145,2\r\n6C34" + tail;
    QTest::newRow("8-bit data") << QStringList{"deliver " + number + "data=0102FF", "|",
                                               "AT+CMGR=1"}
                                << head + "4,0,4,\"+85290000000\",145,3\r\n0102FF" + tail;
    QTest::newRow("length in septets")
        << QStringList{"lengths septets", "deliver " + number + "text=\\u20AC5", "|", "AT+CMGR=1"}
        << head + "4,0,0,\"+85290000000\",145,3\r\n\u20AC5" + tail;
    QTest::newRow("alphanumeric sender")
        << QStringList{"deliver number=TAIPOWER time=24/01/02,10:20:30+32 text=ON", "|",
                       "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\",\"TAIPOWER\",,\"24/01/02,10:20:30+32\",208,4,0,0,"
           "\"+85290000000\",145,2\r\nON" +
               tail;
    // Part 2 of 2 in slot 1: "hello" behind its header, one fill bit.
    QTest::newRow("part of a longer message")
        << QStringList{"deliver " + number + "text=\"hello hello\" parts=2 ref=42 slots=2,1", "|",
                       "AT+CMGR=1"}
        << head + "68,0,0,\"+85290000000\",145,13\r\n0500032A0202" + Hex(PackSeptets(" hello", 1)) +
               tail;
    QTest::newRow("16-bit reference")
        << QStringList{"deliver " + number + "text=ABCD parts=2 ref=300 refbits=16 slots=1,-", "|",
                       "AT+CMGR=1"}
        << head + "68,0,0,\"+85290000000\",145,10\r\n060804012C0201" + Hex(PackSeptets("AB", 0)) +
               tail;
    QTest::newRow("factory profile: echo, PDU mode")
        << QStringList{"deliver " + number + "text=hello", "reset", "|", "AT+CMGR=1"}
        << "AT+CMGR=1\r\r\n+CMGR: "
           "0,,24\r\n07915892000000F0040B915892214365F700004210200102032305E8329BFD06" +
               tail;
    // Shapes of other modems and phones, written out from the standard.
    const QString alarm = "deliver " + number + "text=ALARM";
    const QString fields = "4,0,0,\"+85290000000\",145,5\r\nALARM" + tail;
    QTest::newRow("short headers whatever AT+CSDH says")
        << QStringList{"headers short", alarm, "|", "AT+CSDH=1", "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\"\r\nALARM" + tail;
    QTest::newRow("AT+CSDH=1 refused")
        << QStringList{"headers refused", "|", "AT+CSDH=1"} << "\r\nERROR\r\n";
    QTest::newRow("four-digit year, no zone")
        << QStringList{"stamps four-digit-year", alarm, "|", "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"2024/1/2,10:20:30\",145," + fields;
    QTest::newRow("a blank for the comma")
        << QStringList{"stamps blank", alarm, "|", "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"2024/01/02 10:20:30+32\",145," + fields;
    QTest::newRow("blanks after the commas")
        << QStringList{"spacing wide", alarm, "|", "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\", \"+85291234567\", , \"24/01/02,10:20:30+32\", 145, 4, 0, 0, "
           "\"+85290000000\", 145, 5\r\nALARM" +
               tail;
    QTest::newRow("no blank after the colon")
        << QStringList{"spacing tight", alarm, "|", "AT+CMGR=1"}
        << "\r\n+CMGR:\"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\",145," + fields;
    QTest::newRow("length one longer than the text")
        << QStringList{"lengths longer", alarm, "|", "AT+CMGR=1"}
        << head + "4,0,0,\"+85290000000\",145,6\r\nALARM" + tail;
    const QString report = "deliver number=+85291234567 kind=report mr=12 st=0 "
                           "time=24/01/02,10:20:30+32 discharge=24/01/02,10:20:35+32";
    QTest::newRow("status report")
        << QStringList{report, "|", "AT+CMGR=1"}
        << "\r\n+CMGR: \"REC UNREAD\",6,12,\"+85291234567\",145,\"24/01/02,10:20:30+32\","
           "\"24/01/02,10:20:35+32\",0" +
               tail;
    QTest::newRow("status report in PDU mode")
        << QStringList{report, "|", "AT+CMGF=0", "AT+CMGR=1"}
        << "\r\n+CMGR: 0,,25\r\n07915892000000F0060C0B915892214365F7421020010203234210200102"
           "532300" +
               tail;
    QTest::newRow("storage query without OK")
        << QStringList{"cpms-ok off", "|", "AT+CPMS?"}
        << "\r\n+CPMS: \"MT\",0,30,\"MT\",0,30,\"MT\",0,30\r\n";
    QTest::newRow("three memories refused")
        << QStringList{"memories 2", "|", "AT+CPMS=\"SM\",\"SM\",\"SM\""} << "\r\nERROR\r\n";
    QTest::newRow("no look past what comes before AT") << QStringList{"prefix strict", "|",
                                                                      "\xf7\x04"
                                                                      "AT"}
                                                       << "\r\nERROR\r\n";
    QTest::newRow("volunteered lines around an answer")
        << QStringList{"urc answers around", "|", "AT"}
        << "\r\n+CREG: 1\r\n\r\nOK\r\n\r\n^RSSI: 17\r\n";
    QTest::newRow("volunteered line inside the storage query")
        << QStringList{"urc answers inside", "|", "AT+CPMS?"}
        << "\r\n+CPMS: \"MT\",0,30,\"MT\",0,30,\"MT\",0,30\r\n\r\n+CREG: 1\r\n\r\nOK\r\n";
    QTest::newRow("new message indicated")
        << QStringList{"urc delivery on", "|", "AT", "!deliver " + number + "text=x slot=7"}
        << "\r\nOK\r\n\r\n+CMTI: \"SM\",7\r\n";
}

void TestDevSimParts::messagesShownAsModemsShowThem()
{
    QFETCH(QStringList, controls);
    Simulator sim(30, 1);
    bool modem = false;
    for (const QString &line : controls) {
        if (line == u"|") {
            modem = true;
        } else if (!modem || line.startsWith(u'!')) {
            const QString answer = sim.execute(line.mid(line.startsWith(u'!') ? 1 : 0));
            QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(answer));
        } else {
            sim.modem().input(line.toUtf8() + '\r');
        }
    }
    QTEST(sim.modem().answer(), "answer");
    QCOMPARE(sim.modem().typedOutput(), ToGsm(sim.modem().answer()));
}

QTEST_GUILESS_MAIN(TestDevSimParts)
#include "tst_devsimparts.moc"
