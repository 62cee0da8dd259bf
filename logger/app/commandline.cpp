#include "commandline.h"

namespace quillet::app {

namespace {

QString helpText()
{
    return QStringLiteral(
        "Usage: quillet [--help | --version]\n"
        "\n"
        "Quillet logs the alarm text messages on the SIM of an SMS device. It takes\n"
        "no other arguments: it reads Quillet.set, GSMCodeMap.cod and Quillet.sys\n"
        "from its current folder and appends one line per alarm to its history log.\n"
        "\n"
        "Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it runs headless:\n"
        "no window, and every message box is written to standard error as\n"
        "\"title: text\". Under systemd (NOTIFY_SOCKET) it reports start-up, its state\n"
        "and a watchdog heartbeat from the poll cycle. SIGTERM, SIGINT and the end of\n"
        "the desktop session end it in order.\n"
        "\n"
        "  --help      show this text and exit\n"
        "  --version   show the version and exit\n");
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {CommandAction::Run, QString()};
    const QString &first = arguments.first();
    if (arguments.size() == 1 && (first == QLatin1String("--help") || first == QLatin1String("-h")))
        return {CommandAction::Help, helpText()};
    if (arguments.size() == 1 && first == QLatin1String("--version"))
        return {CommandAction::Version,
                QStringLiteral("quillet %1\n").arg(QStringLiteral(QUILLET_VERSION))};
    const QString odd = (first == QLatin1String("--help") || first == QLatin1String("-h") ||
                         first == QLatin1String("--version"))
                            ? arguments.at(1)
                            : first;
    return {CommandAction::Refuse,
            QStringLiteral("quillet: unexpected argument '%1'\n"
                           "Quillet takes no arguments but --help or --version; its settings are "
                           "in Quillet.set in the folder it runs in.\n")
                .arg(odd)};
}

} // namespace quillet::app
