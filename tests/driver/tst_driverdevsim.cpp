// The driver end to end against quillet-devsim over its pty, with the real
// serial port: opening, status, counts, reading a store with gaps,
// deleting, sending in both alphabets and the serial number. Skipped when the
// simulator has not been built.
#include "boxrecorder.h"
#include "commsms.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quillet;

namespace {

QString simulatorPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quillet-devsim");
}

// The simulator as a child process: its pty for the driver, its control
// socket for the test. Every wait is bounded.
class Simulator
{
public:
    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    bool start(const QStringList &args)
    {
        m_process.setProgram(simulatorPath());
        // A test that dies (a sanitizer report) takes its simulator with it.
        m_process.setArguments(args + QStringList{QStringLiteral("--control-socket"),
                                                  m_dir.filePath(QStringLiteral("control.sock")),
                                                  QStringLiteral("--exit-with-parent")});
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        QDeadlineTimer deadline(10000);
        while (!out.contains('\n') && !deadline.hasExpired() &&
               m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
        }
        if (!out.contains('\n'))
            return false;
        m_pty = QString::fromUtf8(out.left(out.indexOf('\n')));
        return true;
    }

    QString pty() const { return m_pty; }

    // One control command; its answer (several lines for a dump).
    QString control(const QString &line)
    {
        QLocalSocket socket;
        socket.connectToServer(m_dir.filePath(QStringLiteral("control.sock")));
        if (!socket.waitForConnected(3000))
            return {};
        socket.write(line.toUtf8() + '\n');
        socket.flush();
        QByteArray answer;
        const bool dump = line == u"dump";
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired()) {
            socket.waitForReadyRead(50);
            answer += socket.readAll();
            if (dump ? answer.endsWith("# end\n") : answer.endsWith('\n'))
                break;
        }
        return QString::fromUtf8(answer).trimmed();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_pty;
};

} // namespace

class TestDriverDevSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void initializeAndLink();
    void status_data();
    void status();
    void counts_data();
    void counts();
    void readStoreWithGaps();
    void deleteMessage();
    void busySlot_data();
    void busySlot();
    void send_data();
    void send();
    void serialNumber();

private:
    // A simulator started with `args` and a driver open on its pty.
    bool open(Simulator &sim, CommSMS &sms, const QStringList &args = {});
};

void TestDriverDevSim::initTestCase()
{
    if (!QFile::exists(simulatorPath()))
        QSKIP("quillet-devsim is not built");
}

bool TestDriverDevSim::open(Simulator &sim, CommSMS &sms, const QStringList &args)
{
    if (!sim.start(args))
        return false;
    return sms.Initialize(sim.pty(), QStringLiteral("9600,N,8,1"));
}

void TestDriverDevSim::initializeAndLink()
{
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms, {QStringLiteral("--device-type"), QStringLiteral("4100")}));
    QVERIFY(sms.IsCommPortOpen());
    QCOMPARE(sms.ErrorCode(), qint16(0));
    QCOMPARE(sms.DeviceType(), QStringLiteral("41"));
    QVERIFY(sms.IsConnected());

    sms.Terminate();
    QVERIFY(!sms.IsCommPortOpen());
    QVERIFY(sms.Initialize(sim.pty(), QStringLiteral("9600,N,8,1")));
}

void TestDriverDevSim::status_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::newRow("SIM ready") << QStringList{} << 0;
    QTest::newRow("SIM waits for its PIN") << QStringList{QStringLiteral("--pin-wait")} << -1;
}

void TestDriverDevSim::status()
{
    QFETCH(QStringList, args);
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms, args));
    sms.setCommRetry(1);
    QTEST(int(sms.Status()), "status");
}

void TestDriverDevSim::counts_data()
{
    QTest::addColumn<QString>("storages");
    QTest::newRow("three storages, 9 pieces") << "3";
    QTest::newRow("two storages, 6 pieces") << "2";
}

void TestDriverDevSim::counts()
{
    QFETCH(QString, storages);
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms,
                 {QStringLiteral("--storages"), storages, QStringLiteral("--capacity"),
                  QStringLiteral("25"), QStringLiteral("--message"),
                  QStringLiteral("number=+85291234567 text=A"), QStringLiteral("--message"),
                  QStringLiteral("number=+85291234567 text=B")}));
    qint16 count = 0, max = 0;
    QVERIFY(sms.GetSMSCountFromSIM(count));
    QCOMPARE(count, qint16(2));
    QVERIFY(sms.GetSMSMaxCountFromSIM(max));
    QCOMPARE(max, qint16(25));
    QCOMPARE(sms.ErrorCode(), qint16(0));
}

void TestDriverDevSim::readStoreWithGaps()
{
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    const QStringList messages{
        QStringLiteral("slot=1 number=+85291234567 text=\"PUMP 1 TRIP\" "
                       "time=24/01/02,10:20:30+32"),
        QStringLiteral("slot=3 number=0912345678 name=\"Site 7\" status=read "
                       "text=\"Tank \\\"B\\\" low\\r\\nOK\\r\\nPUMP ERROR\" "
                       "time=23/07/04,06:05:04-16"),
        QStringLiteral("slot=4 number=+886912345678 alphabet=ucs2 text=\"水位過低\" "
                       "time=26/12/08,09:15:00+32"),
        QStringLiteral("slot=6 number=+85291234567 status=unsent text=\"COST € 5\"")};
    QStringList args{QStringLiteral("--capacity"), QStringLiteral("7")};
    for (const QString &m : messages)
        args << QStringLiteral("--message") << m;
    QVERIFY(open(sim, sms, args));

    struct Expected
    {
        int slot;
        QString status, phone, text;
        QDateTime date;
    };
    const QList<Expected> expected{
        {1, "UNREAD", "+85291234567", "PUMP 1 TRIP",
         QDateTime(QDate(2024, 1, 2), QTime(10, 20, 30), Qt::UTC)},
        {3, "READ", "0912345678", "Tank \"B\" low\r\nOK\r\nPUMP ERROR",
         QDateTime(QDate(2023, 7, 4), QTime(6, 5, 4), Qt::UTC)},
        {4, "UNREAD", "+886912345678", QStringLiteral("水位過低"),
         QDateTime(QDate(2026, 12, 8), QTime(9, 15, 0), Qt::UTC)},
        {6, "UNSENT", "+85291234567", QStringLiteral("COST € 5"), ZeroDate()}};

    for (int slot = 1; slot <= 7; ++slot) {
        QDateTime date;
        QString text, phone, status;
        const bool read = sms.ReadSMSFromSIM(qint16(slot), date, text, phone, status);
        auto it = std::find_if(expected.begin(), expected.end(),
                               [slot](const Expected &e) { return e.slot == slot; });
        if (it == expected.end()) {
            QVERIFY2(!read, qPrintable(QString::number(slot)));
            QCOMPARE(sms.ErrorCode(), qint16(3));
            QCOMPARE(sms.ErrorMessage(), QStringLiteral("Fail! No short message."));
            continue;
        }
        QVERIFY2(read, qPrintable(QString::number(slot)));
        QCOMPARE(sms.ErrorCode(), qint16(0));
        QCOMPARE(status, it->status);
        QCOMPARE(phone, it->phone);
        QCOMPARE(text, it->text);
        QCOMPARE(date, it->date);
    }
}

void TestDriverDevSim::deleteMessage()
{
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms,
                 {QStringLiteral("--message"), QStringLiteral("slot=2 number=+852 text=GONE"),
                  QStringLiteral("--message"), QStringLiteral("slot=5 number=+852 text=STAYS")}));
    QVERIFY(sms.DeleteSMSOnSIM(qint16(2)));
    QCOMPARE(sms.ErrorCode(), qint16(0));
    qint16 count = 0;
    QVERIFY(sms.GetSMSCountFromSIM(count));
    QCOMPARE(count, qint16(1));
    QDateTime date;
    QString text, phone, status;
    QVERIFY(!sms.ReadSMSFromSIM(qint16(2), date, text, phone, status));
    QCOMPARE(sms.ErrorCode(), qint16(3));
    QVERIFY(sms.ReadSMSFromSIM(qint16(5), date, text, phone, status));
    QCOMPARE(text, QStringLiteral("STAYS"));
    const QString dump = sim.control(QStringLiteral("dump"));
    QVERIFY2(!dump.contains(QLatin1String("GONE")), qPrintable(dump));
}

// A SIM that is busy for a moment is not an empty slot: the poll would forget
// what it recorded there and log a kept message again.
void TestDriverDevSim::busySlot_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("314 SIM busy") << 314;
    QTest::newRow("515 please wait") << 515;
}

void TestDriverDevSim::busySlot()
{
    QFETCH(int, code);
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms,
                 {QStringLiteral("--message"), QStringLiteral("slot=1 number=+852 text=KEPT")}));
    QVERIFY(sim.control(QStringLiteral("busy 1 2 %1").arg(code)).startsWith(u"ok"));
    QDateTime date;
    QString text, phone, status;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QVERIFY(!sms.ReadSMSFromSIM(qint16(1), date, text, phone, status));
        QCOMPARE(sms.ErrorCode(), qint16(10));
        QCOMPARE(sms.ErrorMessage(), QStringLiteral("Fail! The SIM is busy, try again later."));
    }
    QVERIFY(sms.ReadSMSFromSIM(qint16(1), date, text, phone, status));
    QCOMPARE(text, QStringLiteral("KEPT"));
    QVERIFY(!sms.ReadSMSFromSIM(qint16(2), date, text, phone, status));
    QCOMPARE(sms.ErrorCode(), qint16(3));
}

void TestDriverDevSim::send_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<QString>("alphabet");
    QTest::newRow("GSM text") << "Pump 3 stopped, level 80%" << false << "gsm";
    QTest::newRow("UCS2 text") << QStringLiteral("水泵停止") << true << "ucs2";
}

void TestDriverDevSim::send()
{
    QFETCH(QString, text);
    QFETCH(bool, unicode);
    QFETCH(QString, alphabet);
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms));
    QVERIFY(sms.SendSMS(QStringLiteral("+85291234567"), text, unicode));
    QCOMPARE(sms.ErrorCode(), qint16(0));
    const QString dump = sim.control(QStringLiteral("dump"));
    QVERIFY2(dump.contains(QStringLiteral("# sent reference=1 number=+85291234567 alphabet=") +
                           alphabet),
             qPrintable(dump));
    QVERIFY2(dump.contains(text), qPrintable(dump));

    // The modem is ready for the next command afterwards.
    QCOMPARE(sms.Status(), qint16(0));
}

void TestDriverDevSim::serialNumber()
{
    Simulator sim;
    CommSMS sms({}, QStringLiteral(QUILLET_GSMCODEMAP_FILE));
    QVERIFY(open(sim, sms, {QStringLiteral("--serial"), QStringLiteral("0AFF:00F0:0B0C:FF0A")}));
    QString serial;
    QVERIFY(sms.ReadProductSNFromDevice(serial));
    QCOMPARE(serial, QStringLiteral("FF-0A-0B0C-00F00A-FF"));
}

QTEST_GUILESS_MAIN(TestDriverDevSim)
#include "tst_driverdevsim.moc"
