// How long the viewer takes from start to the newest record on screen, for a
// file of a million records, against LogOpen alone on the same file in the
// same run (the viewer reads through the library, so LogOpen is the floor),
// and for the same records in random order, against `wc -l` of that file;
// each for short lines (55 bytes) and for a logger's usual ones (80 to 120);
// when that row was first painted is printed beside, for information.
// Then how much of a core the viewer takes while it follows a quiet file.
// Usage: orvane_bench [records] [idle seconds]   (on the offscreen platform)

#include "cpushare.h"
#include "loglibrary.h"
#include "mainframe.h"
#include "orvaneapp.h"
#include "orvaneview.h"
#include "stringtable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace orvane;

namespace {

// With shuffled the lines come in random order, as a SIM read slot by slot
// may write a burst; with usual the lines are 80 to 120 bytes long instead
// of about 55.
bool WriteLog(const QString &path, int records, bool shuffled, bool usual)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const char *sites[] = {"North Pump Station", "South Reservoir", "Booster 12", "水塔 A3"};
    static const char kNote[] = " - operator paged, see the station log for the details, "
                                "then acknowledge the alarm on the panel";
    QByteArray chunk;
    char line[256];
    QList<int> order(records);
    for (int i = 0; i < records; ++i)
        order[i] = i;
    if (shuffled)
        std::shuffle(order.begin(), order.end(), *QRandomGenerator::global());
    for (int i : order) {
        const int minutes = i;
        const int day = 1 + (minutes / 1440) % 28, month = 1 + (minutes / (1440 * 28)) % 12;
        const int year = 2001 + minutes / (1440 * 28 * 12);
        int n = std::snprintf(line, sizeof line, "%02d/%02d/%04d %02d:%02d:%02d [%s] Alarm %d",
                              month, day, year, (minutes / 60) % 24, minutes % 60, i % 60,
                              sites[i % 4], i);
        // A note makes a usual line 80 to 120 bytes long, CR LF included.
        const int note = usual ? std::max(0, 78 + (i * 7919) % 41 - n) : 0;
        n += std::snprintf(line + n, sizeof line - size_t(n), "%.*s\r\n", note, kNote);
        chunk.append(line, n);
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    return true;
}

double TimeLogOpen(LogLibrary &library, const QByteArray &path, int *records)
{
    QElapsedTimer timer;
    timer.start();
    *records = library.LogOpen(path.constData());
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    library.LogClose();
    return ms;
}

// `wc -l` on the file: the cost of reading every byte once.
double TimeWc(const QString &path)
{
    double best = 1e12;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QProcess wc;
        wc.setStandardInputFile(path);
        wc.start(QStringLiteral("wc"), {QStringLiteral("-l")});
        wc.waitForFinished();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// The share of a core the viewer takes while it follows a file nobody
// writes, over `seconds`.
double IdleShare(LogLibrary &library, const QString &path, int seconds)
{
    COrvaneApp app(library,
                   QStringLiteral("orvane-bench-idle-%1").arg(QCoreApplication::applicationPid()));
    if (!app.InitInstance({path, QStringLiteral("-na")}) || !app.mainFrame()->following())
        return -1;
    // Settle first: the first paint is not idling.
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    const bench::Share share = bench::measure([seconds] {
        QEventLoop idle;
        QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
        idle.exec();
    });
    return share.share();
}

struct ViewerTimes
{
    double shown = 1e12;   // shown, the newest record its bottom row
    double painted = 1e12; // and that row painted
    void keepBest(const ViewerTimes &run)
    {
        shown = std::min(shown, run.shown);
        painted = std::min(painted, run.painted);
    }
};

// Notes the first paint of a widget.
class PaintSpy : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

// The window is shown with the newest record as the bottom row when start-up
// returns; it is painted once the event loop runs (on this platform a window
// is not exposed before that), which is timed on its own.
ViewerTimes TimeViewer(LogLibrary &library, const QString &path, int run, int records)
{
    QElapsedTimer timer;
    timer.start();
    COrvaneApp app(
        library,
        QStringLiteral("orvane-bench-%1-%2").arg(QCoreApplication::applicationPid()).arg(run));
    if (!app.InitInstance({path, QStringLiteral("-na")}))
        return {-1, -1};
    COrvaneView *view = app.mainFrame()->view();
    PaintSpy spy;
    view->viewport()->installEventFilter(&spy);
    auto lastRowShown = [view, records] {
        const int bottom = view->rowAt(view->viewport()->height() - 2);
        return view->isVisible() &&
               (bottom == records - 1 || (bottom == -1 && view->rowAt(0) >= 0));
    };
    for (int spins = 0; spins < 100000 && !lastRowShown(); ++spins)
        QCoreApplication::processEvents();
    if (!lastRowShown()) {
        std::fprintf(stderr, "the last record never came into view\n");
        return {-1, -1};
    }
    ViewerTimes times;
    times.shown = double(timer.nsecsElapsed()) / 1e6;
    for (int spins = 0; spins < 100000 && !spy.painted; ++spins)
        QCoreApplication::processEvents();
    times.painted = double(timer.nsecsElapsed()) / 1e6;
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    SetLanguage(Language::English);
    std::unique_ptr<LogLibrary> library = MakeTamsinLibrary();

    const int runs = 5;
    std::printf("orvane: %d records, best of %d\n", records, runs);
    int serial = 0;
    for (const bool usual : {false, true}) {
        std::printf("  %s lines\n", usual ? "80-120-byte" : "55-byte");
        const QString path = dir.filePath(QStringLiteral("bench.log"));
        if (!WriteLog(path, records, false, usual))
            return 1;
        double openBest = 1e12;
        ViewerTimes viewerBest;
        int opened = 0;
        for (int run = 0; run < runs; ++run) {
            openBest = std::min(openBest, TimeLogOpen(*library, QFile::encodeName(path), &opened));
            const ViewerTimes viewer = TimeViewer(*library, path, serial++, records);
            if (viewer.shown < 0)
                return 1;
            viewerBest.keepBest(viewer);
        }
        if (opened != records) {
            std::fprintf(stderr, "LogOpen counted %d records, expected %d\n", opened, records);
            return 1;
        }
        std::printf("    LogOpen alone            %9.1f ms\n", openBest);
        std::printf("    start to last row shown  %9.1f ms\n", viewerBest.shown);
        std::printf("    ratio                    %9.2f   (target <= 1.25)\n",
                    viewerBest.shown / openBest);
        std::printf("    first paint              %9.1f ms   (ratio %.2f)\n", viewerBest.painted,
                    viewerBest.painted / openBest);

        // The same records in random order: the viewer lists them earliest
        // first, so opening includes putting them in order.
        const QString shuffled = dir.filePath(QStringLiteral("shuffled.log"));
        if (!WriteLog(shuffled, records, true, usual))
            return 1;
        // The reference is taken between the viewer's runs, so that both see
        // the machine in the same moods.
        ViewerTimes shuffledBest;
        double wc = 1e12;
        for (int run = 0; run < runs; ++run) {
            wc = std::min(wc, TimeWc(shuffled));
            const ViewerTimes viewer = TimeViewer(*library, shuffled, serial++, records);
            if (viewer.shown < 0)
                return 1;
            shuffledBest.keepBest(viewer);
        }
        std::printf("    shuffled: wc -l          %9.1f ms\n", wc);
        std::printf("    start to last row shown  %9.1f ms\n", shuffledBest.shown);
        std::printf("    ratio                    %9.2f   (target <= 3)\n", shuffledBest.shown / wc);
        std::printf("    first paint              %9.1f ms   (ratio %.2f)\n", shuffledBest.painted,
                    shuffledBest.painted / wc);
        QFile::remove(shuffled);
    }

    // The last file written, in file order, followed.
    const QString path = dir.filePath(QStringLiteral("bench.log"));
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const double idle = IdleShare(*library, path, idleSeconds);
    if (idle < 0)
        return 1;
    std::printf("  following, idle %3d s      %9.3f %% of a core (target < 0.5)\n", idleSeconds,
                idle * 100.0);
    return 0;
}
