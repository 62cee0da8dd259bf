// CPU used while the link waits on a silent device, as a share of one core.
// The reference is a read loop that polls without blocking over the same
// port, which shows what a spinning wait would cost on this machine.
#include "commport.h"
#include "cpushare.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillet;
using bench::measure;
using bench::Share;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        out << "readcomm_idle: no pseudo-terminal available\n";
        return 1;
    }
    CommPort port;
    port.setPortName(QString::fromLocal8Bit(ptsname(master)));
    if (!OpenComm(port)) {
        out << "readcomm_idle: cannot open " << port.devicePath() << "\n";
        return 1;
    }

    // The silence timeout is 2 s: the wait ends at the third boundary of the
    // link's monotonic second clock, that is after 2 to 3 s; start just after
    // a boundary for close to 3 s.
    auto msIntoSecond = [] {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() % 1000;
    };
    while (msIntoSecond() > 10)
        usleep(1000);
    QByteArray buffer;
    const Share idle = measure([&] { ReadComm(port, buffer, 1, 2); });

    // Reference: the same port polled without blocking for half a second.
    const Share spin = measure([&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 500) {
            port.transport().bytesAvailable();
            QCoreApplication::processEvents();
        }
    });

    out << QStringLiteral("readcomm_idle wait_s=%1 cpu_s=%2 cpu_share=%3 (target < 0.02)\n")
               .arg(idle.wall, 0, 'f', 2)
               .arg(idle.cpu, 0, 'f', 4)
               .arg(idle.cpu / idle.wall, 0, 'f', 4);
    out << QStringLiteral("readcomm_idle reference_spin_share=%1 idle_vs_spin=%2\n")
               .arg(spin.cpu / spin.wall, 0, 'f', 4)
               .arg((idle.cpu / idle.wall) / qMax(spin.cpu / spin.wall, 1e-9), 0, 'f', 4);
    ::close(master);
    return idle.cpu / idle.wall < 0.02 ? 0 : 2;
}
