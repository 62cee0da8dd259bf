// The driver object through a scripted device: creation, opening the port,
// the status queries, the SIM store, sending, and the refusal of a second
// exchange while one is waiting.
#include "boxrecorder.h"
#include "driverrig.h"
#include "gsmcodemap.h"

#include <QTest>
#include <QTimer>

using namespace quillet;
using quillet::test::DriverRig;
using quillet::test::TraceRecorder;

namespace {

using Stages = QList<QByteArray>;

const QByteArray kOKReply = "\r\nOK\r\n";
const QByteArray kCMGF = "AT+CMGF=1\r";
const QByteArray kCSMP0 = "AT+CSMP=1,167,0,0\r";
const QByteArray kCSMP8 = "AT+CSMP=1,167,0,8\r";
const QByteArray kCMGS = "AT+CMGS=\"+85291234567\"\r";
const QByteArray kBreak = "\x1b\r";
const QByteArray kSelect = "AT+CPMS=\"MT\",\"MT\",\"MT\"\r";
const QByteArray kQuery = "AT+CPMS?\r";
// What Initialize sends, and a modem that lost its profile is sent again.
const QList<QByteArray> kProfile{"AT+CMEE=1\r", "ATE0\r", "AT+CMGF=1\r", "AT+CSDH=1\r",
                                 "AT+CSCS=\"GSM\"\r"};
const QList<QByteArray> kRestore{"ATE0\r", "AT+CMEE=1\r", "AT+CMGF=1\r", "AT+CSDH=1\r",
                                 "AT+CSCS=\"GSM\"\r"};

QByteArray cmgr(const QByteArray &header, const QByteArray &body)
{
    return "\r\n+CMGR: " + header + "\r\n" + body + "\r\n\r\nOK\r\n";
}

QByteArray received(const QByteArray &body, int length = -1, const QByteArray &dcs = "0")
{
    return cmgr("\"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\",145,4,0," + dcs +
                    ",\"+85290000000\",145," +
                    QByteArray::number(length < 0 ? body.size() : length),
                body);
}

} // namespace

class TestCommSMS : public QObject
{
    Q_OBJECT
private slots:
    void creation();
    void creationWithoutCodeMap();
    void errorMessages_data();
    void errorMessages();
    void initialize();
    void initializeFailures();
    void initializeInvalidPortEnds();
    void terminateNeverOpened();
    void status_data();
    void status();
    void statusAsksEveryTime();
    void isConnected();
    void productSN_data();
    void productSN();
    void counts_data();
    void counts();
    void readSMS_data();
    void readSMS();
    void storages_data();
    void storages();
    void linkDetection_data();
    void linkDetection();
    void profileRestored_data();
    void profileRestored();
    void deleteSMS_data();
    void deleteSMS();
    void sendSMSChecks_data();
    void sendSMSChecks();
    void sendSMSFailures_data();
    void sendSMSFailures();
    void sendSMSRetriesText();
    void nestedCallRefused_data();
    void nestedCallRefused();
    void terminateDuringExchange_data();
    void terminateDuringExchange();
};

void TestCommSMS::creation()
{
    test::BoxRecorder boxes;
    SetCommDiagnostics(true);
    DriverRig rig(false);
    QVERIFY(!CommDiagnostics());
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(rig.sms->CommTimeout(), qint16(1));
    QCOMPARE(rig.sms->CommRetry(), qint16(3));
    QCOMPARE(rig.sms->ErrorCode(), qint16(0));
    QCOMPARE(rig.sms->ModemType(), QStringLiteral("ModBus"));
    QVERIFY(!rig.sms->IsCommPortOpen());
    QVERIFY(!rig.sms->IsBusy());
}

void TestCommSMS::creationWithoutCodeMap()
{
    test::BoxRecorder boxes;
    DriverRig rig(false, QStringLiteral("no-such-folder/GSMCodeMap.cod"));
    QVERIFY(boxes.count() >= 1);
    QCOMPARE(boxes.last().title, QStringLiteral("引用失敗"));
    QCOMPARE(boxes.last().text,
             QStringLiteral("ActiveX 引用失敗, 請檢查 [GSMCodeMap.cod] 檔案是否存在!"));
    QCOMPARE(boxes.last().icon, BoxIcon::Critical);
    QCOMPARE(rig.sms->ModemType(), QString());
    QCOMPARE(rig.dev->closeCount, 0);
}

void TestCommSMS::errorMessages_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Success.";
    QTest::newRow("1") << 1 << "Fail! Communication error.";
    QTest::newRow("2") << 2 << "Fail! Queue is full.";
    QTest::newRow("3") << 3 << "Fail! No short message.";
    QTest::newRow("4") << 4 << "Fail! No Telephone number.";
    QTest::newRow("5") << 5 << "Fail! Memory is full.";
    QTest::newRow("6") << 6 << "Fail! The short message is blank.";
    QTest::newRow("7") << 7 << "Fail! The telephone number is blank.";
    QTest::newRow("8") << 8 << "Fail! The shot message is too long.";
    QTest::newRow("9") << 9 << "Fail! The modem model name is unknown.";
    QTest::newRow("-1") << -1 << "Fail! Unknown error.";
    QTest::newRow("10") << 10 << "Fail! The SIM is busy, try again later.";
    QTest::newRow("11") << 11 << "Fail! The short message cannot be read.";
    QTest::newRow("12") << 12 << "Fail! Unknown error.";
}

void TestCommSMS::errorMessages()
{
    QFETCH(int, code);
    QTEST(CommSMS::GetErrorText(qint16(code)), "text");
}

void TestCommSMS::initialize()
{
    DriverRig rig(false);
    rig.sms->setLinkMode(LinkMode::Device);
    rig.dev->script("AT+CMEE=1\r", Stages{"\r\n", "\r\nOK\r\n"});
    QVERIFY(rig.sms->Initialize(qint16(1), QStringLiteral("19200,E,7,2")));
    QVERIFY(rig.sms->IsCommPortOpen());
    QCOMPARE(rig.dev->openedPaths, QStringList{"/dev/ttyS0"});
    QCOMPARE(rig.dev->openedSettings.first().baudRate, 19200);
    QCOMPARE(rig.dev->openedSettings.first().parity, QSerialPort::EvenParity);
    // Numeric errors, then the modes the readers rely on.
    QCOMPARE(rig.dev->atTexts, kProfile);
    QCOMPARE(rig.dev->written.last(), QByteArray::fromHex("f70400000001255c"));
    QCOMPARE(rig.sms->DeviceType(), QStringLiteral("40"));
    QCOMPARE(rig.sms->ErrorCode(), qint16(0));

    // Again on the open port, by device path: closed and reopened.
    rig.dev->registers[0] = 0x4100;
    QVERIFY(rig.sms->Initialize(QStringLiteral("/dev/pts/9"), QStringLiteral("9600,N,8,1")));
    QCOMPARE(rig.dev->closeCount, 1);
    QCOMPARE(rig.dev->openedPaths.last(), QStringLiteral("/dev/pts/9"));
    QCOMPARE(rig.sms->DeviceType(), QStringLiteral("41"));

    // The mode switch answered with an error still completes the exchange.
    rig.dev->script("AT+CMEE=1\r", "\r\nERROR\r\n");
    QVERIFY(rig.sms->Initialize(QStringLiteral("COM3"), QStringLiteral("9600,N,8,1")));
    QCOMPARE(rig.dev->openedPaths.last(), QStringLiteral("/dev/ttyS2"));
}

void TestCommSMS::initializeFailures()
{
    {
        DriverRig rig(false);
        rig.dev->openResult = false;
        rig.sms->setCommRetry(5);
        rig.sms->setCommTimeout(4);
        QVERIFY(!rig.sms->Initialize(qint16(2), QStringLiteral("9600,N,8,1")));
        QCOMPARE(rig.sms->ErrorCode(), qint16(1));
        QCOMPARE(rig.sms->CommRetry(), qint16(3));
        QCOMPARE(rig.sms->CommTimeout(), qint16(1));
        QVERIFY(rig.dev->written.isEmpty());
    }
    {
        // The modem stays silent: one attempt of one second whatever the
        // driver's own timeout, no device type query, the port left open.
        DriverRig rig(false);
        rig.sms->setLinkMode(LinkMode::Device);
        rig.sms->setCommTimeout(5);
        QVERIFY(!rig.sms->Initialize(qint16(1), QStringLiteral("9600,N,8,1")));
        QVERIFY(rig.sms->IsCommPortOpen());
        QCOMPARE(rig.dev->atTexts.size(), 1);
        QCOMPARE(rig.dev->polls, 13);
        QCOMPARE(rig.dev->registerReads, 0);
        QCOMPARE(rig.sms->ErrorCode(), qint16(1));
    }
}

void TestCommSMS::initializeInvalidPortEnds()
{
    test::BoxRecorder boxes;
    test::TerminateRecorder terminate;
    DriverRig rig(false);
    QVERIFY(!rig.sms->Initialize(qint16(0), QStringLiteral("9600,N,8,1")));
    QCOMPARE(terminate.count(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Communicaiton Error"));
    QVERIFY(rig.dev->openedPaths.isEmpty());
}

void TestCommSMS::terminateNeverOpened()
{
    DriverRig rig(false);
    rig.sms->Terminate();
    QCOMPARE(rig.dev->closeCount, 0);
    rig.dev->script("AT+CMEE=1\r", kOKReply);
    QVERIFY(rig.sms->Initialize(qint16(1), QStringLiteral("9600,N,8,1")));
    rig.sms->Terminate();
    QVERIFY(!rig.sms->IsCommPortOpen());
    QCOMPARE(rig.dev->closeCount, 1);
}

void TestCommSMS::status_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("sends");

    QTest::newRow("ready") << QByteArray("\r\n+CPIN: READY\r\n\r\nOK\r\n") << 0 << 1;
    QTest::newRow("waiting for the PIN")
        << QByteArray("\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n") << -1 << 3;
    QTest::newRow("SIM missing") << QByteArray("\r\n+CME ERROR: 10\r\n") << -1 << 1;
    QTest::newRow("READY without its line end") << QByteArray("\r\n+CPIN: READY") << -1 << 3;
    QTest::newRow("READY but no +CPIN") << QByteArray("\r\nREADY\r\n") << -1 << 1;
    QTest::newRow("silent modem") << QByteArray() << -1 << 3;
}

void TestCommSMS::status()
{
    QFETCH(QByteArray, reply);
    DriverRig rig;
    if (!reply.isEmpty())
        rig.dev->script("AT+CPIN?\r", reply);
    QTEST(int(rig.sms->Status()), "status");
    QTEST(int(rig.dev->atTexts.size()), "sends");
}

void TestCommSMS::statusAsksEveryTime()
{
    DriverRig rig;
    rig.dev->script("AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    QCOMPARE(rig.sms->Status(), qint16(0));
    QCOMPARE(rig.sms->Status(), qint16(0));
    QCOMPARE(rig.dev->atTexts.size(), 2);
}

void TestCommSMS::isConnected()
{
    DriverRig rig;
    QVERIFY(rig.sms->IsConnected());
    QCOMPARE(rig.dev->written, QList<QByteArray>{QByteArray::fromHex("f70400060001c55d")});
    QCOMPARE(rig.sms->ErrorCode(), qint16(0));

    rig.dev->answerRegisters = false;
    QVERIFY(!rig.sms->IsConnected());
    QCOMPARE(rig.sms->ErrorCode(), qint16(1));
}

void TestCommSMS::productSN_data()
{
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("serial");
    QTest::newRow("documented example")
        << QList<int>{0x0102, 0x0304, 0x0506, 0x0708} << true << "07-08-0506-030401-02";
    QTest::newRow("leading zeros and FF")
        << QList<int>{0x0AFF, 0x00F0, 0x0B0C, 0xFF0A} << true << "FF-0A-0B0C-00F00A-FF";
    QTest::newRow("no answer") << QList<int>{1, 2, 3, 4} << false << "";
}

void TestCommSMS::productSN()
{
    QFETCH(QList<int>, registers);
    QFETCH(bool, answers);
    DriverRig rig;
    for (int i = 0; i < 4; ++i)
        rig.dev->registers[size_t(2 + i)] = quint16(registers[i]);
    rig.dev->answerRegisters = answers;
    // A failed read leaves the code of the last operation alone.
    rig.dev->script("AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    rig.sms->Status();
    QString serial = QStringLiteral("stale");
    QCOMPARE(rig.sms->ReadProductSNFromDevice(serial), answers);
    QTEST(serial, "serial");
    QCOMPARE(rig.dev->written.last().left(6), QByteArray::fromHex("f70400020004"));
    QCOMPARE(rig.sms->ErrorCode(), qint16(0));
}

void TestCommSMS::counts_data()
{
    QTest::addColumn<QByteArray>("select");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("max");

    const QByteArray selected = "\r\n+CPMS: 12,55,12,55,12,55\r\n\r\nOK\r\n";
    QTest::newRow("three storages")
        << selected << QByteArray("\r\n+CPMS: \"MT\",12,55,\"MT\",12,55,\"MT\",12,55\r\n\r\nOK\r\n")
        << true << 0 << 12 << 55;
    QTest::newRow("two storages") << selected
                                  << QByteArray("\r\n+CPMS: \"MT\",0,30,\"MT\",0,30\r\n\r\nOK\r\n")
                                  << true << 0 << 0 << 30;
    QTest::newRow("one storage") << selected << QByteArray("\r\n+CPMS: \"MT\",3,30\r\n\r\nOK\r\n")
                                 << false << -1 << 0 << 0;
    QTest::newRow("count not a number")
        << selected << QByteArray("\r\n+CPMS: \"MT\",x,30,\"MT\",x,30\r\n\r\nOK\r\n") << false << -1
        << 0 << 0;
    QTest::newRow("count beyond 16 bits")
        << selected << QByteArray("\r\n+CPMS: \"MT\",70000,30,\"MT\",3,30\r\n\r\nOK\r\n") << false
        << -1 << 0 << 0;
    QTest::newRow("storage refused")
        << QByteArray("\r\n+CMS ERROR: 302\r\n") << QByteArray() << false << 1 << 0 << 0;
    QTest::newRow("storage unanswered") << QByteArray() << QByteArray() << false << 1 << 0 << 0;
    QTest::newRow("query unanswered") << selected << QByteArray() << false << 1 << 0 << 0;
    QTest::newRow("query refused")
        << selected << QByteArray("\r\n+CMS ERROR: 500\r\n") << false << -1 << 0 << 0;
    QTest::newRow("volunteered lines inside the query")
        << selected
        << QByteArray("\r\n+CPMS: \"MT\",4,30,\"MT\",4,30,\"MT\",4,30\r\n\r\n+CMTI: \"SM\",4\r\n"
                      "\r\nOK\r\n\r\n+CREG: 1,\"00AB\",\"1C2D\"\r\n")
        << true << 0 << 4 << 30;
}

void TestCommSMS::counts()
{
    QFETCH(QByteArray, select);
    QFETCH(QByteArray, query);
    QFETCH(bool, result);
    QFETCH(int, errorCode);

    DriverRig rig;
    if (!select.isEmpty())
        rig.dev->script(kSelect, select);
    if (!query.isEmpty())
        rig.dev->script(kQuery, query);
    qint16 count = -5;
    QCOMPARE(rig.sms->GetSMSCountFromSIM(count), result);
    QCOMPARE(rig.sms->ErrorCode(), qint16(errorCode));
    QTEST(int(count), "count");
    qint16 max = -5;
    QCOMPARE(rig.sms->GetSMSMaxCountFromSIM(max), result);
    QCOMPARE(rig.sms->ErrorCode(), qint16(errorCode));
    QTEST(int(max), "max");
    QCOMPARE(rig.dev->atTexts.first(), kSelect);
}

void TestCommSMS::readSMS_data()
{
    QTest::addColumn<QList<Stages>>("scripts");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("sends");
    QTest::addColumn<QString>("sms");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QDateTime>("date");

    const QDateTime stamp(QDate(2024, 1, 2), QTime(10, 20, 30));
    using S = QList<Stages>;
    QTest::newRow("received") << S{{received("ALARM PUMP 1")}} << true << 0 << 1 << "ALARM PUMP 1"
                              << "UNREAD" << stamp;
    QTest::newRow("text says ERROR")
        << S{{received("PUMP ERROR")}} << true << 0 << 1 << "PUMP ERROR"
        << "UNREAD" << stamp;
    const QByteArray lines = received("A\r\nOK\r\nERROR\r\nB");
    const qsizetype afterOK = lines.indexOf("OK\r\nERROR") + 4;
    const qsizetype afterError = lines.indexOf("ERROR\r\nB") + 7;
    QTest::newRow("text lines OK and ERROR arrive in pieces")
        << S{{lines.left(afterOK), lines.left(afterError), lines}} << true << 0 << 1
        << "A\r\nOK\r\nERROR\r\nB"
        << "UNREAD" << stamp;
    QTest::newRow("text with quotes")
        << S{{received("Tank \"B\" low, \"C\" ok")}} << true << 0 << 1 << "Tank \"B\" low, \"C\" ok"
        << "UNREAD" << stamp;
    QTest::newRow("stored outgoing")
        << S{{cmgr("\"STO UNSENT\",\"+85291234567\",,145,17,0,0,167,\"+85290000000\",145,3",
                   "ABC")}}
        << true << 0 << 1 << "ABC"
        << "UNSENT" << ZeroDate();
    QTest::newRow("UCS2") << S{{received("004100420043", 6, "8")}} << true << 0 << 1 << "ABC"
                          << "UNREAD" << stamp;
    // One escaped character, two septets: a length that counts septets is
    // complete as soon as the result is there.
    QTest::newRow("length in septets")
        << S{{received("COST \x1b\x65 5", 8)}} << true << 0 << 1 << "COST € 5"
        << "UNREAD" << stamp;
    QTest::newRow("volunteered lines before and after")
        << S{{"\r\n+CMTI: \"SM\",3\r\n" + received("ALARM") + "\r\n^RSSI: 17\r\nRING\r\n"}} << true
        << 0 << 1 << "ALARM"
        << "UNREAD" << stamp;
    QTest::newRow("8-bit data") << S{{received("0102FF", 3, "4")}} << true << 0 << 1
                                << "[8-bit] 0102FF"
                                << "UNREAD" << stamp;
    QTest::newRow("empty slot, error reply")
        << S{{"\r\n+CMS ERROR: 321\r\n"}} << false << 3 << 1 << ""
        << "" << QDateTime();
    QTest::newRow("empty slot, empty header")
        << S{{"\r\n+CMGR: 0,,0\r\n\r\nOK\r\n"}} << false << 3 << 1 << ""
        << "" << QDateTime();
    QTest::newRow("empty slot, bare OK") << S{{"\r\nOK\r\n"}} << false << 3 << 1 << ""
                                         << "" << QDateTime();
    // Its result came: taken as it stands once the time is up, not asked
    // for nine times.
    QTest::newRow("text shorter than its length, taken when the time is up")
        << S{{received("ALARM", 6)}} << true << 0 << 1 << "ALARM"
        << "UNREAD" << stamp;
    // A whole reply that cannot be read costs one exchange, however often
    // it would be asked again: the caller decides what to make of it.
    QTest::newRow("compressed text") << S{{received("0A0B", 2, "36")}} << false << 11 << 1 << ""
                                     << "UNREAD" << QDateTime();
    QTest::newRow("silent modem") << S{} << false << 1 << 9 << ""
                                  << "" << QDateTime();
}

void TestCommSMS::readSMS()
{
    QFETCH(QList<Stages>, scripts);
    QFETCH(bool, result);
    QFETCH(int, errorCode);

    DriverRig rig;
    for (const Stages &s : scripts)
        rig.dev->script("AT+CMGR=12\r", s);
    QDateTime date;
    QString sms = QStringLiteral("stale"), phone = QStringLiteral("stale"), status;
    const qint64 start = rig.dev->clockMs;
    QCOMPARE(rig.sms->ReadSMSFromSIM(qint16(12), date, sms, phone, status), result);
    // A message read costs no timeout, unless it waits for its length.
    if (result && !QByteArray(QTest::currentDataTag()).contains("when the time is up"))
        QVERIFY2(rig.dev->clockMs - start < 1000,
                 qPrintable(QString::number(rig.dev->clockMs - start)));
    QCOMPARE(rig.sms->ErrorCode(), qint16(errorCode));
    QTEST(int(rig.dev->atTexts.size()), "sends");
    QTEST(sms, "sms");
    QTEST(status, "status");
    QCOMPARE(phone, result ? QStringLiteral("+85291234567") : QString());
    if (result)
        QTEST(date, "date");
}

void TestCommSMS::storages_data()
{
    QTest::addColumn<QList<QByteArray>>("refused"); // selections answered with an error
    QTest::addColumn<QByteArray>("taken");
    QTest::addColumn<QByteArray>("query"); // the answer to AT+CPMS?
    auto select = [](const char *memory, int count) {
        return "AT+CPMS=" + QList<QByteArray>(count, '"' + QByteArray(memory) + '"').join(',') +
               '\r';
    };
    const QByteArray answer = "\r\n+CPMS: \"SM\",2,20,\"SM\",2,20,\"SM\",2,20\r\n";
    QTest::newRow("no MT") << QList<QByteArray>{select("MT", 3), select("MT", 2), select("MT", 1)}
                           << select("SM", 3) << answer + "\r\nOK\r\n";
    QTest::newRow("one memory") << QList<QByteArray>{select("MT", 3), select("MT", 2)}
                                << select("MT", 1) << answer + "\r\nOK\r\n";
    QTest::newRow("query ends with its line") << QList<QByteArray>{} << kSelect << answer;
}

void TestCommSMS::storages()
{
    // What a modem takes is found once and kept: the refused selections are
    // not tried at every count, and a query answer without OK is read when
    // the time is up the first time, as soon as its line is whole after.
    QFETCH(QList<QByteArray>, refused);
    QFETCH(QByteArray, taken);
    QFETCH(QByteArray, query);
    DriverRig rig;
    for (const QByteArray &command : refused)
        rig.dev->script(command, "\r\n+CMS ERROR: 302\r\n");
    rig.dev->script(taken, "\r\n+CPMS: 2,20,2,20,2,20\r\n\r\nOK\r\n");
    rig.dev->script(kQuery, query);
    qint16 count = 0, max = 0;
    QVERIFY(rig.sms->GetSMSCountFromSIM(count));
    QCOMPARE(rig.dev->atTexts, (refused + QList<QByteArray>{taken, kQuery}));
    const qint64 start = rig.dev->clockMs;
    QVERIFY(rig.sms->GetSMSMaxCountFromSIM(max));
    QVERIFY(rig.dev->clockMs - start < 1000);
    QCOMPARE(rig.dev->atTexts.mid(refused.size() + 2), (QList<QByteArray>{taken, kQuery}));
    QCOMPARE(count, qint16(2));
    QCOMPARE(max, qint16(20));
}

void TestCommSMS::linkDetection_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("plainModemThere");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QByteArray>("firstWrite");
    const QByteArray typeQuery = QByteArray::fromHex("f70400000001255c");
    const int autoMode = int(LinkMode::Auto), device = int(LinkMode::Device),
              modem = int(LinkMode::Modem);
    QTest::newRow("auto, device") << autoMode << false << true << false << typeQuery;
    QTest::newRow("auto, plain modem") << autoMode << true << true << true << typeQuery;
    QTest::newRow("device forced, plain modem")
        << device << true << false << false << QByteArray("AT+CMEE=1\r").prepend("");
    QTest::newRow("modem forced, plain modem")
        << modem << true << true << true << QByteArray("AT+CMEE=1\r");
    QTest::newRow("modem forced, device")
        << modem << false << false << true << QByteArray("AT+CMEE=1\r");
}

void TestCommSMS::linkDetection()
{
    QFETCH(int, mode);
    QFETCH(bool, plainModemThere);
    QFETCH(bool, result);
    QFETCH(bool, plain);
    QFETCH(QByteArray, firstWrite);

    DriverRig rig(false);
    rig.sms->setLinkMode(LinkMode(mode));
    rig.dev->direct = plainModemThere; // frames are noise to a plain modem
    rig.dev->script("AT\r", kOKReply);
    for (const QByteArray &command : kProfile)
        rig.dev->script(command, kOKReply);
    QCOMPARE(rig.sms->Initialize(qint16(1), QStringLiteral("9600,N,8,1")), result);
    QCOMPARE(rig.sms->IsPlainModem(), plain);
    if (mode == int(LinkMode::Device))
        QCOMPARE(rig.dev->written.first().mid(5, 10), firstWrite);
    else
        QCOMPARE(rig.dev->written.first(), firstWrite);
    if (!result)
        return;
    const QList<QByteArray> sent = rig.dev->atTexts.mid(rig.dev->atTexts.indexOf(kProfile.first()));
    QCOMPARE(sent, kProfile);

    // A plain modem has no serial number to ask for, and is asked nothing.
    const qsizetype writes = rig.dev->written.size();
    QString serial = QStringLiteral("stale");
    QCOMPARE(rig.sms->ReadProductSNFromDevice(serial), !plain);
    if (plain) {
        QVERIFY(serial.isEmpty());
        QCOMPARE(rig.dev->written.size(), writes);
        QVERIFY(rig.sms->IsConnected()); // "AT" answered
        QCOMPARE(rig.dev->written.last(), QByteArray("AT\r"));
    }
}

void TestCommSMS::profileRestored_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("reads");
    // Echo on: the message is read, and the profile set again behind it.
    QTest::newRow("echo") << "AT+CMGR=12\r" + received("ALARM") << 1;
    QTest::newRow("PDU mode") << QByteArray(
                                     "\r\n+CMGR: 0,,23\r\n0791448720003023240DD0E474D81C0EBB0100"
                                     "00111011315214000BE474D81C0EBB5DE3771B\r\n\r\nOK\r\n")
                              << 2;
    QTest::newRow("short header")
        << QByteArray("\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\"\r\n"
                      "ALARM\r\n\r\nOK\r\n")
        << 2;
}

void TestCommSMS::profileRestored()
{
    QFETCH(QByteArray, first);
    QFETCH(int, reads);
    // The modem restarted with its factory profile while the logger was online.
    DriverRig rig;
    rig.dev->script("AT+CMGR=12\r", first);
    rig.dev->script("AT+CMGR=12\r", received("ALARM"));
    for (const QByteArray &command : kRestore)
        rig.dev->script(command, kOKReply);
    SIMMessage message;
    QVERIFY(rig.sms->ReadSIMMessage(qint16(12), message));
    QCOMPARE(message.text, QStringLiteral("ALARM"));
    QCOMPARE(rig.dev->atTexts.count("AT+CMGR=12\r"), reads);
    const qsizetype restored = rig.dev->atTexts.indexOf(kRestore.first());
    QVERIFY(restored > 0);
    QCOMPARE(rig.dev->atTexts.mid(restored, kRestore.size()), kRestore);

    // Once set, it stays: the next read asks nothing else.
    const qsizetype sent = rig.dev->atTexts.size();
    QVERIFY(rig.sms->ReadSIMMessage(qint16(12), message));
    QCOMPARE(rig.dev->atTexts.size(), sent + 1);
}

void TestCommSMS::deleteSMS_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<int>("sends");
    QTest::newRow("deleted") << QByteArray("\r\nOK\r\n") << true << 0 << 1;
    QTest::newRow("refused") << QByteArray("\r\n+CMS ERROR: 321\r\n") << false << 1 << 3;
    QTest::newRow("silent modem") << QByteArray() << false << 1 << 9;
}

void TestCommSMS::deleteSMS()
{
    QFETCH(QByteArray, reply);
    DriverRig rig;
    if (!reply.isEmpty())
        rig.dev->script("AT+CMGD=7\r", reply);
    QTEST(rig.sms->DeleteSMSOnSIM(qint16(7)), "result");
    QTEST(int(rig.sms->ErrorCode()), "errorCode");
    QTEST(int(rig.dev->atTexts.size()), "sends");
}

void TestCommSMS::sendSMSChecks_data()
{
    QTest::addColumn<QString>("phone");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QList<QByteArray>>("texts");

    const QString euro = QStringLiteral("€");
    const QString ni = QStringLiteral("你");
    const QString phone = QStringLiteral("+85291234567");
    using T = QList<QByteArray>;
    QTest::newRow("blank number") << "   "
                                  << "ALARM" << false << 7 << T{};
    QTest::newRow("empty message") << phone << "" << false << 6 << T{};
    QTest::newRow("nothing the alphabet can write") << phone << ni << false << 6 << T{};
    QTest::newRow("160 GSM characters")
        << phone << QString(160, u'A') << false << 0
        << T{kCMGF, kCSMP0, kCMGS, QByteArray(160, 'A') + "\x1a\x1a"};
    QTest::newRow("161 GSM characters") << phone << QString(161, u'A') << false << 8 << T{};
    QTest::newRow("159 characters, one escaped")
        << phone << QString(158, u'A') + euro << false << 0
        << T{kCMGF, kCSMP0, kCMGS, QByteArray(158, 'A') + euro.toUtf8() + "\x1a\x1a"};
    QTest::newRow("159 characters, two escaped")
        << phone << QString(157, u'A') + euro + euro << false << 8 << T{};
    QTest::newRow("70 UCS2 characters")
        << phone << QString(70, ni.at(0)) << true << 0
        << T{kCMGF, kCSMP8, kCMGS, QByteArray("4F60").repeated(70) + "\x1a\x1a"};
    QTest::newRow("71 UCS2 characters") << phone << QString(71, ni.at(0)) << true << 8 << T{};
    QTest::newRow("AB as UCS2") << phone << "AB" << true << 0
                                << T{kCMGF, kCSMP8, kCMGS, "00410042\x1a\x1a"};
}

void TestCommSMS::sendSMSChecks()
{
    QFETCH(QString, phone);
    QFETCH(QString, message);
    QFETCH(bool, unicode);
    QFETCH(int, errorCode);

    DriverRig rig;
    rig.dev->script(kCMGF, kOKReply);
    rig.dev->script(kCSMP0, kOKReply);
    rig.dev->script(kCSMP8, kOKReply);
    rig.dev->script(kCMGS, "\r\n> ");
    const QByteArray text = unicode ? TextToUCS2Hex(message).toUtf8() : message.toUtf8();
    rig.dev->script(text + "\x1a\x1a", "\r\n+CMGS: 5\r\n\r\nOK\r\n");
    TraceRecorder trace;
    QCOMPARE(rig.sms->SendSMS(phone, message, unicode), errorCode == 0);
    QCOMPARE(rig.sms->ErrorCode(), qint16(errorCode));
    QTEST(rig.dev->atTexts, "texts");
    if (errorCode == 0)
        QCOMPARE(trace.lines.last(), QStringLiteral("SendSMS=True, RetryTime=1"));

    // Cut to one message, a text is what SendSMS takes whole: unchanged when
    // it fits, one character shorter when it was one too long, and in UCS2
    // exactly when the alphabet cannot write it.
    bool cutUnicode = false;
    const QString cut = rig.sms->OneMessage(message, cutUnicode);
    if (errorCode == 0 || errorCode == 6)
        QCOMPARE(cut, message);
    if (errorCode == 8)
        QCOMPARE(cut, message.chopped(1));
    QCOMPARE(cutUnicode, errorCode == 6 ? !message.isEmpty() : unicode && message != u"AB");
}

void TestCommSMS::sendSMSFailures_data()
{
    QTest::addColumn<QByteArray>("cmgf");
    QTest::addColumn<QByteArray>("csmp");
    QTest::addColumn<QByteArray>("cmgs");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QList<QByteArray>>("texts");

    using T = QList<QByteArray>;
    const QByteArray prompt = "\r\n> ";
    QTest::newRow("text mode unanswered")
        << QByteArray() << kOKReply << prompt << 1 << T{kCMGF, kCMGF, kCMGF};
    QTest::newRow("text mode refused")
        << QByteArray("\r\nERROR\r\n") << kOKReply << prompt << -1 << T{kCMGF};
    QTest::newRow("parameters unanswered")
        << kOKReply << QByteArray() << prompt << 1 << T{kCMGF, kCSMP0, kCSMP0, kCSMP0};
    QTest::newRow("parameters refused")
        << kOKReply << QByteArray("\r\n+CMS ERROR: 303\r\n") << prompt << -1 << T{kCMGF, kCSMP0};
    QTest::newRow("destination unanswered")
        << kOKReply << kOKReply << QByteArray() << -1 << T{kCMGF, kCSMP0, kCMGS, kCMGS, kCMGS};
    QTest::newRow("destination refused")
        << kOKReply << kOKReply << QByteArray("\r\n+CMS ERROR: 330\r\n") << -1
        << T{kCMGF, kCSMP0, kCMGS, kBreak};
}

void TestCommSMS::sendSMSFailures()
{
    QFETCH(QByteArray, cmgf);
    QFETCH(QByteArray, csmp);
    QFETCH(QByteArray, cmgs);

    DriverRig rig;
    if (!cmgf.isEmpty())
        rig.dev->script(kCMGF, cmgf);
    if (!csmp.isEmpty())
        rig.dev->script(kCSMP0, csmp);
    if (!cmgs.isEmpty())
        rig.dev->script(kCMGS, cmgs);
    QVERIFY(!rig.sms->SendSMS(QStringLiteral("+85291234567"), QStringLiteral("ALARM")));
    QTEST(int(rig.sms->ErrorCode()), "errorCode");
    QTEST(rig.dev->atTexts, "texts");

    DriverRig closed(false);
    QVERIFY(!closed.sms->SendSMS(QStringLiteral("+85291234567"), QStringLiteral("ALARM")));
    QCOMPARE(closed.sms->ErrorCode(), qint16(1));
    QVERIFY(closed.dev->written.isEmpty());
}

void TestCommSMS::sendSMSRetriesText()
{
    const QByteArray text = "ALARM\x1a\x1a";
    {
        // Never acknowledged: each attempt gives up with a break.
        DriverRig rig;
        rig.dev->script(kCMGF, kOKReply);
        rig.dev->script(kCSMP0, kOKReply);
        rig.dev->script(kCMGS, "\r\n> ");
        TraceRecorder trace;
        QVERIFY(!rig.sms->SendSMS(QStringLiteral("+85291234567"), QStringLiteral("ALARM")));
        QCOMPARE(rig.sms->ErrorCode(), qint16(-1));
        QCOMPARE(rig.dev->atTexts, (QList<QByteArray>{kCMGF, kCSMP0, kCMGS, text, kBreak, kCMGS,
                                                      text, kBreak, kCMGS, text, kBreak}));
        QCOMPARE(trace.lines.last(), QStringLiteral("SendSMS=False, RetryTime=4"));
    }
    {
        // The first text refused, the second acknowledged after a slow start:
        // the acknowledgement waits three times the timeout.
        DriverRig rig;
        rig.dev->script(kCMGF, kOKReply);
        rig.dev->script(kCSMP0, kOKReply);
        rig.dev->script(kCMGS, "\r\n> ");
        rig.dev->script(text, "\r\n+CMS ERROR: 500\r\n");
        Stages slow(25, QByteArray());
        slow << "\r\n+CMGS: 9\r\n\r\nOK\r\n";
        rig.dev->script(text, slow);
        TraceRecorder trace;
        QVERIFY(rig.sms->SendSMS(QStringLiteral("+85291234567"), QStringLiteral("ALARM")));
        QCOMPARE(rig.sms->ErrorCode(), qint16(0));
        QCOMPARE(rig.dev->atTexts,
                 (QList<QByteArray>{kCMGF, kCSMP0, kCMGS, text, kBreak, kCMGS, text}));
        QCOMPARE(trace.lines.last(), QStringLiteral("SendSMS=True, RetryTime=2"));
    }
}

void TestCommSMS::nestedCallRefused_data()
{
    QTest::addColumn<QString>("call");
    for (const char *name :
         {"IsConnected", "Status", "Initialize", "InitializeByName", "ReadProductSN", "Count",
          "MaxCount", "Read", "Delete", "Send", "Passthrough", "Break", "SendATCommand"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestCommSMS::nestedCallRefused()
{
    QFETCH(QString, call);

    DriverRig rig;
    rig.dev->script("AT+CPIN?\r", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
    rig.dev->script("AT+CMGF=1\r", kOKReply);
    CommSMS &sms = *rig.sms;
    auto run = [&]() -> bool {
        QString s1, s2, s3;
        QDateTime d;
        QByteArray raw;
        qint16 n = 0;
        if (call == u"IsConnected")
            return sms.IsConnected();
        if (call == u"Status")
            return sms.Status() == 0;
        if (call == u"Initialize")
            return sms.Initialize(qint16(1), QStringLiteral("9600,N,8,1"));
        if (call == u"InitializeByName")
            return sms.Initialize(QStringLiteral("/dev/pts/1"), QStringLiteral("9600,N,8,1"));
        if (call == u"ReadProductSN")
            return sms.ReadProductSNFromDevice(s1);
        if (call == u"Count")
            return sms.GetSMSCountFromSIM(n);
        if (call == u"MaxCount")
            return sms.GetSMSMaxCountFromSIM(n);
        if (call == u"Read")
            return sms.ReadSMSFromSIM(qint16(1), d, s1, s2, s3);
        if (call == u"Delete")
            return sms.DeleteSMSOnSIM(qint16(1));
        if (call == u"Send")
            return sms.SendSMS(QStringLiteral("+852"), QStringLiteral("A"));
        if (call == u"Passthrough")
            return sms.ATCommandPassthrough(QStringLiteral("AT\r"));
        if (call == u"Break")
            return sms.BreakATCommand();
        return sms.SendATCommand(QStringLiteral("AT"), s1, n, 3, raw, 1, QStringLiteral("\r"), true,
                                 QStringLiteral("OK"), QString(), 0, true,
                                 QStringLiteral("ModBus"));
    };

    int ran = 0;
    bool nestedResult = true;
    int nestedError = 0;
    qsizetype writesDuringNested = -1;
    // Runs from the event processing inside the outer exchange's wait.
    QTimer::singleShot(0, [&] {
        ++ran;
        QVERIFY(sms.IsBusy());
        const qsizetype before = rig.dev->written.size();
        nestedResult = run();
        nestedError = sms.ErrorCode();
        writesDuringNested = rig.dev->written.size() - before;
    });
    QCOMPARE(sms.Status(), qint16(-1));
    QCOMPARE(ran, 1);
    QVERIFY(!nestedResult);
    QCOMPARE(nestedError, 1);
    QCOMPARE(writesDuringNested, 0);
    QVERIFY(!sms.IsBusy());
    QVERIFY(sms.IsCommPortOpen());

    // Once the outer exchange is over, the same call goes through.
    const qsizetype before = rig.dev->written.size();
    run();
    QVERIFY(rig.dev->written.size() > before);
}

void TestCommSMS::terminateDuringExchange_data()
{
    QTest::addColumn<QString>("call");
    QTest::newRow("Status") << "Status";
    QTest::newRow("Read") << "Read";
    QTest::newRow("Send") << "Send";
}

void TestCommSMS::terminateDuringExchange()
{
    QFETCH(QString, call);

    // The operator leaves while the modem is slow to answer: the port closes
    // and stays closed, and the exchange gives up instead of retrying.
    DriverRig rig;
    rig.dev->script("AT+CMGF=1\r", kOKReply);
    CommSMS &sms = *rig.sms;
    QTimer::singleShot(0, [&] { sms.Terminate(); });
    bool result = true;
    if (call == u"Status") {
        result = sms.Status() == 0;
    } else if (call == u"Read") {
        QDateTime d;
        QString a, b, c;
        result = sms.ReadSMSFromSIM(qint16(1), d, a, b, c);
    } else {
        result = sms.SendSMS(QStringLiteral("+852"), QStringLiteral("A"));
    }
    QVERIFY(!result);
    QVERIFY(!sms.IsCommPortOpen());
    QCOMPARE(rig.dev->openedPaths.size(), 1);
    QVERIFY(rig.dev->atTexts.size() <= 1);
    QCOMPARE(sms.ErrorCode(), qint16(1));
    QVERIFY(!sms.IsBusy());

    // Opening again works as before.
    rig.dev->script("AT+CMEE=1\r", kOKReply);
    QVERIFY(sms.Initialize(qint16(1), QStringLiteral("9600,N,8,1")));
}

QTEST_GUILESS_MAIN(TestCommSMS)
#include "tst_commsms.moc"
