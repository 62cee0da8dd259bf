#include "mainwindow.h"

#include "centralsender.h"
#include "globals.h"
#include "hostservices.h"
#include "pipeline.h"
#include "timetext.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace quillet {

namespace {

// The two state icons: a bell on green (online) or grey (offline).
QIcon makeStateIcon(bool online)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor fill = online ? QColor(0x2e, 0x9d, 0x4f) : QColor(0x8a, 0x8f, 0x95);
        p.setBrush(fill);
        p.setPen(QPen(fill.darker(150), qMax(1.0, size / 16.0)));
        p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        // Bell: dome, rim and clapper.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        const qreal s = size;
        QPainterPath bell;
        bell.moveTo(0.30 * s, 0.66 * s);
        bell.cubicTo(0.30 * s, 0.30 * s, 0.38 * s, 0.22 * s, 0.50 * s, 0.22 * s);
        bell.cubicTo(0.62 * s, 0.22 * s, 0.70 * s, 0.30 * s, 0.70 * s, 0.66 * s);
        bell.lineTo(0.76 * s, 0.72 * s);
        bell.lineTo(0.24 * s, 0.72 * s);
        bell.closeSubpath();
        p.drawPath(bell);
        p.drawEllipse(QPointF(0.5 * s, 0.78 * s), 0.07 * s, 0.07 * s);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The client area: the newest message in three centred lines.
class MessageDisplay : public QWidget
{
public:
    explicit MessageDisplay(const frmMain &form, QWidget *parent) : QWidget(parent), m_form(form)
    {
        QFont f = font();
        f.setPointSizeF(f.pointSizeF() * 1.4);
        setFont(f);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
        // A right click belongs to the window (the silence question).
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const AlarmPipeline *pipeline = m_form.pipeline();
        if (!pipeline || pipeline->LastSMSPhoneNo.isEmpty())
            return;
        QPainter p(this);
        const QFontMetrics fm(font());
        const int h = fm.height();
        const int y = (height() - h) / 2;
        auto centred = [&](const QString &text, int top) {
            const int w = fm.horizontalAdvance(text);
            p.drawText(QRect((width() - w) / 2, top, w, h), Qt::AlignLeft | Qt::AlignTop, text);
        };
        centred(pipeline->LastSMSDate, y - h);
        centred(pipeline->LastSMSPhoneNo, y);
        centred(pipeline->LastSMSText, y + h);
    }

private:
    const frmMain &m_form;
};

} // namespace

ProcessStarter frmMain::setProcessStarter(ProcessStarter starter)
{
    return std::exchange(m_processStarter, std::move(starter));
}

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillet "));
    setWindowIcon(makeStateIcon(true));
    // Above the newest message, in red, what keeps the logger from its work;
    // hidden while nothing does.
    auto *client = new QWidget(this);
    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_panelNote = new QLabel(client);
    m_panelNote->setWordWrap(true);
    m_panelNote->setContentsMargins(6, 4, 6, 4);
    m_panelNote->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_panelNote->setAutoFillBackground(true);
    m_panelNote->setBackgroundRole(QPalette::Base);
    m_panelNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_panelNote->hide();
    m_display = new MessageDisplay(*this, client);
    layout->addWidget(m_panelNote);
    layout->addWidget(m_display, 1);
    setCentralWidget(client);

    buildMenus();
    buildStatusBar();
    // Rows waiting for the central database are counted in the Action panel.
    OnCentralStatusChanged(this, [this] { LoadFormObj(); });

    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(QStringLiteral("Quillet"));
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick)
            ShowFromTray();
        else if (r == QSystemTrayIcon::Context)
            PopupTrayMenu(QCursor::pos());
    });

    // The design size of the client area (5904 x 4308 twips at 15 twips a pixel).
    resize(394, 287 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() = default;

void frmMain::attach(AlarmPipeline &pipeline)
{
    m_pipeline = &pipeline;
    m_sound.setSettings(pipeline.settings());
    connect(&pipeline, &AlarmPipeline::messageShown, this, [this] {
        ShowSMSInForm();
        m_sound.PlaySoundAlert();
    });
    connect(&pipeline, &AlarmPipeline::countChanged, this, &frmMain::LoadFormObj);
    connect(&pipeline, &AlarmPipeline::problemNoted, this, &frmMain::LoadFormObj);
    connect(&pipeline, &AlarmPipeline::storeStateChanged, this, &frmMain::LoadFormObj);
    connect(&pipeline, &AlarmPipeline::stateChanged, this, [this](bool online) {
        ApplyConnectionState(online);
        LoadFormObj();
    });
    connect(&pipeline, &AlarmPipeline::healthChanged, this, &frmMain::ShowHealth);
    connect(&pipeline, &AlarmPipeline::conditionBegan, this, &frmMain::ShowHealth);
    connect(&pipeline, &AlarmPipeline::conditionEnded, this, &frmMain::ShowHealth);
    ShowHealth();
    connect(&pipeline, &AlarmPipeline::exitAsked, this, [this] {
        if (IsInTray)
            show();
    });
    connect(&pipeline, &AlarmPipeline::exiting, this, [this] {
        if (IsInTray)
            SetTrayIcon(TrayAction::Delete);
        Unload();
    });
}

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
    connect(mnuFileOnLine, &QAction::triggered, this, [this] {
        if (m_pipeline)
            m_pipeline->OnlineCommand();
    });
    connect(mnuFileOffLine, &QAction::triggered, this, [this] {
        if (m_pipeline)
            m_pipeline->GoOffline();
    });
    connect(mnuFileShowForm, &QAction::triggered, this, [this] { ShowFormCommand(); });
    connect(mnuFileSysExit, &QAction::triggered, this, [this] {
        if (m_pipeline)
            m_pipeline->ExitSystem(true);
    });

    mnuTools = menuBar()->addMenu(QStringLiteral("Tools"));
    mnuToolsSettings = mnuTools->addAction(QStringLiteral("Settings"));
    mnuToolsBar1 = mnuTools->addSeparator();
    mnuToolsViewWarningMessage = mnuTools->addAction(QStringLiteral("View Messages"));
    connect(mnuToolsSettings, &QAction::triggered, this, &frmMain::settingsRequested);
    connect(mnuToolsViewWarningMessage, &QAction::triggered, this, [this] {
        StartViewer(m_pipeline ? m_pipeline->settings().LogFileFullPath : G.LogFileFullPath);
    });

    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelpContents = mnuHelp->addAction(QStringLiteral("Content (&C) ..."));
    mnuHelpContents->setVisible(false);
    mnuHelpBar1 = mnuHelp->addSeparator();
    mnuHelpBar1->setVisible(false);
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About (&A) ..."));
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::aboutRequested);

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
    m_panelHealth = panel(QString(), 0);
    m_panelHealth->hide();
    m_panelDate = panel(QString(), 0);
    m_panelTime = panel(QString(), 0);
    statusBar()->setSizeGripEnabled(false);

    m_clock = new QTimer(this);
    auto tick = [this] {
        const QDateTime now = QDateTime::currentDateTime();
        m_panelDate->setText(timetext::Format(now, timetext::Parts::Date));
        m_panelTime->setText(timetext::Format(now, timetext::Parts::Time));
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
    if (key == QLatin1String("Note"))
        return m_panelNote->text();
    if (key == QLatin1String("Health"))
        return m_panelHealth->text();
    return QString();
}

void frmMain::setStatusPanelText(const QString &key, const QString &text)
{
    QLabel *panel = key == QLatin1String("Status")   ? m_panelStatus
                    : key == QLatin1String("Action") ? m_panelAction
                    : key == QLatin1String("Note")   ? m_panelNote
                    : key == QLatin1String("Health") ? m_panelHealth
                                                     : nullptr;
    if (!panel || panel->text() == text)
        return;
    panel->setText(text);
    if (panel == m_panelNote) {
        panel->setToolTip(text);
        panel->setVisible(!text.isEmpty());
    } else if (!panel->isHidden()) {
        // The window's first width leaves little room once the health panel
        // shows: it grows (never shrinks) so that no panel is cut.
        int wanted = 12; // the bar's margins
        for (const QLabel *p :
             {m_panelStatus, m_panelAction, m_panelHealth, m_panelDate, m_panelTime})
            if (!p->isHidden())
                wanted += p->sizeHint().width() + 8; // spacing beside it

        if (wanted > width())
            resize(wanted, height());
    }
    emit statusPanelsChanged();
}

void frmMain::LoadFormObj()
{
    QString text =
        QStringLiteral("SMS count : %1").arg(m_pipeline ? m_pipeline->ReceivedSMSCount : 0);
    // What was recorded is then only remembered in memory: a restart could
    // record a message kept on the SIM a second time.
    const bool storeFailed = m_pipeline && m_pipeline->Received().writeFailed();
    if (storeFailed)
        text += QStringLiteral(" Quillet.rcv!");
    const QString central = CentralStatusText();
    if (!central.isEmpty())
        text += QStringLiteral(", ") + central;
    setStatusPanelText(QStringLiteral("Action"), text);
    // Red too while rows cannot reach the central database.
    m_panelAction->setStyleSheet(storeFailed || central.endsWith(QLatin1Char('!'))
                                     ? QStringLiteral("color: #c00000;")
                                     : QString());
    m_panelAction->setToolTip(storeFailed ? QStringLiteral("Quillet.rcv cannot be written: what "
                                                           "was recorded is kept in memory only, "
                                                           "and written again at every poll.")
                                          : CentralStatusDetail());
    setStatusPanelText(QStringLiteral("Note"), m_pipeline ? m_pipeline->Problems() : QString());
}

void frmMain::ShowHealth()
{
    if (!m_pipeline)
        return;
    const SupervisionState &state = m_pipeline->Supervision();
    const HealthFigures &f = state.figures;
    const bool on = !state.conditions.isEmpty();

    // The window is narrow: a condition on takes the whole panel (the
    // tooltip has the figures), otherwise only the figures known so far.
    QStringList parts;
    if (on) {
        parts << state.conditions.first().keyword +
                     (state.conditions.size() > 1
                          ? QStringLiteral(" +%1").arg(state.conditions.size() - 1)
                          : QString());
    } else if (state.healthChecks) {
        if (f.signalDbm)
            parts << QStringLiteral("%1 dBm").arg(*f.signalDbm);
        // Registered (home or roaming) goes without saying.
        if (f.registration >= 0 && !f.registered)
            parts << QStringLiteral("no network");
        if (f.simTotal > 0)
            parts << QStringLiteral("%1/%2").arg(f.simUsed).arg(f.simTotal);
    }
    m_panelHealth->setVisible(!parts.isEmpty());
    setStatusPanelText(QStringLiteral("Health"), parts.join(QLatin1Char(' ')));
    m_panelHealth->setStyleSheet(on ? QStringLiteral("color: #c00000;") : QString());

    QStringList tip;
    if (state.healthChecks) {
        tip << QStringLiteral("Network: ") +
                   (f.registration >= 0 ? f.registrationName : QStringLiteral("not known yet"));
        tip << QStringLiteral("Signal: ") + (f.signalDbm
                                                 ? QStringLiteral("%1 dBm").arg(*f.signalDbm)
                                                 : QStringLiteral("not known"));
        tip << (f.simTotal > 0
                    ? QStringLiteral("SIM: %1 of %2 messages").arg(f.simUsed).arg(f.simTotal)
                    : QStringLiteral("SIM: not counted yet"));
        if (f.checkedAt.isValid())
            tip << QStringLiteral("Last checked: ") + timetext::Format(f.checkedAt);
    }
    for (const SupervisionCondition &c : state.conditions)
        tip << c.keyword + QLatin1Char(' ') + c.detail;
    if (!on)
        tip << QStringLiteral("No condition of the alarm path is on.");
    m_panelHealth->setToolTip(tip.join(QLatin1Char('\n')));
}

void frmMain::ShowSMSInForm()
{
    m_display->update();
}

QIcon frmMain::stateIcon() const
{
    static const QIcon online = makeStateIcon(true);
    static const QIcon offline = makeStateIcon(false);
    return TrayIconImage == TrayImage::Online ? online : offline;
}

void frmMain::ApplyConnectionState(bool online)
{
    mnuFileOnLine->setChecked(online);
    mnuFileOffLine->setChecked(!online);
    setStatusPanelText(QStringLiteral("Status"),
                       online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    TrayIconImage = online ? TrayImage::Online : TrayImage::Offline;
    if (IsInTray)
        SetTrayIcon(TrayAction::Modify);
}

bool frmMain::SetTrayIcon(TrayAction action)
{
    switch (action) {
    case TrayAction::Add:
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return false;
        m_tray->setIcon(stateIcon());
        m_tray->setToolTip(QStringLiteral("Quillet"));
        m_tray->show();
        IsInTray = true;
        return true;
    case TrayAction::Modify:
        m_tray->setIcon(stateIcon());
        return true;
    case TrayAction::Delete:
        m_tray->hide();
        IsInTray = false;
        return true;
    }
    return false;
}

void frmMain::HideToTray()
{
    if (!IsInTray)
        SetTrayIcon(TrayAction::Add);
    if (IsInTray) {
        hide();
        return;
    }
    // No tray on this desktop: hiding would leave the window unreachable, so
    // it is only minimised.
    if (!isMinimized())
        showMinimized();
}

void frmMain::ShowFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmMain::ShowFormCommand()
{
    mnuFileShowForm->setVisible(false);
    mnuFileSysExit->setVisible(true);
    ShowFromTray();
}

void frmMain::PopupTrayMenu(const QPoint &pos)
{
    mnuFileShowForm->setVisible(true);
    mnuFileSysExit->setVisible(false);
    mnuFile->popup(pos);
}

QString frmMain::ViewerProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/orvane");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("orvane"));
    return onPath.isEmpty() ? QStringLiteral("orvane") : onPath;
}

bool frmMain::StartViewer(const QString &path)
{
    const QString program = ViewerProgram();
    const QStringList args{path, QStringLiteral("-na")};
    if (m_processStarter)
        return m_processStarter(program, args);
    return QProcess::startDetached(program, args);
}

void frmMain::Unload()
{
    m_unloading = true;
    m_tray->hide();
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    // The close box hides the logger to the tray; it keeps polling there.
    event->ignore();
    HideToTray();
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_unloading &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        // Hide to the tray; the next show brings the window back un-minimised.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            HideToTray();
        });
    }
}

void frmMain::mouseReleaseEvent(QMouseEvent *event)
{
    QMainWindow::mouseReleaseEvent(event);
    if (event->button() != Qt::RightButton || !m_sound.IsSoundPlaying)
        return;
    // Asked without waiting: this may run in the middle of a poll, which
    // goes on while the question is open.
    MsgBoxAsync(QStringLiteral("Press OK to silence the alert sound!"), BoxButtons::OkCancel,
                BoxIcon::Question, QStringLiteral("Silence the alert sound"),
                [sound = QPointer<SoundAlert>(&m_sound)](BoxAnswer answer) {
                    if (answer == BoxAnswer::Ok && sound)
                        sound->StopSoundAlert();
                });
}

} // namespace quillet
