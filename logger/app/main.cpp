#include "commandline.h"
#include "dialogs.h"
#include "entry.h"
#include "headless.h"
#include "mainwindow.h"
#include "qtboxes.h"
#include "status.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Read before Qt sees the arguments, so that --help works with no display
    // and no Qt option slips through.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const quillet::app::CommandLine command = quillet::app::ParseCommandLine(arguments);
    switch (command.action) {
    case quillet::app::CommandAction::Help:
    case quillet::app::CommandAction::Version:
        std::fputs(command.text.toLocal8Bit().constData(), stdout);
        return 0;
    case quillet::app::CommandAction::Refuse:
        std::fputs(command.text.toLocal8Bit().constData(), stderr);
        return quillet::app::RefusedExitCode;
    case quillet::app::CommandAction::Status: {
        QCoreApplication app(argc, argv);
        return quillet::app::RunStatusCommand(command.folder, command.json);
    }
    case quillet::app::CommandAction::Run:
        break;
    }

    quillet::app::ChooseHeadlessPlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // The logger lives on in the tray when its window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    quillet::InstallTranslations();
    quillet::InstallQtMessageBoxes();
    const bool headless = quillet::app::IsHeadless();
    // Tools > Settings and Help > About open the dialogs, which live above the core.
    if (!headless)
        quillet::InstallDialogWiring();
    return quillet::app::RunLogger(headless);
}
