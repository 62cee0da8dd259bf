#include "mainwindow.h"

#include "globals.h"
#include "startup.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

namespace quillet {

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillet "));
    buildMenus();
    buildStatusBar();
    // The design size of the client area (5904 x 4308 twips at 15 twips a pixel).
    resize(394, 287 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() = default;

void frmMain::buildMenus()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFileOnLine = mnuFile->addAction(QStringLiteral("Online"));
    mnuFileOffLine = mnuFile->addAction(QStringLiteral("Offline"));
    mnuFileOnLine->setCheckable(true);
    mnuFileOffLine->setCheckable(true);
    mnuFileOffLine->setChecked(true);
    mnuFileBar1 = mnuFile->addSeparator();
    mnuFileShowForm = mnuFile->addAction(QStringLiteral("Open Quillet"));
    mnuFileShowForm->setVisible(false);
    mnuFileSysExit = mnuFile->addAction(QStringLiteral("Exit"));
    connect(mnuFileSysExit, &QAction::triggered, this, [] { ExitSystem(true); });

    mnuTools = menuBar()->addMenu(QStringLiteral("Tools"));
    mnuToolsSettings = mnuTools->addAction(QStringLiteral("Settings"));
    mnuToolsBar1 = mnuTools->addSeparator();
    mnuToolsViewWarningMessage = mnuTools->addAction(QStringLiteral("View Messages"));

    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelpContents = mnuHelp->addAction(QStringLiteral("Content (&C) ..."));
    mnuHelpContents->setVisible(false);
    mnuHelpBar1 = mnuHelp->addSeparator();
    mnuHelpBar1->setVisible(false);
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About (&A) ..."));

    mnuSMenu = menuBar()->addMenu(QStringLiteral("小視窗"));
    mnuSMenu->menuAction()->setVisible(false);
}

void frmMain::buildStatusBar()
{
    auto panel = [this](const QString &text, int stretch) {
        auto *label = new QLabel(text, this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setContentsMargins(4, 0, 4, 0);
        statusBar()->addPermanentWidget(label, stretch);
        return label;
    };
    m_panelStatus = panel(QStringLiteral("Offline"), 0);
    m_panelAction = panel(QString(), 1);
    m_panelDate = panel(QString(), 0);
    m_panelTime = panel(QString(), 0);
    statusBar()->setSizeGripEnabled(false);

    m_clock = new QTimer(this);
    auto tick = [this] {
        const QDateTime now = QDateTime::currentDateTime();
        const QLocale locale;
        m_panelDate->setText(locale.toString(now.date(), QLocale::ShortFormat));
        m_panelTime->setText(locale.toString(now.time(), QLocale::ShortFormat));
    };
    connect(m_clock, &QTimer::timeout, this, tick);
    m_clock->start(1000);
    tick();
}

QString frmMain::statusPanelText(const QString &key) const
{
    if (key == QLatin1String("Status"))
        return m_panelStatus->text();
    if (key == QLatin1String("Action"))
        return m_panelAction->text();
    return QString();
}

void frmMain::setStatusPanelText(const QString &key, const QString &text)
{
    if (key == QLatin1String("Status"))
        m_panelStatus->setText(text);
    else if (key == QLatin1String("Action"))
        m_panelAction->setText(text);
}

void frmMain::LoadFormObj()
{
    setStatusPanelText(QStringLiteral("Action"),
                       QStringLiteral("SMS count : %1").arg(G.ReceivedSMSCount));
}

bool frmMain::GoOnline()
{
    // No device driver yet: the logger stays offline.
    GoOffline();
    return false;
}

void frmMain::GoOffline()
{
    mnuFileOffLine->setChecked(true);
    mnuFileOnLine->setChecked(false);
    setStatusPanelText(QStringLiteral("Status"), QStringLiteral("Offline"));
    G.TrayIconImage = TrayImage::Offline;
    G.IsOffline = true;
}

bool frmMain::SetTrayIcon(TrayAction action)
{
    if (action == TrayAction::Delete)
        G.IsInTray = false;
    return true;
}

void frmMain::CreateDevice() {}

void frmMain::TerminateDevice() {}

void frmMain::Unload()
{
    m_unloading = true;
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_unloading || event->spontaneous() == false) {
        event->accept();
        return;
    }
    event->ignore();
    ExitSystem(true);
}

} // namespace quillet
