#pragma once
// frmMain: the logger's only main window. It shows the newest message, the
// connection state and the message count, carries the menus, and lives on as a
// tray icon when closed or minimised. It listens to the pipeline it is
// attached to, and its menus command it; the alert sound is the window's.

#include "pipeline.h"
#include "sound.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;

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
    Offline
};

// Starts a program detached; replaced by tests to record what would start.
using ProcessStarter = std::function<bool(const QString &program, const QStringList &args)>;

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
    // received store cannot be written; the "Note" line above the message
    // says what keeps the logger from its work (why it is offline and
    // trying, why the log takes no records), and is hidden while nothing
    // does.
    void LoadFormObj();
    // Redraws the newest message (sender, date and text, centred).
    void ShowSMSInForm();
    // The health panel: signal, registration and SIM fill, in red while a
    // condition of the watch over the alarm path is on; its tooltip tells
    // all. Hidden while there are no health checks and no condition.
    void ShowHealth();
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
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildMenus();
    void buildStatusBar();
    QIcon stateIcon() const;

    SoundAlert m_sound;
    QPointer<AlarmPipeline> m_pipeline;
    ProcessStarter m_processStarter;
    QWidget *m_display = nullptr;
    QLabel *m_panelStatus = nullptr;
    QLabel *m_panelNote = nullptr;
    QLabel *m_panelAction = nullptr;
    QLabel *m_panelHealth = nullptr;
    QLabel *m_panelDate = nullptr;
    QLabel *m_panelTime = nullptr;
    QTimer *m_clock = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_unloading = false;
};

} // namespace quillet
