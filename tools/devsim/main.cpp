// quillet-devsim: plays the SMS device (station 247 with a GSM modem inside)
// on a pseudo-terminal, for tests, demos and commissioning without hardware.
// Run with --help for the options; README.md has a worked example.

#include "control.h"
#include "messageline.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace devsim;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

int Fail(const QString &message)
{
    std::fprintf(stderr, "quillet-devsim: %s\n", qPrintable(message));
    return 2;
}

// "0102:0304:0506:0708" (four registers) or "0102030405060708" (eight bytes).
bool ParseSerial(const QString &text, std::array<quint16, RegisterCount> &registers)
{
    QStringList groups = text.split(u':');
    if (groups.size() == 1 && text.size() == 16) {
        groups.clear();
        for (int i = 0; i < 4; ++i)
            groups << text.mid(i * 4, 4);
    }
    if (groups.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint v = groups[i].toUInt(&ok, 16);
        if (!ok || groups[i].size() > 4)
            return false;
        registers[size_t(RegSerial + i)] = quint16(v);
    }
    return true;
}

// Removes the symlink it made when the program ends.
struct LinkGuard
{
    QString path;
    ~LinkGuard()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillet-devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the SMS device of the Quillet logger on a pseudo-terminal: station "
                       "247 answering register reads and AT pass-through frames, with a GSM modem "
                       "in text mode and a SIM message store inside; or, with --direct, a plain "
                       "GSM modem answering AT text on the pty.\n\n"
                       "The first line on standard output is the path of the pty to open; every "
                       "control command answers one line (\"ok ...\" or \"error: ...\").\n\n"
                       "Input registers: 0 device type, 1 version, 2..5 serial number, 6 link.\n"
                       "Function 0x50: sub-code 0x65 hands AT text to the modem, 0x66 reads its "
                       "answer so far (GSM 7-bit codes, growing while the modem types).\n\n") +
        Simulator::CommandHelp());
    parser.addHelpOption();
    const QList<QCommandLineOption> options{
        {"link", "Also reach the pty through a symlink at <path> (removed at exit).", "path"},
        {"serial",
         "Product serial number in registers 2..5: four hex registers "
         "0102:0304:0506:0708 (the default) or 16 hex digits.",
         "hex"},
        {"device-type", "Register 0, the device type (default 4000).", "hex", "4000"},
        {"capacity", "Slots in the SIM store (default 30).", "n", "30"},
        {"first-slot", "Number of the first slot (default 1).", "n", "1"},
        {"message", "Preload one message line (see deliver). Repeatable.", "line"},
        {"messages",
         "Preload the message lines of <file> (# starts a comment; a dump is such a "
         "file).",
         "file"},
        {"control", "Read control commands from the FIFO <path> (created when missing).", "path"},
        {"control-socket",
         "Accept control commands on the unix socket <path>; each gets its "
         "answer line back.",
         "path"},
        {"stdin", "Read control commands from standard input (its end ends the commands, not "
                  "the device)."},
        {"state-file", "Write the store dump to <file> at start and after every change.", "file"},
        {"direct", "A plain GSM modem: AT text straight on the pty, no device frames."},
        {"lengths",
         "What the length field of a GSM text counts: characters (the default), septets, "
         "or characters miscounted by one (longer, shorter).",
         "what", "characters"},
        {"headers",
         "What AT+CSDH=1 gets: detailed (the default), short (taken, short headers all the "
         "same), refused (ERROR, short headers).",
         "how", "detailed"},
        {"stamps",
         "How time stamps are spelled: standard (yy/MM/dd,hh:mm:ss+zz), four-digit-year "
         "(yyyy/M/d,hh:mm:ss), blank (yyyy/MM/dd hh:mm:ss+zz).",
         "how", "standard"},
        {"spacing",
         "Blanks in +CMGR headers: standard, wide (after every comma), tight (none after "
         "the colon).",
         "how", "standard"},
        {"cpms-ok", "Whether AT+CPMS? ends with OK (on, the default) or with its line (off).",
         "on|off", "on"},
        {"memories", "Memories AT+CPMS= takes, 1 to 3 (default 3); more get ERROR.", "n", "3"},
        {"prefix",
         "Whether the modem looks past what comes before AT on a line: skip (the default) "
         "or strict (ERROR).",
         "how", "skip"},
        {"urc-answers",
         "Volunteer lines around every answer: off, before, after, around, inside "
         "(AT+CPMS? answers).",
         "where", "off"},
        {"urc-delivery", "Volunteer +CMTI for every message delivered."},
        {"latency", "Modem answer latency in milliseconds (default 0).", "ms", "0"},
        {"type-rate",
         "Characters per second the modem types its answers (default 1000; 0: at "
         "once).",
         "cps", "1000"},
        {"baud", "Pace answers like a serial line at this rate, e.g. 9600 (default: off).", "rate"},
        {"bad-crc", "Share of answers with a wrong CRC, percent.", "pct", "0"},
        {"drop", "Share of answers never sent, percent.", "pct", "0"},
        {"truncate", "Share of answers cut short, percent.", "pct", "0"},
        {"exception", "Answer pass-through requests with this exception code (1, 4, 160, 161...).",
         "code"},
        {"exception-share", "Share of requests that get the exception, percent (default 100).",
         "pct", "100"},
        {"exception-all", "Give the exception to register reads too."},
        {"pin-wait", "The SIM starts waiting for its PIN."},
        {"pin", "The PIN that AT+CPIN= accepts (default 0000).", "pin", "0000"},
        {"silent", "Start as a device that does not answer."},
        {"storages", "Storages listed by AT+CPMS? (2 or 3, default 3).", "n", "3"},
        {"cmee", "Initial error report mode of the modem (0, 1, 2; default 0).", "n", "0"},
        {"service-centre", "Service-centre number in message headers.", "number", "+85290000000"},
        {"seed", "Seed for the fault shares (default fixed, so runs repeat).", "n"},
        {"gap", "Silence in ms that ends a half-received request (default 50).", "ms", "50"},
        {"verbose", "Log every frame and what the device did to standard error."},
        {"exit-with-parent", "End when the process that started the simulator ends (for test "
                             "harnesses, so no simulator outlives its test)."},
    };
    parser.addOptions(options);
    parser.process(app);

    QString error;
    bool ok1 = false, ok2 = false;
    const int capacity = parser.value("capacity").toInt(&ok1);
    const int firstSlot = parser.value("first-slot").toInt(&ok2);
    if (!ok1 || !ok2 || capacity < 1 || capacity > 1000 || firstSlot < 0 || firstSlot > 65535)
        return Fail(QStringLiteral("--capacity must be 1..1000 and --first-slot 0..65535"));

    Simulator sim(capacity, firstSlot);
    auto &registers = sim.device().registers();
    if (parser.isSet("serial") && !ParseSerial(parser.value("serial"), registers))
        return Fail(QStringLiteral("--serial wants 0102:0304:0506:0708 or 16 hex digits"));
    bool okType = false;
    registers[RegDeviceType] = quint16(parser.value("device-type").toUInt(&okType, 16));
    if (!okType)
        return Fail(QStringLiteral("--device-type wants a hexadecimal number"));

    // Fault options are the control commands of the same name, so both behave alike.
    QStringList commands{
        "latency " + parser.value("latency"), "typerate " + parser.value("type-rate"),
        "badcrc " + parser.value("bad-crc"), "urc answers " + parser.value("urc-answers")};
    for (const char *name : {"drop", "truncate", "storages", "cmee", "lengths", "headers", "stamps",
                             "spacing", "cpms-ok", "memories", "prefix"})
        commands << QLatin1String(name) + u' ' + parser.value(QLatin1String(name));
    if (parser.isSet("urc-delivery"))
        commands << QStringLiteral("urc delivery on");
    if (parser.isSet("baud"))
        commands << "baud " + parser.value("baud");
    if (parser.isSet("exception"))
        commands << QStringLiteral("exception %1 %2 %3")
                        .arg(parser.value("exception"), parser.value("exception-share"),
                             parser.isSet("exception-all") ? "all" : "at");
    if (parser.isSet("pin-wait"))
        commands << QStringLiteral("pin on");
    if (parser.isSet("silent"))
        commands << QStringLiteral("silent on");
    for (const QString &command : commands) {
        const QString answer = sim.execute(command);
        if (answer.startsWith(QLatin1String("error")))
            return Fail(QStringLiteral("--%1").arg(command) + u' ' + answer);
    }
    sim.modem().settings().pin = parser.value("pin");
    sim.modem().settings().serviceCentre = parser.value("service-centre");
    if (parser.isSet("seed"))
        sim.device().seed(parser.value("seed").toUInt());
    sim.setGapMs(qMax(1, parser.value("gap").toInt()));
    sim.setDirect(parser.isSet("direct"));
    sim.setVerbose(parser.isSet("verbose"));

    // Preloaded messages: from a file first, then from --message in order.
    QStringList preload;
    if (parser.isSet("messages")) {
        QFile file(parser.value("messages"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return Fail(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        int number = 0;
        QTextStream in(&file);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            ++number;
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            QString answer;
            if (!sim.deliver(line, answer))
                return Fail(
                    QStringLiteral("%1:%2: %3").arg(file.fileName()).arg(number).arg(answer));
        }
    }
    for (const QString &line : parser.values("message")) {
        QString answer;
        if (!sim.deliver(line, answer))
            return Fail(QStringLiteral("--message %1: %2").arg(line, answer));
    }
    if (parser.isSet("state-file")) {
        sim.setStateFile(parser.value("state-file"));
        if (!sim.writeDump(parser.value("state-file"), error))
            return Fail(error);
    }

    if (!sim.port().open(error))
        return Fail(error);

    LinkGuard link;
    if (parser.isSet("link")) {
        const QString path = parser.value("link");
        const QFileInfo info(path);
        if (info.exists() && !info.isSymLink())
            return Fail(QStringLiteral("%1 exists and is not a symlink; not replaced").arg(path));
        QFile::remove(path);
        if (!QFile::link(sim.port().slavePath(), path))
            return Fail(QStringLiteral("cannot create the symlink %1").arg(path));
        link.path = path;
    }

    ControlChannel control([&sim](const QString &line) { return sim.execute(line); });
    if (parser.isSet("control") && !control.openFifo(parser.value("control"), error))
        return Fail(error);
    if (parser.isSet("control-socket") &&
        !control.openSocket(parser.value("control-socket"), error))
        return Fail(error);
    if (parser.isSet("stdin"))
        control.openStdin();

    if (parser.isSet("exit-with-parent")) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return Fail(QStringLiteral("the parent is already gone"));
    }

    // SIGINT, SIGTERM and SIGHUP end the event loop, so the link, FIFO and socket are removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return Fail(QStringLiteral("cannot set up signal handling"));
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);
    QObject::connect(&sim, &Simulator::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    // Everything is in place: the path on the first line tells clients they may start.
    PrintOut(sim.port().slavePath());
    return app.exec();
}
