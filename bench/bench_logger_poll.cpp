// The logger's main job against the simulator at wire speed:
//  1. 30 messages waiting, simulator paced at 9600 baud: seconds until all
//     are logged and deleted, against the floor the wire itself sets for the
//     bytes actually exchanged (10 bits a byte). Target ratio: under 1.3.
//     Health checks run every second meanwhile (their exchanges count in the
//     floor too); the longest one a poll waited for is printed beside it.
//  2. CPU used by an online logger polling an empty SIM every 5 s, as a share
//     of one core. Target: under 1%.
// Usage: bench_logger_poll [SECONDS_IDLE]   (default 60)

#include "cpushare.h"
#include "globals.h"
#include "pipeline.h"
#include "serialtransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace quillet;

namespace {

// Counts every byte that crosses the line in either direction.
class CountingTransport final : public SerialTransport
{
public:
    qint64 bytes = 0;
    bool open(const QString &path, const LineSettings &s) override { return m_port.open(path, s); }
    void close() override { m_port.close(); }
    bool isOpen() const override { return m_port.isOpen(); }
    qint64 bytesAvailable() override { return m_port.bytesAvailable(); }
    QByteArray read(qint64 maxCount) override
    {
        const QByteArray data = m_port.read(maxCount);
        bytes += data.size();
        return data;
    }
    bool discardInput() override { return m_port.discardInput(); }
    bool write(const QByteArray &data) override
    {
        bytes += data.size();
        return m_port.write(data);
    }
    void waitForReadyRead(int msecs) override { m_port.waitForReadyRead(msecs); }
    QString errorSource() const override { return m_port.errorSource(); }
    QString errorString() const override { return m_port.errorString(); }

private:
    QSerialPortTransport m_port;
};

bool simEmpty(const QString &stateFile)
{
    QFile f(stateFile);
    return f.open(QIODevice::ReadOnly) && f.readAll().contains("used=0");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile::copy(bin + "/GSMCodeMap.cod", "GSMCodeMap.cod");
    if (!QFile::exists("GSMCodeMap.cod")) {
        std::fprintf(stderr, "bench_logger_poll: GSMCodeMap.cod not found beside %s\n",
                     qPrintable(bin));
        return 2;
    }

    QStringList args{
        "--link", dir.filePath("device"), "--state-file", dir.filePath("state"), "--baud", "9600"};
    for (int k = 1; k <= 30; ++k)
        args << "--message"
             << QString(
                    "slot=%1 number=+8869123456%2 text=\"Alarm %1: pump %2 tripped, level high\" "
                    "time=26/12/08,06:%2:00+32")
                    .arg(k)
                    .arg(k % 60, 2, 10, QChar('0'));
    QProcess sim;
    sim.start(bin + "/quillet-devsim", args);
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_logger_poll: the simulator did not start\n");
        return 2;
    }

    G.LogFilePath = "Quillet.log";
    G.COMPORT = dir.filePath("device");
    G.BAUDRATE = "9600";
    G.DATABIT = "8";
    G.PARITYBIT = "None";
    G.STOPBIT = "1";
    G.IsDeleteSMS = true;
    // Often enough that the burst's polls meet health checks between them.
    G.HealthCheckSeconds = 1;
    auto transport = std::make_unique<CountingTransport>();
    CountingTransport *counter = transport.get();
    AlarmPipeline pipeline;
    pipeline.CreateDevice(std::move(transport));
    pipeline.LoadReceivedStore();
    if (!pipeline.GoOnline()) {
        std::fprintf(stderr, "bench_logger_poll: cannot go online\n");
        return 2;
    }

    // 1. Thirty messages at wire speed.
    counter->bytes = 0;
    QElapsedTimer clock;
    clock.start();
    int polls = 0;
    while (!simEmpty(dir.filePath("state")) && polls < 20) {
        pipeline.PollSIM();
        ++polls;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double floor = counter->bytes * 10.0 / 9600.0;
    QFile log("Quillet.log");
    log.open(QIODevice::ReadOnly);
    const int lines = log.readAll().count("\r\n");
    std::printf("logger_poll_30_at_9600 seconds=%.2f wire_floor_s=%.2f bytes=%lld polls=%d "
                "logged=%d ratio=%.3f (target < 1.3)\n",
                seconds, floor, counter->bytes, polls, lines, seconds / floor);
    std::printf("logger_health_check longest_poll_delay_ms=%lld (one exchange at 9600 baud)\n",
                pipeline.supervisor().longestCheckMs());

    // 2. An online logger on an empty SIM, ticking every 5 s: the pipeline's
    // own poll timer, which runs while it is online.
    if (!pipeline.tmrAlarmLogger.isActive() || pipeline.tmrAlarmLogger.interval() != 5000) {
        std::fprintf(stderr, "bench_logger_poll: the poll timer does not run every 5 s\n");
        return 2;
    }
    const double cpu0 = bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double share = (bench::cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9);
    std::printf("logger_idle_online wall_s=%.1f cpu_share=%.4f (target < 0.01)\n",
                wall.nsecsElapsed() / 1e9, share);

    pipeline.TerminateDevice();
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
