#pragma once
// The logger's command line: it takes its settings from Quillet.set in its
// current folder, so the only arguments are the two that every program on
// this system answers, and the question a monitoring system asks.

#include <QString>
#include <QStringList>

namespace quillet::app {

enum class CommandAction
{
    Run,
    Help,
    Version,
    Status,
    Refuse
};

struct CommandLine
{
    CommandAction action = CommandAction::Run;
    // Help and Version: the text for standard output. Refuse: the reason for
    // standard error.
    QString text;
    // Status: the configuration folder (empty: the current one), and whether
    // a program asks.
    QString folder;
    bool json = false;
};

// `arguments` without the program name.
CommandLine ParseCommandLine(const QStringList &arguments);

// The exit code of a refused command line (as for any usage error).
constexpr int RefusedExitCode = 2;

} // namespace quillet::app
