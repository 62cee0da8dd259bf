// CPU used while the driver waits for a modem answer that never completes
// (a SIM waiting for its PIN, one attempt of one second), as a share of one
// core. The reference polls the device for the same time without any pause,
// over the same pty, which is what a wait loop polling flat out would cost.
// Needs quillet-devsim and GSMCodeMap.cod beside this program.
#include "commsms.h"
#include "cpushare.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <sys/resource.h>

using namespace quillet;
using bench::measure;
using bench::Share;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QString bin = QCoreApplication::applicationDirPath();

    QProcess sim;
    sim.start(bin + QStringLiteral("/quillet-devsim"), {QStringLiteral("--pin-wait")});
    QByteArray first;
    QElapsedTimer waited;
    waited.start();
    while (!first.contains('\n') && waited.elapsed() < 10000 && sim.waitForReadyRead(200))
        first += sim.readAllStandardOutput();
    if (!first.contains('\n')) {
        out << "driver_wait: quillet-devsim did not start\n";
        return 1;
    }
    const QString pty = QString::fromUtf8(first.left(first.indexOf('\n')));

    CommSMS sms({}, bin + QStringLiteral("/GSMCodeMap.cod"));
    if (!sms.Initialize(pty, QStringLiteral("9600,N,8,1"))) {
        out << "driver_wait: cannot initialise on " << pty << "\n";
        return 1;
    }
    sms.setCommRetry(1);
    const Share wait = measure([&] { sms.Status(); });

    int polls = 0;
    const Share flat = measure([&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < qint64(wait.wall * 1000)) {
            QByteArray request = ReadATReplyRequest();
            QByteArray response;
            int count = 0;
            SendDeviceQuery(sms.port(), request, int(request.size()), response, count, 1, 0);
            ++polls;
        }
    });

    out << QStringLiteral("driver_wait: CPU share while a reply wait runs %1 s: %2 of one core; "
                          "flat-out polling (%3 polls/s): %4; ratio %5\n")
               .arg(wait.wall, 0, 'f', 2)
               .arg(wait.share(), 0, 'f', 3)
               .arg(flat.wall > 0 ? polls / flat.wall : 0, 0, 'f', 0)
               .arg(flat.share(), 0, 'f', 3)
               .arg(flat.share() > 0 ? wait.share() / flat.share() : 0, 0, 'f', 2);
    sms.Terminate();
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
