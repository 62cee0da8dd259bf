#pragma once
// The logger against the device simulator over a real pty, in a fresh folder
// per run, on either kind of line: the framed SMS device, or a plain GSM
// modem (the simulator's --direct mode, DEVICE=modem). Tests take the line as
// a data column, so one test makes its run on both.

#include "devsimclient.h"
#include "globals.h"
#include "pipeline.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace quillet::test {

enum class Line
{
    Device,
    PlainModem,
};

inline QString LineName(Line line)
{
    return line == Line::Device ? QStringLiteral("device") : QStringLiteral("plain modem");
}

// One row per line, "device: NAME" and "plain modem: NAME", in a table whose
// first column is the int "line"; `fill` streams the other columns.
inline void NewRowOnBothLines(const QString &name, const std::function<void(QTestData &)> &fill)
{
    for (Line line : {Line::Device, Line::PlainModem})
        fill(QTest::newRow(qPrintable(LineName(line) + QStringLiteral(": ") + name)) << int(line));
}

// Slots still holding a message, from the simulator's state file.
inline QList<int> StoredSlots(const devsim::test::DevSimClient &sim)
{
    QList<int> used;
    const QString state = QString::fromUtf8(ReadFileBytes(sim.stateFile()));
    static const QRegularExpression slotRe(QStringLiteral("^slot=(\\d+) "),
                                           QRegularExpression::MultilineOption);
    auto it = slotRe.globalMatch(state);
    while (it.hasNext())
        used << it.next().captured(1).toInt();
    return used;
}

struct Delivery
{
    int slot;      // -1: the words name their slots (parts=... slots=...) or take the first free
    QString extra; // number=, text= and the rest, in control syntax
};

// Stores a message (or the parts of one) in the running simulator.
inline void Deliver(devsim::test::DevSimClient &sim, const Delivery &d)
{
    const QString slot = d.slot < 0 ? QString() : QStringLiteral("slot=%1 ").arg(d.slot);
    const QString answer = sim.control(QStringLiteral("deliver ") + slot + d.extra);
    QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(answer));
}

// What a restart of the logger renews: the driver made anew, and what was
// recorded and the waiting parts read back from their files.
inline void Restart(AlarmPipeline &pipeline)
{
    pipeline.TerminateDevice();
    pipeline.CreateDevice();
    pipeline.LoadReceivedStore();
}

// The settings a run's logger has: site map, zone identifiers removed,
// deletion on, the port `ptyPath` on `line`, the log in the current folder.
inline void RunSettings(GlobalState &s, const QString &ptyPath, Line line)
{
    s = GlobalState{};
    s.LogFilePath = QStringLiteral("Quillet.log");
    s.COMPORT = ptyPath;
    s.BAUDRATE = QStringLiteral("9600");
    s.DATABIT = QStringLiteral("8");
    s.PARITYBIT = QStringLiteral("None");
    s.STOPBIT = QStringLiteral("1");
    s.DEVICE = line == Line::PlainModem ? QStringLiteral("modem") : QStringLiteral("auto");
    s.EnableSitePhoneNumberMap = true;
    s.SitePhoneNumberCount = 3;
    s.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North Pump Station")};
    s.SitePhoneNumberMap[1] = {QStringLiteral("1234"), QStringLiteral("東區配水池")};
    s.SitePhoneNumberMap[2] = {QStringLiteral("TAIPOWER"), QStringLiteral("Power Company")};
    s.IsIgnoreZoneIdentifier = true;
    s.IsDeleteSMS = true;
}

// A simulator on `line` with the given deliveries.
inline void StartSimulator(std::unique_ptr<devsim::test::DevSimClient> &sim,
                           const QList<Delivery> &deliveries, const QStringList &simArgs, Line line)
{
    QStringList args{QStringLiteral("--type-rate"), QStringLiteral("100000")};
    if (line == Line::PlainModem)
        args << QStringLiteral("--direct");
    sim = std::make_unique<devsim::test::DevSimClient>();
    QVERIFY2(sim->start(args + simArgs), qPrintable(sim->error()));
    for (const Delivery &d : deliveries)
        Deliver(*sim, d);
}

// A fresh folder `folder` with the code map, the settings the logger runs
// on, in `sim` a simulator on `line` holding the given deliveries, and in
// `pipeline` the program's pipeline on it, with its driver.
inline void PrepareRun(const QString &folder, std::unique_ptr<devsim::test::DevSimClient> &sim,
                       std::unique_ptr<AlarmPipeline> &pipeline, const QList<Delivery> &deliveries,
                       const QStringList &simArgs = {}, Line line = Line::Device)
{
    QVERIFY(QDir().mkpath(folder));
    QDir::setCurrent(folder);
    QVERIFY(QFile::copy(QStringLiteral(QUILLET_GSMCODEMAP_FILE), QStringLiteral("GSMCodeMap.cod")));

    StartSimulator(sim, deliveries, simArgs, line);
    if (!sim)
        return;
    RunSettings(G, sim->ptyPath(), line);
    pipeline = std::make_unique<AlarmPipeline>(G);
    pipeline->CreateDevice();
    pipeline->LoadReceivedStore();
}

// What every rig keeps between its rows: a folder for the runs, the
// simulator and the pipeline over it. endRow() leaves nothing running (no
// tries of an offline pipeline) for the next row.
class RigMembers
{
protected:
    QTemporaryDir m_root;
    QString m_oldCwd;
    std::unique_ptr<devsim::test::DevSimClient> m_sim;
    std::unique_ptr<AlarmPipeline> m_pipeline;
    int m_run = 0;

    void endRow()
    {
        if (m_pipeline)
            m_pipeline->TerminateDevice();
        m_pipeline.reset();
        m_sim.reset();
        QDir::setCurrent(m_oldCwd);
    }
};

} // namespace quillet::test
