// Pictures of the viewer as a user sees it, for looking at by eye: the main
// window maximised on a file, the File and View menus (and the code pages),
// the About box, the export dialog and its delete question.
// Usage: orvane_snapshot OUTPUT_PREFIX [viewer arguments...]

#include "aboutdialog.h"
#include "exportdlg.h"
#include "loglibrary.h"
#include "mainframe.h"
#include "orvaneapp.h"
#include "orvaneview.h"
#include "stringtable.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

using namespace orvane;

static void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvane_snapshot OUTPUT_PREFIX [viewer arguments...]\n");
        return 2;
    }
    SetLanguage(DetectLanguage());
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    std::unique_ptr<LogLibrary> library = MakeTamsinLibrary();
    COrvaneApp orvaneApp(*library, QStringLiteral("orvane-snapshot-%1").arg(app.applicationPid()));
    if (!orvaneApp.InitInstance(arguments))
        return 1;
    CMainFrame *frame = orvaneApp.mainFrame();
    // A bare X server has no window manager to maximise it.
    frame->setGeometry(frame->screen()->availableGeometry());
    Settle(800);
    frame->view()->selectRow(frame->view()->model()->rowCount() - 3);
    Settle(200);
    bool ok = frame->grab().save(prefix + QStringLiteral("-main.png"));

    QMenu *fileMenu = frame->menuBar()->actions().first()->menu();
    fileMenu->popup(frame->mapToGlobal(QPoint(0, frame->menuBar()->height())));
    Settle(400);
    ok = fileMenu->grab().save(prefix + QStringLiteral("-menu.png")) && ok;
    fileMenu->hide();

    // The View menu with its code page list open.
    QMenu *viewMenu = frame->menuBar()->actions().at(1)->menu();
    viewMenu->popup(frame->mapToGlobal(QPoint(40, frame->menuBar()->height())));
    Settle(300);
    QMenu *codePages = viewMenu->actions().constLast()->menu();
    if (codePages) {
        viewMenu->setActiveAction(viewMenu->actions().constLast());
        codePages->popup(viewMenu->mapToGlobal(QPoint(viewMenu->width(), 0)));
        Settle(300);
        ok = codePages->grab().save(prefix + QStringLiteral("-codepages.png")) && ok;
        codePages->hide();
    }
    ok = viewMenu->grab().save(prefix + QStringLiteral("-view.png")) && ok;
    viewMenu->hide();

    CAboutDlg about(frame);
    about.show();
    Settle(400);
    ok = about.grab().save(prefix + QStringLiteral("-about.png")) && ok;
    about.hide();

    CExportDlg exportDialog(*library, frame);
    exportDialog.show();
    Settle(400);
    ok = exportDialog.grab().save(prefix + QStringLiteral("-export.png")) && ok;

    // The delete question as it comes up, answered No.
    exportDialog.deleteButton->setChecked(true);
    QTimer::singleShot(600, [&] {
        QWidget *box = QApplication::activeModalWidget();
        ok = box && box != &exportDialog && box->grab().save(prefix + "-delete.png") &&
             box->close() && ok;
    });
    exportDialog.OnOK();
    return ok ? 0 : 1;
}
