// The reply readers on their own: line-end counting, the final error line,
// when a growing +CMGR reply is complete, empty slots and storage counts.
#include "atreply.h"

#include <QTest>

using namespace quillet;

class TestATReply : public QObject
{
    Q_OBJECT
private slots:
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
}

void TestATReply::cmgrComplete()
{
    QFETCH(QString, reply);
    QTEST(IsCMGRReplyComplete(reply), "complete");
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
