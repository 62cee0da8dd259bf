#include "mainwindow.h"

#include "centralsender.h"
#include "globals.h"
#include "hostservices.h"
#include "pipeline.h"
#include "timetext.h"
#include "uilanguage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace quillet {

namespace {

// The tray's icons: a bell on green (online), on grey (offline), and ringing
// on red while alarms wait to be acknowledged, told apart by shape as well as
// colour.
QIcon makeStateIcon(TrayImage image)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor fill = image == TrayImage::Online    ? QColor(0x2e, 0x9d, 0x4f)
                            : image == TrayImage::Offline ? QColor(0x8a, 0x8f, 0x95)
                                                          : QColor(0xd3, 0x2f, 0x2f);
        p.setBrush(fill);
        p.setPen(QPen(fill.darker(150), qMax(1.0, size / 16.0)));
        p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        const qreal s = size;
        // Bell: dome, rim and clapper; narrower when ringing, to leave room
        // for the waves.
        const qreal half = image == TrayImage::Alarm ? 0.16 : 0.20;
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        QPainterPath bell;
        bell.moveTo((0.5 - half) * s, 0.66 * s);
        bell.cubicTo((0.5 - half) * s, 0.30 * s, 0.42 * s, 0.22 * s, 0.50 * s, 0.22 * s);
        bell.cubicTo(0.58 * s, 0.22 * s, (0.5 + half) * s, 0.30 * s, (0.5 + half) * s, 0.66 * s);
        bell.lineTo((0.56 + half) * s, 0.72 * s);
        bell.lineTo((0.44 - half) * s, 0.72 * s);
        bell.closeSubpath();
        p.drawPath(bell);
        p.drawEllipse(QPointF(0.5 * s, 0.78 * s), 0.07 * s, 0.07 * s);
        if (image == TrayImage::Alarm) {
            p.setPen(QPen(Qt::white, qMax(1.0, s / 14.0), Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            const QRectF wave(0.16 * s, 0.24 * s, 0.68 * s, 0.44 * s);
            p.drawArc(wave, 150 * 16, 60 * 16);
            p.drawArc(wave, -30 * 16, 60 * 16);
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The desktop font's size times this is a label's at the window's first size.
constexpr char FontScale[] = "quilletFontScale";

// A label that scales the desktop's font, wraps, and leaves the mouse to the
// window (a right click there is the silence question).
QLabel *scaledLabel(QWidget *parent, qreal scale, bool bold)
{
    auto *label = new QLabel(parent);
    label->setProperty(FontScale, scale);
    QFont f = label->font();
    f.setBold(bold);
    label->setFont(f);
    label->setWordWrap(true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

// Wraps a long alarm text in the last column: the view asks for a row's
// height without the column's width, which alone tells where the text breaks.
// The other columns size themselves to their contents, unbroken.
class WrappingDelegate : public QStyledItemDelegate
{
public:
    explicit WrappingDelegate(QTreeView *view) : QStyledItemDelegate(view), m_view(view) {}
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.column() != index.model()->columnCount() - 1)
            return QStyledItemDelegate::sizeHint(option, index);
        // The style breaks lines only inside a valid rectangle.
        QStyleOptionViewItem sized(option);
        sized.rect = QRect(0, 0, m_view->columnWidth(index.column()), option.fontMetrics.height());
        return QStyledItemDelegate::sizeHint(sized, index);
    }

private:
    QTreeView *m_view;
};

// How many recent alarms the list keeps; the log keeps them all.
constexpr int MaxAlarmRows = 500;

// White on these reads from across a room, on light and dark desktops alike.
const QColor CalmColour(0x2e, 0x7d, 0x32);
const QColor AlarmColour(0xc6, 0x28, 0x28);

QString conditionLine(const SupervisionCondition &c)
{
    QString line = c.keyword;
    if (!c.subject.isEmpty())
        line += QLatin1Char(' ') + c.subject;
    if (!c.detail.isEmpty())
        line += QStringLiteral(": ") + c.detail;
    return line;
}

} // namespace

bool InstallTranslations()
{
    if (!uilanguage::IsTraditionalChinese(uilanguage::UserLocaleName("QUILLET_LANG")))
        return false;
    static QTranslator own;
    static QTranslator qtTexts;
    if (!own.load(QStringLiteral(":/i18n/quillet_zh_TW.qm")))
        return false;
    QCoreApplication::installTranslator(&own);
    // The buttons of Qt's own boxes.
    if (qtTexts.load(QStringLiteral("qtbase_zh_TW"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    return true;
}

ProcessStarter frmMain::setProcessStarter(ProcessStarter starter)
{
    return std::exchange(m_processStarter, std::move(starter));
}

Notifier frmMain::setNotifier(Notifier notifier)
{
    return std::exchange(m_notifier, std::move(notifier));
}

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillet "));
    setWindowIcon(makeStateIcon(TrayImage::Online));
    buildMenus();
    setCentralWidget(buildClient());
    buildStatusBar();
    // Rows waiting for the central database are counted in the Action panel.
    OnCentralStatusChanged(this, [this] { LoadFormObj(); });

    m_tray = new QSystemTrayIcon(this);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick)
            ShowFromTray();
        else if (r == QSystemTrayIcon::Context)
            PopupTrayMenu(QCursor::pos());
    });
    // A click on the notification brings the window with the alarm up.
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, &frmMain::ShowFromTray);
    refreshBand();
    refreshAlerts();

    resize(720, 540);
    scaleFonts();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QWidget *frmMain::buildClient()
{
    auto *client = new QWidget(this);
    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The state band: its colour is the first thing seen from a distance.
    m_band = new QFrame(client);
    m_band->setObjectName(QStringLiteral("stateBand"));
    m_band->setAutoFillBackground(true);
    m_band->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *bandLayout = new QVBoxLayout(m_band);
    bandLayout->setContentsMargins(12, 6, 12, 6);
    bandLayout->setSpacing(2);
    m_bandTitle = scaledLabel(m_band, 1.8, true);
    m_bandDetail = scaledLabel(m_band, 1.15, false);
    bandLayout->addWidget(m_bandTitle);
    bandLayout->addWidget(m_bandDetail);
    layout->addWidget(m_band);

    // The newest message, centred in the desktop's colours.
    auto *message = new QWidget(client);
    message->setAutoFillBackground(true);
    message->setBackgroundRole(QPalette::Base);
    message->setForegroundRole(QPalette::Text);
    message->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *messageLayout = new QVBoxLayout(message);
    messageLayout->setContentsMargins(16, 12, 16, 12);
    messageLayout->setSpacing(4);
    m_messageDate = scaledLabel(message, 1.2, false);
    m_messageSite = scaledLabel(message, 1.7, true);
    m_messageText = scaledLabel(message, 2.2, false);
    for (QLabel *label : {m_messageDate, m_messageSite, m_messageText}) {
        label->setAlignment(Qt::AlignCenter);
        label->setForegroundRole(QPalette::Text);
        messageLayout->addWidget(label);
    }
    layout->addWidget(message);

    // The recent alarms, newest first, and the acknowledgement.
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(8, 6, 8, 6);
    m_listCaption = new QLabel(client);
    m_acknowledge = new QPushButton(tr("Acknowledge"), client);
    QFont buttonFont = m_acknowledge->font();
    buttonFont.setPointSizeF(buttonFont.pointSizeF() * 1.2);
    buttonFont.setBold(true);
    m_acknowledge->setFont(buttonFont);
    m_listCaption->setFont(buttonFont);
    connect(m_acknowledge, &QPushButton::clicked, this, &frmMain::Acknowledge);
    bar->addWidget(m_listCaption, 1);
    bar->addWidget(m_acknowledge);
    layout->addLayout(bar);

    m_list = new QTreeWidget(client);
    m_list->setHeaderLabels({tr("Time"), tr("Site"), tr("Text")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(false);
    m_list->setWordWrap(true);
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    QFont listFont = m_list->font();
    listFont.setPointSizeF(listFont.pointSizeF() * 1.15);
    m_list->setFont(listFont);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(1, QHeaderView::Interactive);
    m_list->header()->resizeSection(1, QFontMetrics(listFont).horizontalAdvance(u'M') * 14);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setItemDelegate(new WrappingDelegate(m_list));
    // Long texts wrap: the rows' heights follow the columns' widths.
    connect(m_list->header(), &QHeaderView::sectionResized, m_list,
            [this] { m_list->doItemsLayout(); });
    layout->addWidget(m_list, 1);
    return client;
}

frmMain::~frmMain() = default;

void frmMain::attach(AlarmPipeline &pipeline)
{
    m_pipeline = &pipeline;
    m_sound.setSettings(pipeline.settings());
    connect(&pipeline, &AlarmPipeline::messageShown, this, [this] {
        ShowSMSInForm();
        m_sound.PlaySoundAlert();
        refreshAlerts();
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
    m_conditions = pipeline.Supervision().conditions;
    connect(&pipeline, &AlarmPipeline::conditionBegan, this,
            [this](const SupervisionCondition &condition) {
                m_conditions.append(condition);
                refreshBand();
            });
    connect(&pipeline, &AlarmPipeline::conditionEnded, this,
            [this](const SupervisionCondition &condition) {
                m_conditions.removeIf([&](const SupervisionCondition &c) {
                    return c.kind == condition.kind && c.subject == condition.subject;
                });
                refreshBand();
            });
    refreshBand();
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
    mnuFile->addSeparator();
    mnuFileAcknowledge = mnuFile->addAction(tr("Acknowledge"));
    mnuFileAcknowledge->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connect(mnuFileAcknowledge, &QAction::triggered, this, &frmMain::Acknowledge);
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
        return m_note;
    if (key == QLatin1String("Health"))
        return m_panelHealth->text();
    return QString();
}

void frmMain::setStatusPanelText(const QString &key, const QString &text)
{
    if (key == QLatin1String("Note")) {
        // What keeps the logger from its work is shown in the band.
        if (m_note == text)
            return;
        m_note = text;
        refreshBand();
        emit statusPanelsChanged();
        return;
    }
    QLabel *panel = key == QLatin1String("Status")   ? m_panelStatus
                    : key == QLatin1String("Action") ? m_panelAction
                    : key == QLatin1String("Health") ? m_panelHealth
                                                     : nullptr;
    if (!panel || panel->text() == text)
        return;
    panel->setText(text);
    if (!panel->isHidden()) {
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
    // The logger's own records may come without a number, never without a name.
    if (!m_pipeline ||
        (m_pipeline->LastSMSPhoneNo.isEmpty() && m_pipeline->LastSMSCallerID.isEmpty()))
        return;
    const AlarmPipeline &p = *m_pipeline;
    const QString site = p.LastSMSCallerID.isEmpty() ? p.LastSMSPhoneNo : p.LastSMSCallerID;
    // The number beside the site it was logged under, once.
    const QString number = site == p.LastSMSPhoneNo ? QString() : p.LastSMSPhoneNo;
    m_messageSite->setText(number.isEmpty() ? site : tr("%1 (%2)").arg(site, number));
    m_messageDate->setText(p.LastSMSDate);
    m_messageText->setText(p.LastSMSText);
    m_messageDate->show();
    m_messageSite->show();
    addAlarmRow(p.LastSMSDate, site, number, p.LastSMSText);
    ++m_unacknowledged;
    m_newest = tr("%1: %2").arg(site, p.LastSMSText);
    notify(site, p.LastSMSText);
    refreshAlerts();
}

void frmMain::addAlarmRow(const QString &date, const QString &site, const QString &number,
                          const QString &text)
{
    auto *row = new QTreeWidgetItem({date, site, text});
    if (!number.isEmpty())
        row->setToolTip(1, number);
    row->setToolTip(2, text);
    row->setData(0, Qt::UserRole, true);
    // Weight as well as colour: a bold row still stands out to a colour-blind
    // operator or on a washed-out screen.
    QFont bold = m_list->font();
    bold.setBold(true);
    QColor tint = m_list->palette().color(QPalette::Base);
    const qreal share = 0.3;
    tint.setRgbF(tint.redF() * (1 - share) + AlarmColour.redF() * share,
                 tint.greenF() * (1 - share) + AlarmColour.greenF() * share,
                 tint.blueF() * (1 - share) + AlarmColour.blueF() * share);
    for (int column = 0; column < 3; ++column) {
        row->setFont(column, bold);
        row->setBackground(column, tint);
        row->setForeground(column, m_list->palette().brush(QPalette::Text));
    }
    m_list->insertTopLevelItem(0, row);
    while (m_list->topLevelItemCount() > MaxAlarmRows)
        delete m_list->takeTopLevelItem(m_list->topLevelItemCount() - 1);
}

bool frmMain::IsUnacknowledged(int row, const QTreeWidget &list)
{
    const QTreeWidgetItem *item = list.topLevelItem(row);
    return item && item->data(0, Qt::UserRole).toBool();
}

void frmMain::Acknowledge()
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m_list->topLevelItem(i);
        if (!row->data(0, Qt::UserRole).toBool())
            break; // rows are acknowledged from the newest down, all at once
        row->setData(0, Qt::UserRole, false);
        for (int column = 0; column < 3; ++column) {
            row->setFont(column, m_list->font());
            row->setBackground(column, QBrush());
            row->setForeground(column, QBrush());
        }
    }
    m_unacknowledged = 0;
    if (m_sound.IsSoundPlaying)
        m_sound.StopSoundAlert();
    refreshAlerts();
}

void frmMain::notify(const QString &site, const QString &text)
{
    const QString title = tr("Alarm: %1").arg(site);
    if (m_notifier)
        m_notifier(title, text);
    else if (IsInTray)
        // No time-out: an alarm's notification stays until someone sees it.
        m_tray->showMessage(title, text, stateIcon(), 0);
}

TrayImage frmMain::trayImageShown() const
{
    return m_unacknowledged > 0 ? TrayImage::Alarm : TrayIconImage;
}

QString frmMain::trayToolTip() const
{
    QStringList lines{QStringLiteral("Quillet")};
    if (m_unacknowledged > 0) {
        lines << tr("Not acknowledged: %1").arg(m_unacknowledged);
        lines << tr("Newest: %1").arg(m_newest);
    }
    // The state with its first reason, as the band shows it.
    const QString reason = m_bandDetail->text().section(u'\n', 0, 0);
    lines << (reason.isEmpty() ? m_bandTitle->text()
                               : tr("%1: %2").arg(m_bandTitle->text(), reason));
    // Tooltips are read at a glance; a long text is in the window.
    for (QString &line : lines)
        if (line.size() > 120)
            line = line.left(119) + QChar(0x2026);
    return lines.join(u'\n');
}

QString frmMain::bandText() const
{
    return m_bandDetail->text().isEmpty()
               ? m_bandTitle->text()
               : m_bandTitle->text() + QLatin1Char('\n') + m_bandDetail->text();
}

void frmMain::refreshBand()
{
    QStringList reasons;
    if (!m_note.isEmpty())
        reasons << m_note;
    else if (!m_online)
        reasons << tr("Alarms are not being read. File > Online reads them again.");
    for (const SupervisionCondition &c : std::as_const(m_conditions))
        reasons << conditionLine(c);
    m_bandState = m_online && reasons.isEmpty() ? BandState::Calm : BandState::Alarming;
    m_bandTitle->setText(m_online ? tr("Online") : tr("Offline"));
    m_bandDetail->setText(reasons.join(u'\n'));
    m_bandDetail->setVisible(!reasons.isEmpty());
    m_band->setToolTip(reasons.join(u'\n'));
    QPalette palette = m_band->palette();
    palette.setColor(QPalette::Window, m_bandState == BandState::Calm ? CalmColour : AlarmColour);
    palette.setColor(QPalette::WindowText, Qt::white);
    m_band->setPalette(palette);
    if (m_tray)
        m_tray->setToolTip(trayToolTip());
}

void frmMain::refreshAlerts()
{
    m_listCaption->setText(m_unacknowledged > 0
                               ? tr("Recent alarms (%1 not acknowledged)").arg(m_unacknowledged)
                               : tr("Recent alarms"));
    m_acknowledge->setEnabled(m_unacknowledged > 0 || m_sound.IsSoundPlaying);
    mnuFileAcknowledge->setEnabled(m_acknowledge->isEnabled());
    if (m_list->topLevelItemCount() == 0) {
        m_messageDate->hide();
        m_messageSite->hide();
        m_messageText->setText(tr("No alarm since the logger started."));
    }
    if (!m_tray)
        return;
    m_tray->setIcon(stateIcon());
    m_tray->setToolTip(trayToolTip());
}

QIcon frmMain::stateIcon() const
{
    static const QIcon online = makeStateIcon(TrayImage::Online);
    static const QIcon offline = makeStateIcon(TrayImage::Offline);
    static const QIcon alarm = makeStateIcon(TrayImage::Alarm);
    switch (trayImageShown()) {
    case TrayImage::Online:
        return online;
    case TrayImage::Offline:
        return offline;
    case TrayImage::Alarm:
        return alarm;
    }
    return offline;
}

void frmMain::ApplyConnectionState(bool online)
{
    mnuFileOnLine->setChecked(online);
    mnuFileOffLine->setChecked(!online);
    setStatusPanelText(QStringLiteral("Status"),
                       online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    TrayIconImage = online ? TrayImage::Online : TrayImage::Offline;
    m_online = online;
    refreshBand();
    refreshAlerts();
}

bool frmMain::SetTrayIcon(TrayAction action)
{
    switch (action) {
    case TrayAction::Add:
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return false;
        m_tray->setIcon(stateIcon());
        m_tray->setToolTip(trayToolTip());
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

void frmMain::scaleFonts()
{
    // Enlarged, the window is read from further away: the band and the newest
    // message grow with it, in the desktop's font.
    const qreal grow = std::clamp(std::min(width() / 720.0, height() / 540.0), 1.0, 2.0);
    const qreal base = font().pointSizeF();
    for (QLabel *label : centralWidget()->findChildren<QLabel *>()) {
        const QVariant scale = label->property(FontScale);
        if (!scale.isValid())
            continue;
        QFont f = font();
        f.setBold(label->font().bold());
        f.setPointSizeF(base * scale.toReal() * grow);
        label->setFont(f);
    }
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    scaleFonts();
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        scaleFonts();
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
