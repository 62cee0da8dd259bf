#include "dialogs.h"

#include "frmabout.h"
#include "frmsettings.h"
#include "mainwindow.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>

namespace quillet {

namespace {

void showModal(QDialog *dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// Watches for the main window's first show and wires its menus then; the
// window is created inside the start-up code, which runs before any menu can
// be chosen but after the entry has handed over.
class WiringFilter : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *form = qobject_cast<frmMain *>(watched)) {
                qApp->removeEventFilter(this);
                ConnectDialogs(*form);
                deleteLater();
            }
        }
        return false;
    }
};

} // namespace

void ShowSettingsDialog(QWidget *parent)
{
    static QPointer<frmSettings> open;
    if (open) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto *dialog = new frmSettings(parent);
    open = dialog;
    dialog->LoadFormObj();
    showModal(dialog);
}

void ShowAboutBox(QWidget *parent)
{
    static QPointer<frmAbout> open;
    static bool reading = false;
    if (reading)
        return; // still asking the device for the first one
    if (open) {
        open->raise();
        open->activateWindow();
        return;
    }
    reading = true;
    open = new frmAbout(parent);
    reading = false;
    showModal(open);
}

void ConnectDialogs(frmMain &form)
{
    QObject::connect(&form, &frmMain::settingsRequested, &form,
                     [&form] { ShowSettingsDialog(&form); });
    QObject::connect(&form, &frmMain::aboutRequested, &form, [&form] { ShowAboutBox(&form); });
}

void InstallDialogWiring()
{
    qApp->installEventFilter(new WiringFilter(qApp));
}

} // namespace quillet
