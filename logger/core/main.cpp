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
    return quillet::RunQuillet();
}
