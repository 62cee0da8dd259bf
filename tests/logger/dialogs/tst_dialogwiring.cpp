// The menus of the main window open the dialogs: one settings dialog at a
// time, loaded from the running settings and modal over the program, and the
// About box; wiring happens when the main window is first shown.

#include "boxrecorder.h"
#include "dialogs.h"
#include "frmabout.h"
#include "frmsettings.h"
#include "globals.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using namespace quillet;
using quillet::test::BoxRecorder;

namespace {

template <typename T> QList<T *> visibleTopLevels()
{
    QList<T *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<T *>(w); d && d->isVisible())
            out << d;
    return out;
}

void closeAll()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog *>(w))
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class tst_DialogWiring : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        G = GlobalState{};
        G.LogFilePath = QStringLiteral("Running.log");
        G.COMPORT = QStringLiteral("COM2");
    }
    void cleanup() { closeAll(); }

    void menusOpenTheDialogs()
    {
        BoxRecorder boxes;
        InstallDialogWiring();
        frmMain form;
        form.show(); // wiring happens here

        form.mnuToolsSettings->trigger();
        QList<frmSettings *> open = visibleTopLevels<frmSettings>();
        QCOMPARE(open.size(), 1);
        QCOMPARE(open.first()->txtLogFilePath->text(), QStringLiteral("Running.log"));
        QCOMPARE(open.first()->windowModality(), Qt::ApplicationModal);

        form.mnuToolsSettings->trigger(); // a second request brings the same one up
        QCOMPARE(visibleTopLevels<frmSettings>().size(), 1);

        // Closing unloads it; the next opening starts again from the settings.
        open.first()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(visibleTopLevels<frmSettings>().isEmpty());
        G.LogFilePath = QStringLiteral("Changed.log");
        form.mnuToolsSettings->trigger();
        QCOMPARE(visibleTopLevels<frmSettings>().first()->txtLogFilePath->text(),
                 QStringLiteral("Changed.log"));
        closeAll();

        form.mnuHelpAbout->trigger();
        const QList<frmAbout *> about = visibleTopLevels<frmAbout>();
        QCOMPARE(about.size(), 1);
        QCOMPARE(about.first()->lblSN->text(), QStringLiteral("S/N: ")); // no device
        QCOMPARE(boxes.count(), 0);
    }
};

QTEST_MAIN(tst_DialogWiring)
#include "tst_dialogwiring.moc"
