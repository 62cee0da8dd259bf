// The serial link over a scripted transport on a make-believe clock: port
// validation and mapping, line settings, the silence timeout's second
// boundaries, stale input, and the diagnostic boxes.
#include "boxrecorder.h"
#include "commport.h"
#include "faketransport.h"

#include <QTest>

using namespace quillet;
using quillet::test::FakeTransport;

class TestCommLink : public QObject
{
    Q_OBJECT
private slots:
    void openValidation_data();
    void openValidation();
    void reopenAndClose();
    void lineSettings_data();
    void lineSettings();
    void silenceTimeout_data();
    void silenceTimeout();
    void waitsInShortSlices();
    void moreThanExpectedStays();
    void expectedZeroReturnsAtOnce();
    void writeDiscardsStaleInput();
    void writeFailure_data();
    void writeFailure();
};

void TestCommLink::openValidation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device"); // empty: refused

    QTest::newRow("COM1") << "COM1"
                          << "/dev/ttyS0";
    QTest::newRow("COM12") << "COM12"
                           << "/dev/ttyS11";
    QTest::newRow("COM255") << "COM255"
                            << "/dev/ttyS254";
    QTest::newRow("COM0") << "COM0"
                          << "";
    QTest::newRow("COM256") << "COM256"
                            << "";
    QTest::newRow("no number") << "COMx"
                               << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("negative") << "COM-1"
                              << "";
    QTest::newRow("digits then text") << "COM3 (USB)"
                                      << "/dev/ttyS2";
    QTest::newRow("device path") << "/dev/pts/7"
                                 << "/dev/pts/7";
    QTest::newRow("link path") << "/tmp/quillet/devsim"
                               << "/tmp/quillet/devsim";
}

void TestCommLink::openValidation()
{
    QFETCH(QString, name);
    QFETCH(QString, device);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    port->setPortName(name);
    test::BoxRecorder boxes;
    test::TerminateRecorder terminate;
    QCOMPARE(OpenComm(*port), !device.isEmpty());
    if (device.isEmpty()) {
        QCOMPARE(fake->openedPaths.size(), 0);
        QCOMPARE(terminate.count(), 1);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("Communicaiton Error"));
        QCOMPARE(boxes.last().text,
                 QStringLiteral("Unable to connect to Device.\r\nPlease check cable connection "
                                "and communicaiton parameter settings."));
        QCOMPARE(boxes.last().icon, BoxIcon::Critical);
    } else {
        QCOMPARE(fake->openedPaths, QStringList{device});
        QCOMPARE(terminate.count(), 0);
        QCOMPARE(boxes.count(), 0);
    }
}

void TestCommLink::reopenAndClose()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    port->setPortNumber(2);
    QVERIFY(!CloseComm(*port));
    QVERIFY(EnsureCommOpen(*port));
    QVERIFY(EnsureCommOpen(*port)); // already open: not opened again
    QCOMPARE(fake->openedPaths.size(), 1);
    QVERIFY(OpenComm(*port)); // always closes and opens again
    QCOMPARE(fake->closeCount, 1);
    QCOMPARE(fake->openedPaths.size(), 2);
    QVERIFY(CloseComm(*port));
    QVERIFY(!port->isOpen());
    QVERIFY(!CloseComm(*port));

    fake->openResult = false;
    test::BoxRecorder boxes;
    QVERIFY(!EnsureCommOpen(*port));
    QCOMPARE(boxes.count(), 0); // the driver reports this failure, not the link
}

void TestCommLink::lineSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("defaults") << "9600,N,8,1" << true << 9600 << int(QSerialPort::NoParity) << 8
                              << int(QSerialPort::OneStop);
    QTest::newRow("even, 7, 2, lower case")
        << "19200,e,7,2" << true << 19200 << int(QSerialPort::EvenParity) << 7
        << int(QSerialPort::TwoStop);
    QTest::newRow("odd, blanks") << " 4800 , O , 8 , 1.5 " << true << 4800
                                 << int(QSerialPort::OddParity) << 8
                                 << int(QSerialPort::OneAndHalfStop);
    QTest::newRow("mark") << "115200,M,5,1" << true << 115200 << int(QSerialPort::MarkParity) << 5
                          << int(QSerialPort::OneStop);
    QTest::newRow("space") << "1200,S,6,1" << true << 1200 << int(QSerialPort::SpaceParity) << 6
                           << int(QSerialPort::OneStop);
    QTest::newRow("bad parity") << "9600,X,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("9 data bits") << "9600,N,9,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("3 stop bits") << "9600,N,8,3" << false << 0 << 0 << 0 << 0;
    QTest::newRow("no baud") << ",N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("zero baud") << "0,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("three fields") << "9600,N,8" << false << 0 << 0 << 0 << 0;
    QTest::newRow("five fields") << "9600,N,8,1,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0 << 0;
}

void TestCommLink::lineSettings()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    port->setSettings(text);
    test::BoxRecorder boxes;
    QCOMPARE(OpenComm(*port), valid);
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(fake->openedSettings.size(), valid ? 1 : 0);
    if (valid) {
        const LineSettings &s = fake->openedSettings.first();
        QCOMPARE(s.baudRate, baud);
        QCOMPARE(int(s.parity), parity);
        QCOMPARE(int(s.dataBits), dataBits);
        QCOMPARE(int(s.stopBits), stopBits);
    }
}

void TestCommLink::silenceTimeout_data()
{
    // The clock starts at `startMs`; pieces arrive at their offsets. The read
    // must end within [endFrom, endTo] on that clock with `count` bytes.
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<QList<FakeTransport::Piece>>("pieces");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("endFrom");
    QTest::addColumn<qint64>("endTo");

    using P = QList<FakeTransport::Piece>;
    QTest::newRow("silence, 1 s, mid-second")
        << qint64(500) << P{} << 5 << 1 << 0 << qint64(2000) << qint64(2050);
    QTest::newRow("silence, 1 s, just before a second")
        << qint64(990) << P{} << 5 << 1 << 0 << qint64(2000) << qint64(2050);
    QTest::newRow("silence, 3 s") << qint64(100) << P{} << 5 << 3 << 0 << qint64(4000)
                                  << qint64(4050);
    QTest::newRow("silence, 0 s: next second")
        << qint64(500) << P{} << 5 << 0 << 0 << qint64(1000) << qint64(1050);
    P slow;
    for (int i = 0; i < 10; ++i)
        slow.append({900 * i, QByteArray(1, char('a' + i))});
    QTest::newRow("slow stream, pauses under the timeout")
        << qint64(500) << slow << 10 << 1 << 10 << qint64(8600) << qint64(8600);
    QTest::newRow("pause past the timeout")
        << qint64(500) << P{{0, "ab"}, {2600, "cd"}} << 4 << 1 << 2 << qint64(2000) << qint64(2050);
    P quick;
    for (int i = 0; i < 5; ++i)
        quick.append({100 * i, QByteArray(2, char('a' + i))});
    QTest::newRow("timeout 0, stream within the second")
        << qint64(0) << quick << 10 << 0 << 10 << qint64(400) << qint64(400);
    QTest::newRow("timeout 0, stream across a second")
        << qint64(700) << quick << 10 << 0 << 6 << qint64(1000) << qint64(1050);
}

void TestCommLink::silenceTimeout()
{
    QFETCH(qint64, startMs);
    QFETCH(QList<FakeTransport::Piece>, pieces);
    QFETCH(int, expected);
    QFETCH(int, timeout);
    QFETCH(int, count);
    QFETCH(qint64, endFrom);
    QFETCH(qint64, endTo);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    QVERIFY(OpenComm(*port));
    fake->clockMs = startMs;
    fake->addReply(pieces);
    QVERIFY(WriteComm(*port, "?", 1));
    QByteArray buffer = "stale";
    QCOMPARE(ReadComm(*port, buffer, expected, timeout), count);
    QCOMPARE(buffer.size(), count);
    QVERIFY2(fake->clockMs >= endFrom && fake->clockMs <= endTo,
             qPrintable(QString::number(fake->clockMs)));
}

void TestCommLink::waitsInShortSlices()
{
    // A transport that remembers the longest wait asked of it.
    struct Recording : FakeTransport
    {
        int longest = 0;
        void waitForReadyRead(int msecs) override
        {
            longest = qMax(longest, msecs);
            FakeTransport::waitForReadyRead(msecs);
        }
    };
    auto transport = std::make_unique<Recording>();
    Recording *fake = transport.get();
    CommPort port(std::move(transport));
    port.setClock([fake] { return fake->clockMs; });
    QVERIFY(OpenComm(port));
    QByteArray buffer;
    QCOMPARE(ReadComm(port, buffer, 1, 2), 0);
    QVERIFY(fake->longest > 0);
    QVERIFY(fake->longest <= 50);
    QVERIFY(fake->waits >= 2500 / 50);
}

void TestCommLink::moreThanExpectedStays()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    QVERIFY(OpenComm(*port));
    fake->addReply(QByteArray("0123456789"));
    QVERIFY(WriteComm(*port, "?", 1));
    QByteArray buffer;
    QCOMPARE(ReadComm(*port, buffer, 4, 1), 4);
    QCOMPARE(buffer, QByteArray("0123"));
    QCOMPARE(fake->unread(), 6);
    QCOMPARE(ReadComm(*port, buffer, 6, 1), 6);
    QCOMPARE(buffer, QByteArray("456789"));
}

void TestCommLink::expectedZeroReturnsAtOnce()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    QVERIFY(OpenComm(*port));
    fake->inject("xyz");
    QByteArray buffer = "old";
    QCOMPARE(ReadComm(*port, buffer, 0, 5), 0);
    QCOMPARE(fake->waits, 0);
    QCOMPARE(fake->clockMs, qint64(500));
    QCOMPARE(fake->unread(), 3);
    QVERIFY(buffer.isEmpty());

    // A closed port has nothing to wait for either.
    CloseComm(*port);
    QCOMPARE(ReadComm(*port, buffer, 5, 5), 0);
    QCOMPARE(fake->waits, 0);
}

void TestCommLink::writeDiscardsStaleInput()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    QVERIFY(OpenComm(*port));
    fake->inject("+CMTI: \"MT\",3\r\n");
    fake->addReply(QByteArray("reply"));
    QVERIFY(WriteComm(*port, QByteArray("request-and-more"), 7));
    QCOMPARE(fake->written, QList<QByteArray>{"request"});
    QByteArray buffer;
    QCOMPARE(ReadComm(*port, buffer, 5, 1), 5);
    QCOMPARE(buffer, QByteArray("reply"));
}

void TestCommLink::writeFailure_data()
{
    QTest::addColumn<bool>("diagnostics");
    QTest::addColumn<bool>("open");
    QTest::addColumn<qsizetype>("count");
    QTest::newRow("refused, switch off") << false << true << qsizetype(3);
    QTest::newRow("refused, switch on") << true << true << qsizetype(3);
    QTest::newRow("closed port, switch on") << true << false << qsizetype(3);
    QTest::newRow("count beyond the bytes") << true << true << qsizetype(4);
}

void TestCommLink::writeFailure()
{
    QFETCH(bool, diagnostics);
    QFETCH(bool, open);
    QFETCH(qsizetype, count);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    port->setPortNumber(3);
    port->setSettings("9600,N,8,1");
    if (open)
        QVERIFY(OpenComm(*port));
    fake->writeResult = count <= 3 ? false : true;
    SetCommDiagnostics(diagnostics);
    test::BoxRecorder boxes;
    const bool ok = WriteComm(*port, "abc", count);
    SetCommDiagnostics(false);
    QVERIFY(!ok);
    if (!diagnostics) {
        QCOMPARE(boxes.count(), 0);
        return;
    }
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.boxes().at(0).title, QStringLiteral("Communicaiton Error"));
    QCOMPARE(boxes.boxes().at(1).title, QStringLiteral("CommUtil:OpenComm"));
    QCOMPARE(boxes.boxes().at(1).text,
             QStringLiteral("RS-232 CommPort is failure.\r\nErrorObject:FakeTransport\r\n"
                            "ErrorMessage:scripted failure\r\nCommPort=3\r\nSettings=9600,N,8,1"));
}

QTEST_GUILESS_MAIN(TestCommLink)
#include "tst_commlink.moc"
