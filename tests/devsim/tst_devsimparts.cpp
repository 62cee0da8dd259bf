// The simulator's pure parts: its line syntax and how it finds requests in
// the byte stream.

#include "frames.h"
#include "gsmtext.h"
#include "messageline.h"
#include "modem.h"

#include <QTest>

using namespace devsim;

class TestDevSimParts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
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
};

void TestDevSimParts::initTestCase()
{
    QString error;
    QVERIFY2(LoadCodeMap(QStringLiteral(QUILLET_GSMCODEMAP_FILE), error), qPrintable(error));
}

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
    QTest::newRow("pdu mode refused")
        << QStringList{"AT+CMEE=2", "AT+CMGF=0"} << "\r\n+CMS ERROR: operation not supported\r\n"
        << all;
    QTest::newRow("unknown command") << QStringList{"AT+CFUN=1"} << error << all;
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

QTEST_GUILESS_MAIN(TestDevSimParts)
#include "tst_devsimparts.moc"
