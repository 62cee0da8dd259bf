#pragma once
// frmMain: the logger's only main window. It is read from across a room: a
// coloured band with the logger's state and what is wrong, the newest message
// in large text, the recent alarms below it with those not yet acknowledged
// standing out; it carries the menus and lives on as a tray icon when closed
// or minimised, the icon and a desktop notification telling of new alarms.
// It listens to the pipeline it is attached to, and its menus command it; the
// alert sound is the window's, and acknowledging silences it.

#include "pipeline.h"
#include "sound.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;

namespace quillet {

enum class TrayAction
{
    Add = 0,
    Modify = 1,
    Delete = 2
};

enum class TrayImage
{
    Online,
    Offline,
    Alarm // alarms wait to be acknowledged, whatever the connection
};

// Starts a program detached; replaced by tests to record what would start.
using ProcessStarter = std::function<bool(const QString &program, const QStringList &args)>;
// Raises a desktop notification; replaced by tests to record what would show.
using Notifier = std::function<void(const QString &title, const QString &text)>;

// The state band: calm while the logger reads alarms and nothing is wrong,
// alarming otherwise.
enum class BandState
{
    Calm,
    Alarming
};

// Loads the window's texts in the user's language (Traditional Chinese for
// a zh_TW, zh_HK, zh_MO or Hant locale; English otherwise). QUILLET_LANG
// (a locale name) overrides the desktop's choice. Returns whether a
// translation was installed.
bool InstallTranslations();

class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Shows `pipeline` and commands it from the menus, for the window's life.
    void attach(AlarmPipeline &pipeline);
    AlarmPipeline *pipeline() const { return m_pipeline; }
    SoundAlert &sound() { return m_sound; }

    // Sets the "Action" panel to the message count, and says so while the
    // received store cannot be written; the "Note" (shown in the state
    // band) says what keeps the logger from its work (why it is offline and
    // trying, why the log takes no records), and is empty while nothing
    // does.
    void LoadFormObj();
    // Shows the newest message (site and number, date, text) and adds it to
    // the recent alarms, not yet acknowledged.
    void ShowSMSInForm();
    // The health panel: signal, registration and SIM fill, in red while a
    // condition of the watch over the alarm path is on; its tooltip tells
    // all. Hidden while there are no health checks and no condition.
    void ShowHealth();
    // Marks every alarm seen, silences the alert and calms the tray.
    void Acknowledge();
    int unacknowledgedCount() const { return m_unacknowledged; }
    // The icon the tray shows (the alarm state wins over the connection's).
    TrayImage trayImageShown() const;
    QString trayToolTip() const;
    BandState bandState() const { return m_bandState; }
    // The band's headline and the reasons under it.
    QString bandText() const;
    QTreeWidget *alarmList() const { return m_list; }
    // Whether a row of the recent alarms is still to be acknowledged.
    static bool IsUnacknowledged(int row, const QTreeWidget &list);
    bool SetTrayIcon(TrayAction action);
    // Shows the window again (tray double click, "Open Quillet").
    void ShowFromTray();
    void HideToTray();
    // The File menu as popped up from the tray: "Open Quillet" instead of "Exit".
    void PopupTrayMenu(const QPoint &pos);
    void ShowFormCommand();
    // Starts the viewer on a log file: the path stays one argument, then "-na".
    bool StartViewer(const QString &path);
    static QString ViewerProgram();
    // Returns the previous one; empty: QProcess::startDetached.
    ProcessStarter setProcessStarter(ProcessStarter starter);
    // Returns the previous one; empty: the tray icon's showMessage while the
    // window is in the tray.
    Notifier setNotifier(Notifier notifier);

    // Applies the Online or Offline state to menus, panel and icons.
    void ApplyConnectionState(bool online);
    // Unloads the window for good (the exit path; not the user's close box).
    void Unload();

    QString statusPanelText(const QString &key) const;
    void setStatusPanelText(const QString &key, const QString &text);
    QSystemTrayIcon *trayIcon() const { return m_tray; }

    bool IsInTray = false;
    TrayImage TrayIconImage = TrayImage::Online;
    // The alert sound's loop.
    QTimer *const tmrMCI = &m_sound.tmrMCI;
    QAction *mnuFileOnLine = nullptr;
    QAction *mnuFileOffLine = nullptr;
    QAction *mnuFileAcknowledge = nullptr;
    QAction *mnuFileBar1 = nullptr;
    QAction *mnuFileShowForm = nullptr;
    QAction *mnuFileSysExit = nullptr;
    QAction *mnuToolsSettings = nullptr;
    QAction *mnuToolsBar1 = nullptr;
    QAction *mnuToolsViewWarningMessage = nullptr;
    QAction *mnuHelpContents = nullptr;
    QAction *mnuHelpBar1 = nullptr;
    QAction *mnuHelpAbout = nullptr;
    QMenu *mnuFile = nullptr;
    QMenu *mnuTools = nullptr;
    QMenu *mnuHelp = nullptr;
    QMenu *mnuSMenu = nullptr;

signals:
    // Tools > Settings and Help > About: the dialogs live above the core.
    void settingsRequested();
    void aboutRequested();
    // The Status or Action panel of the status bar changed its text.
    void statusPanelsChanged();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildMenus();
    void buildStatusBar();
    QWidget *buildClient();
    void scaleFonts();
    QIcon stateIcon() const;
    void refreshBand();
    void refreshAlerts();
    void addAlarmRow(const QString &date, const QString &site, const QString &number,
                     const QString &text);
    void notify(const QString &site, const QString &text);

    SoundAlert m_sound;
    QPointer<AlarmPipeline> m_pipeline;
    ProcessStarter m_processStarter;
    Notifier m_notifier;
    QFrame *m_band = nullptr;
    QLabel *m_bandTitle = nullptr;
    QLabel *m_bandDetail = nullptr;
    BandState m_bandState = BandState::Alarming;
    bool m_online = false;
    QList<SupervisionCondition> m_conditions;
    QLabel *m_messageSite = nullptr;
    QLabel *m_messageDate = nullptr;
    QLabel *m_messageText = nullptr;
    QLabel *m_listCaption = nullptr;
    QPushButton *m_acknowledge = nullptr;
    QTreeWidget *m_list = nullptr;
    int m_unacknowledged = 0;
    QString m_newest; // "site: text" of the newest alarm, for the tray
    QLabel *m_panelStatus = nullptr;
    QString m_note;
    QLabel *m_panelAction = nullptr;
    QLabel *m_panelHealth = nullptr;
    QLabel *m_panelDate = nullptr;
    QLabel *m_panelTime = nullptr;
    QTimer *m_clock = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_unloading = false;
};

} // namespace quillet
