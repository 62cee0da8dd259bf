#include "commandline.h"

namespace quillet::app {

namespace {

QString helpText()
{
    return QStringLiteral(
        "Usage: quillet [--help | --version | --status [FOLDER] [--json]]\n"
        "\n"
        "Quillet logs the alarm text messages on the SIM of an SMS device. Run without\n"
        "arguments, it reads Quillet.set, GSMCodeMap.cod and Quillet.sys from its\n"
        "current folder and appends one line per alarm to its history log.\n"
        "\n"
        "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it runs headless:\n"
        "no window, and every message box is written to standard error as\n"
        "\"title: text\". Every change of its state goes to standard error once, led by\n"
        "its syslog priority (<3>, <4>, <6>). Under systemd (NOTIFY_SOCKET) it reports\n"
        "start-up, its state and a watchdog heartbeat from the poll cycle. SIGTERM,\n"
        "SIGINT and the end of the desktop session end it in order.\n"
        "\n"
        "  --help      show this text and exit\n"
        "  --version   show the version and exit\n"
        "  --status    show the state of the logger that runs in FOLDER (the folder\n"
        "              of its Quillet.set; the current folder by default) and exit\n"
        "              0 OK, 1 WARNING, 2 CRITICAL or 3 UNKNOWN (none runs there);\n"
        "              with --json, as JSON for programs\n");
}

CommandLine answer(CommandAction action, const QString &text)
{
    CommandLine command;
    command.action = action;
    command.text = text;
    return command;
}

CommandLine refused(const QString &odd)
{
    return answer(
        CommandAction::Refuse,
        QStringLiteral("quillet: unexpected argument '%1'\n"
                       "Quillet takes no arguments but --help, --version or --status; its "
                       "settings are in Quillet.set in the folder it runs in.\n")
            .arg(odd));
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return answer(CommandAction::Run, QString());
    const QString &first = arguments.first();
    if (arguments.size() == 1 && (first == QLatin1String("--help") || first == QLatin1String("-h")))
        return answer(CommandAction::Help, helpText());
    if (arguments.size() == 1 && first == QLatin1String("--version"))
        return answer(CommandAction::Version,
                      QStringLiteral("quillet %1\n").arg(QStringLiteral(QUILLET_VERSION)));
    if (first == QLatin1String("--status")) {
        CommandLine status = answer(CommandAction::Status, QString());
        for (const QString &argument : arguments.mid(1)) {
            if (argument == QLatin1String("--json") && !status.json)
                status.json = true;
            else if (!argument.startsWith(QLatin1Char('-')) && status.folder.isEmpty())
                status.folder = argument;
            else
                return refused(argument);
        }
        return status;
    }
    const QString odd = (first == QLatin1String("--help") || first == QLatin1String("-h") ||
                         first == QLatin1String("--version"))
                            ? arguments.at(1)
                            : first;
    return refused(odd);
}

} // namespace quillet::app
