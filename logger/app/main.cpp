#include "dialogs.h"
#include "qtboxes.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // The logger lives on in the tray when its window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    quillet::InstallQtMessageBoxes();
    // Tools > Settings and Help > About open the dialogs, which live above the core.
    quillet::InstallDialogWiring();
    return quillet::RunQuillet();
}
