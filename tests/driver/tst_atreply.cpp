// The reply readers on their own: line-end counting, the final error line,
// when a growing +CMGR reply is complete, empty slots and storage counts, the
// network's registration and signal; and the user data readers: coding schemes, the user data header, septets.
#include "atreply.h"
#include "gsmcodemapfile.h"
#include "networkreply.h"
#include "smsdata.h"

#include <QTest>

using namespace quillet;

class TestATReply : public QObject
{
    Q_OBJECT
    GSMCodeMap m_map;

private slots:
    // Septets are counted through the code map, as the driver does.
    void initTestCase() { QVERIFY(LoadGSMCodeMap(m_map, QStringLiteral(QUILLET_GSMCODEMAP_FILE))); }
    void countSubString_data();
    void countSubString();
    void errorReply_data();
    void errorReply();
    void cmgrComplete_data();
    void cmgrComplete();
    void emptySlot_data();
    void emptySlot();
    void noMessage_data();
    void noMessage();
    void cpms_data();
    void cpms();
    void network_data();
    void network();
    void codingScheme_data();
    void codingScheme();
    void userDataHeader_data();
    void userDataHeader();
    void septets_data();
    void septets();
};

void TestATReply::countSubString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("part");
    QTest::addColumn<int>("count");
    QTest::newRow("empty text") << ""
                                << "\r\n"
                                << 0;
    QTest::newRow("empty part") << "abc"
                                << "" << 0;
    QTest::newRow("reply line ends") << "\r\n+CPIN: READY\r\n\r\nOK\r\n"
                                     << "\r\n"
                                     << 4;
    QTest::newRow("overlapping") << "aaaa"
                                 << "aa" << 3;
    QTest::newRow("at the very end") << "xxab"
                                     << "ab" << 1;
    QTest::newRow("single character at the end") << "abca"
                                                 << "a" << 2;
    QTest::newRow("none") << "abc"
                          << "d" << 0;
}

void TestATReply::countSubString()
{
    QFETCH(QString, text);
    QFETCH(QString, part);
    QTEST(int(CountSubString(text, part)), "count");
}

void TestATReply::errorReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("error");
    QTest::newRow("plain error") << "\r\nERROR\r\n" << true;
    QTest::newRow("message service error") << "\r\n+CMS ERROR: 321\r\n" << true;
    QTest::newRow("equipment error") << "\r\n+CME ERROR: 10\r\n" << true;
    QTest::newRow("error line still open") << "\r\nERROR" << false;
    QTest::newRow("error then a partial line") << "\r\nERROR\r\n+CM" << true;
    QTest::newRow("word inside a line") << "\r\nPUMP ERROR\r\n" << false;
    QTest::newRow("error line then OK")
        << "\r\n+CMGR: \"REC READ\",\"1\",,\"24/01/02,10:20:30+32\"\r\nERROR\r\n\r\nOK\r\n"
        << false;
    QTest::newRow("OK") << "\r\nOK\r\n" << false;
    QTest::newRow("lower case") << "\r\nerror\r\n" << false;
    QTest::newRow("error, then volunteered lines")
        << "\r\n+CMS ERROR: 321\r\n\r\n+CMTI: \"SM\",2\r\n\r\nRING\r\n"
        << true;
    QTest::newRow("OK, then a volunteered line") << "\r\nOK\r\n\r\n^MODE: 5,4\r\n" << false;
    QTest::newRow("empty") << "" << false;
}

void TestATReply::errorReply()
{
    QFETCH(QString, reply);
    QTEST(IsErrorReply(reply), "error");
}

void TestATReply::cmgrComplete_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("complete");
    const QString header =
        QStringLiteral("\r\n+CMGR: \"REC UNREAD\",\"+852\",,\"24/01/02,10:20:30+32\",145,4,0,0,"
                       "\"+85290000000\",145,");
    QTest::newRow("whole message") << header + "5\r\nHELLO\r\n\r\nOK\r\n" << true;
    QTest::newRow("a text line reads OK") << header + "9\r\nA\r\nOK\r\n" << false;
    QTest::newRow("body short of its length, OK behind it") << header + "9\r\nA\r\n\r\nOK\r\n"
                                                            << false;
    QTest::newRow("a text line reads ERROR") << header + "9\r\nA\r\nERROR\r\n" << false;
    QTest::newRow("body whole, OK missing") << header + "5\r\nHELLO\r\n" << false;
    QTest::newRow("header still open") << header.left(20) << false;
    QTest::newRow("UCS2 digits beyond the octet count")
        << header + "6\r\n004100420043\r\n\r\nOK\r\n"
        << true;
    QTest::newRow("empty slot header") << "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n" << true;
    QTest::newRow("error reply") << "\r\n+CMS ERROR: 321\r\n" << true;
    QTest::newRow("bare OK") << "\r\nOK\r\n" << true;
    QTest::newRow("unanswered so far") << "\r\n" << false;
    QTest::newRow("length in septets, escapes counted twice")
        << header + "4\r\n\u20AC\u20AC\r\n\r\nOK\r\n"
        << true;
    QTest::newRow("volunteered line behind the result")
        << header + "5\r\nHELLO\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n"
        << true;
    QTest::newRow("echo and volunteered line before the header")
        << "AT+CMGR=2\r\r\n+CREG: 1\r\n" + header.mid(2) + "5\r\nHELLO\r\n\r\nOK\r\n"
        << true;
    QTest::newRow("no blank line before the result") << header + "5\r\nHELLO\r\nOK\r\n" << true;
    QTest::newRow("error, then a volunteered line") << "\r\n+CMS ERROR: 321\r\n\r\nRING\r\n"
                                                    << true;
}

void TestATReply::cmgrComplete()
{
    QFETCH(QString, reply);
    QTEST(IsCMGRReplyComplete(reply, m_map), "complete");
    // Once it has stopped growing, a reply with its result is read as it is.
    const bool finished = QStringView(reply).endsWith(QLatin1String("OK\r\n")) ||
                          reply.contains(QLatin1String("ERROR: 321\r\n")) ||
                          reply.contains(QLatin1String("OK\r\n\r\n+CMTI"));
    QCOMPARE(IsCMGRReplyFinished(reply), finished);
}

void TestATReply::emptySlot_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty header") << "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n" << true;
    QTest::newRow("bare OK") << "\r\nOK\r\n" << true;
    QTest::newRow("a message")
        << "\r\n+CMGR: \"REC READ\",\"1\",,\"24/01/02,10:20:30+32\",145,4,0,0,\"2\",145,2\r\n"
           "OK\r\n\r\nOK\r\n"
        << false;
    QTest::newRow("error") << "\r\nERROR\r\n" << false;
    QTest::newRow("echo, volunteered line, OK") << "AT+CMGR=4\r\r\n+CMTI: \"SM\",4\r\n\r\nOK\r\n"
                                                << true;
}

void TestATReply::emptySlot()
{
    QFETCH(QString, reply);
    QTEST(IsEmptySlotReply(reply), "empty");
}

void TestATReply::noMessage_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("codes");
    QTest::addColumn<int>("kind");
    const int notThat = int(CMGRNoMessage::NotThat), empty = int(CMGRNoMessage::Empty),
              transient = int(CMGRNoMessage::Transient);
    QTest::newRow("invalid index") << "\r\n+CMS ERROR: 321\r\n" << true << empty;
    QTest::newRow("invalid index, words") << "\r\n+CMS ERROR: invalid memory index\r\n"
                                          << true << empty;
    QTest::newRow("equipment invalid index") << "\r\n+CME ERROR: 21\r\n" << true << empty;
    QTest::newRow("empty header") << "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n" << true << empty;
    QTest::newRow("bare OK") << "\r\nOK\r\n" << true << empty;
    QTest::newRow("plain error, no codes") << "\r\nERROR\r\n" << false << empty;
    QTest::newRow("plain error, codes on") << "\r\nERROR\r\n" << true << transient;
    QTest::newRow("SIM busy") << "\r\n+CMS ERROR: 314\r\n" << true << transient;
    QTest::newRow("please wait") << "\r\n+CMS ERROR: 515\r\n" << true << transient;
    QTest::newRow("SIM busy, no codes asked") << "\r\n+CMS ERROR: 314\r\n" << false << transient;
    QTest::newRow("equipment SIM busy") << "\r\n+CME ERROR: 14\r\n" << true << transient;
    QTest::newRow("a message")
        << "\r\n+CMGR: \"REC READ\",\"1\",,\"24/01/02,10:20:30+32\",145,4,0,0,\"2\",145,2\r\n"
           "OK\r\n\r\nOK\r\n"
        << true << notThat;
}

void TestATReply::noMessage()
{
    QFETCH(QString, reply);
    QFETCH(bool, codes);
    QTEST(int(ClassifyCMGRNoMessage(reply, codes)), "kind");
}

void TestATReply::cpms_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("used");
    QTest::addColumn<int>("total");
    QTest::newRow("three storages")
        << "\r\n+CPMS: \"MT\",12,55,\"MT\",12,55,\"MT\",12,55\r\n\r\nOK\r\n"
        << true << 12 << 55;
    QTest::newRow("two storages") << "\r\n+CPMS: \"SM\",3,30,\"SM\",3,30\r\n\r\nOK\r\n"
                                  << true << 3 << 30;
    QTest::newRow("blanks around numbers")
        << "+CPMS: \"MT\", 4 , 9 ,\"MT\",4,9\r\nOK" << true << 4 << 9;
    QTest::newRow("one storage") << "\r\n+CPMS: \"MT\",3,30\r\n\r\nOK\r\n" << false << 0 << 0;
    QTest::newRow("four storages")
        << "+CPMS: \"MT\",1,2,\"MT\",1,2,\"MT\",1,2,\"MT\",1,2\r\nOK" << false << 0 << 0;
    QTest::newRow("used not a number") << "+CPMS: \"MT\",a,30,\"MT\",3,30\r\nOK" << false << 0 << 0;
    QTest::newRow("negative used") << "+CPMS: \"MT\",-1,30,\"MT\",3,30\r\nOK" << false << 0 << 0;
    QTest::newRow("total beyond 16 bits")
        << "+CPMS: \"MT\",1,40000,\"MT\",3,30\r\nOK" << false << 0 << 0;
    QTest::newRow("largest 16-bit total")
        << "+CPMS: \"MT\",1,32767,\"MT\",3,30\r\nOK" << true << 1 << 32767;
    QTest::newRow("echo and volunteered lines around it")
        << "AT+CPMS?\r\r\n+CMTI: \"SM\",3\r\n\r\n+CPMS: \"SM\",3,30,\"SM\",3,30,\"SM\",3,30\r\n"
           "\r\n+CREG: 1,\"00AB\",\"1C2D\"\r\n\r\nOK\r\n"
        << true << 3 << 30;
    QTest::newRow("no +CPMS line") << "\r\n+CMTI: \"SM\",3,4,5,6,7\r\n\r\nOK\r\n"
                                   << false << 0 << 0;
}

// A row's reply is read as AT+CREG? or AT+CSQ by its first answer line;
// `value` is <stat>, or the signal in dBm (0: not known).
void TestATReply::network_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("CREG home") << "\r\n+CREG: 0,1\r\n\r\nOK\r\n" << true << 1;
    QTest::newRow("CREG n=2 with area and cell")
        << "+CREG: 2,5,\"1A2B\",\"01C3D4E5\",0\r\nOK" << true << 5;
    QTest::newRow("CREG volunteered stat in front is passed by")
        << "\r\n+CREG: 1\r\n\r\n+CREG: 1,2\r\n\r\nOK\r\n" << true << 2;
    QTest::newRow("CREG volunteered with area only") << "+CREG: 1,\"00AB\",\"1C2D\"\r\nOK"
                                                     << false << 0;
    QTest::newRow("CREG behind the final result") << "OK\r\n+CREG: 0,1\r\n" << false << 0;
    QTest::newRow("CREG refused") << "\r\nERROR\r\n" << false << 0;
    QTest::newRow("CSQ -73 dBm") << "\r\n+CSQ: 20,99\r\n\r\nOK\r\n" << true << -73;
    QTest::newRow("CSQ floor") << "+CSQ: 0,0\r\nOK" << true << -113;
    QTest::newRow("CSQ ceiling") << "+CSQ: 31,99\r\nOK" << true << -51;
    QTest::newRow("CSQ not known") << "+CSQ: 99,99\r\nOK" << true << 0;
    QTest::newRow("CSQ TD-SCDMA") << "+CSQ: 100,99\r\nOK" << true << -116;
    QTest::newRow("CSQ out of the table") << "+CSQ: 32,99\r\nOK" << true << 0;
    QTest::newRow("CSQ one field") << "+CSQ: 20\r\nOK" << false << 0;
    QTest::newRow("CSQ refused") << "+CME ERROR: 4\r\n" << false << 0;
}

void TestATReply::network()
{
    QFETCH(QString, reply);
    int value = 0;
    bool ok = false;
    if (reply.contains(QLatin1String("CSQ")) || reply.contains(QLatin1String("CME"))) {
        int rssi = -1, ber = -1;
        ok = ParseCSQReply(reply, rssi, ber);
        value = ok ? SignalDbm(rssi).value_or(0) : 0;
    } else {
        ok = ParseCREGQueryReply(reply, value);
        if (!ok)
            value = 0;
    }
    QTEST(ok, "ok");
    QTEST(value, "value");
}

void TestATReply::codingScheme_data()
{
    QTest::addColumn<int>("dcs");
    QTest::addColumn<int>("alphabet");
    QTest::addColumn<int>("messageClass");
    QTest::addColumn<bool>("compressed");
    const int gsm = int(SMSAlphabet::GSM7), data = int(SMSAlphabet::EightBit),
              ucs2 = int(SMSAlphabet::UCS2);
    QTest::newRow("00 default") << 0x00 << gsm << -1 << false;
    QTest::newRow("04 8-bit") << 0x04 << data << -1 << false;
    QTest::newRow("08 UCS2") << 0x08 << ucs2 << -1 << false;
    QTest::newRow("0C reserved alphabet") << 0x0C << gsm << -1 << false;
    QTest::newRow("03 class bits without meaning") << 0x03 << gsm << -1 << false;
    QTest::newRow("10 flash") << 0x10 << gsm << 0 << false;
    QTest::newRow("11 class 1") << 0x11 << gsm << 1 << false;
    QTest::newRow("16 8-bit class 2") << 0x16 << data << 2 << false;
    QTest::newRow("18 UCS2 class 0") << 0x18 << ucs2 << 0 << false;
    QTest::newRow("20 compressed") << 0x20 << gsm << -1 << true;
    QTest::newRow("3A compressed UCS2 class 2") << 0x3A << ucs2 << 2 << true;
    QTest::newRow("48 automatic deletion, UCS2") << 0x48 << ucs2 << -1 << false;
    QTest::newRow("85 reserved group") << 0x85 << gsm << -1 << false;
    QTest::newRow("95 with a header structure, 8-bit class 1") << 0x95 << data << 1 << false;
    QTest::newRow("C8 waiting, discard") << 0xC8 << gsm << -1 << false;
    QTest::newRow("D9 waiting, store") << 0xD9 << gsm << -1 << false;
    QTest::newRow("E0 waiting, UCS2") << 0xE0 << ucs2 << -1 << false;
    QTest::newRow("F1 GSM class 1") << 0xF1 << gsm << 1 << false;
    QTest::newRow("F4 8-bit no class meaning given") << 0xF4 << data << 0 << false;
    QTest::newRow("FB reserved bit 3, GSM class 3") << 0xFB << gsm << 3 << false;
}

void TestATReply::codingScheme()
{
    QFETCH(int, dcs);
    const CodingScheme scheme = DecodeCodingScheme(quint8(dcs));
    QTEST(int(scheme.alphabet), "alphabet");
    QTEST(scheme.messageClass, "messageClass");
    QTEST(scheme.compressed, "compressed");
}

void TestATReply::userDataHeader_data()
{
    QTest::addColumn<QByteArray>("userData");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("concat"); // "bits reference part/parts", empty: none
    QTest::newRow("8-bit reference")
        << QByteArray::fromHex("050003aa0302414243") << true << 6 << "8 170 2/3";
    QTest::newRow("16-bit reference")
        << QByteArray::fromHex("0608041234020141") << true << 7 << "16 4660 1/2";
    QTest::newRow("other element first")
        << QByteArray::fromHex("0b05040b8423f00003110202") << true << 12 << "8 17 2/2";
    QTest::newRow("no concatenation") << QByteArray::fromHex("0605040b8423f0") << true << 7 << "";
    QTest::newRow("part 0 is ignored") << QByteArray::fromHex("0500030a0300") << true << 6 << "";
    QTest::newRow("part beyond count is ignored")
        << QByteArray::fromHex("0500030a0204") << true << 6 << "";
    QTest::newRow("wrong element length is skipped")
        << QByteArray::fromHex("06000401020304") << true << 7 << "";
    QTest::newRow("header longer than the data")
        << QByteArray::fromHex("09000301") << false << 0 << "";
    QTest::newRow("element past the header")
        << QByteArray::fromHex("03000501020304") << false << 0 << "";
    QTest::newRow("identifier without its length")
        << QByteArray::fromHex("0100") << false << 0 << "";
    QTest::newRow("empty") << QByteArray() << false << 0 << "";
}

void TestATReply::userDataHeader()
{
    QFETCH(QByteArray, userData);
    UserDataHeader header;
    QTEST(ParseUserDataHeader(userData, header), "ok");
    QTEST(header.length, "length");
    const Concatenation &c = header.concatenation;
    const QString concat = c.isPart() ? QStringLiteral("%1 %2 %3/%4")
                                            .arg(c.wideReference ? 16 : 8)
                                            .arg(c.reference)
                                            .arg(c.part)
                                            .arg(c.parts)
                                      : QString();
    QTEST(concat, "concat");
}

void TestATReply::septets_data()
{
    QTest::addColumn<QByteArray>("octets");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("septets");
    // The worked example of the standard: "hellohello" in nine octets.
    QTest::newRow("hellohello") << QByteArray::fromHex("E8329BFD4697D9EC37") << 10 << true
                                << QByteArray("hellohello");
    QTest::newRow("eight septets fill seven octets")
        << QByteArray::fromHex("C3E170381C0E8F") << 8 << true << QByteArray("CCCCCCCG");
    QTest::newRow("seven septets, spare bits")
        << QByteArray::fromHex("C3E170381C0E01") << 7 << true << QByteArray("CCCCCCC");
    QTest::newRow("too few octets") << QByteArray::fromHex("E832") << 3 << false << QByteArray();
    QTest::newRow("more octets than septets need")
        << QByteArray::fromHex("E8329B00") << 3 << false << QByteArray();
    QTest::newRow("none") << QByteArray() << 0 << true << QByteArray();
}

void TestATReply::septets()
{
    QFETCH(QByteArray, octets);
    QFETCH(int, count);
    QByteArray septets;
    QTEST(UnpackSeptets(octets, count, septets), "ok");
    QTEST(septets, "septets");
}

void TestATReply::cpms()
{
    QFETCH(QString, reply);
    qint16 used = 0, total = 0;
    QTEST(ParseCPMSQueryReply(reply, used, total), "ok");
    QTEST(int(used), "used");
    QTEST(int(total), "total");
}

QTEST_GUILESS_MAIN(TestATReply)
#include "tst_atreply.moc"
