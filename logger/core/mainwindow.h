#pragma once
// frmMain: the logger's only main window. It shows the newest message, the
// connection state and the message count, and carries the menus.

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;
class QTimer;

namespace quillet {

enum class TrayAction { Add = 0, Modify = 1, Delete = 2 };

class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Sets the "Action" panel to the message count.
    void LoadFormObj();
    bool GoOnline();
    void GoOffline();
    bool SetTrayIcon(TrayAction action);
    void CreateDevice();
    void TerminateDevice();
    // Unloads the window for good (the exit path; not the user's close box).
    void Unload();

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

    QString statusPanelText(const QString &key) const;
    void setStatusPanelText(const QString &key, const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildStatusBar();

    QLabel *m_panelStatus = nullptr;
    QLabel *m_panelAction = nullptr;
    QLabel *m_panelDate = nullptr;
    QLabel *m_panelTime = nullptr;
    QTimer *m_clock = nullptr;
    bool m_unloading = false;
};

} // namespace quillet
