#pragma once
// The viewer's window: menus, toolbar, selection bar, the record list and a
// status bar with the message, record-count and Num Lock panes.

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace orvane {

class CFileFollower;
class COrvaneDoc;
class COrvaneView;
class CSelectionBar;
class LogLibrary;

class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    explicit CMainFrame(LogLibrary &library, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // Pane 1: shown records against the open file's total.
    void SetRecordCount(int n);
    void SetFromTime(const QString &timeText);
    void SetToTime(const QString &timeText);
    void FillGroupList();
    // Fills the group list again when its names changed (new callers, or
    // another code page), keeping the chosen entry.
    void UpdateGroupList(bool redecode = false);
    void SetPaneText(int pane, const QString &text);
    QString paneText(int pane) const;

    // Selection-bar handlers.
    void OnTimeEnable();
    void OnGroupEnable();
    void OnList();

    // Opens a file as File ▸ Open does; false when nothing was opened.
    bool OpenDocumentFile(const QString &path);
    // Opens a file a later start of the viewer handed over, and says so in
    // the caption and the status line: the user did not choose it here.
    bool OpenHandedOver(const QString &path);
    void OnFileOpen();
    void OnFileNew();
    void OnAppAbout();
    // Export Data: the export dialog, when the file has records.
    void OnExportData();
    // Asks for a file name and writes the report there as PDF.
    void OnExportPdf();

    // View > Follow: records the logger appends appear as they come.
    void SetFollow(bool on);
    bool following() const;
    CFileFollower *follower() const { return m_follower; }
    // The open file changed on disk: appended records join the list, a
    // file rewritten by someone else is read again.
    void OnFileChanged();
    // The code page of histories that are not UTF-8 (View > Legacy Code
    // Page); remembered, and the texts on screen are read again.
    void SetLegacyCodePage(const QByteArray &name);

    COrvaneDoc *document() const { return m_document.get(); }
    COrvaneView *view() const { return m_view; }
    CSelectionBar *selectionBar() const { return m_selectionBar; }
    QToolBar *toolBar() const { return m_toolBar; }
    // The action of a command, by its resource number; null when there is none.
    QAction *action(int commandId) const { return m_actions.value(commandId); }
    QStringList recentFiles() const { return m_recentFiles; }

    QString selectedGroup;
    QString selectedSubgroup;
    // The same, as the library's bytes.
    QByteArray selectedGroupBytes;
    QByteArray selectedSubgroupBytes;
    bool groupLocked = false;

signals:
    void paneTextChanged(int pane, const QString &text);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QAction *AddCommand(int commandId, int labelId, int iconKind, const QKeySequence &shortcut);
    void CreateMenus();
    void CreateToolBar();
    void CreateSelectionBar();
    void CreateStatusBar();
    void UpdateCaption();
    void LoadRecentFiles();
    void SaveRecentFiles();
    void RecentFilesChanged();
    void AddToRecentFiles(const QString &path);
    void RemoveFromRecentFiles(const QString &path);
    void RebuildRecentMenu();
    void UpdateNumLock();
    void CreateCodePageMenu(QMenu *viewMenu);
    // The file at the path is another one now: read it again, listed as
    // before.
    void ReloadFollowed();

    LogLibrary &m_library;
    std::unique_ptr<COrvaneDoc> m_document;
    COrvaneView *m_view = nullptr;
    CSelectionBar *m_selectionBar = nullptr;
    QToolBar *m_toolBar = nullptr;
    QToolBar *m_selectionToolBar = nullptr;
    QMenu *m_fileMenu = nullptr;
    QAction *m_recentSeparator = nullptr;
    QList<QAction *> m_recentActions;
    QStringList m_recentFiles;
    bool m_recentSavePending = false;
    QLabel *m_panes[3] = {};
    QHash<int, QAction *> m_actions;
    CFileFollower *m_follower = nullptr;
    QMenu *m_codePageMenu = nullptr;
    // The open file came from another start, until the user opens one here.
    bool m_handedOver = false;
};

// Whether Num Lock is on: 1 on, 0 off, -1 when the system does not tell.
int NumLockState();

} // namespace orvane
