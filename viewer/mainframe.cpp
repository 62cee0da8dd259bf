#include "mainframe.h"

#include "aboutdialog.h"
#include "exportdlg.h"
#include "filefollower.h"
#include "icons.h"
#include "loglibrary.h"
#include "messagebox.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "savedialog.h"
#include "selectionbar.h"
#include "settings.h"
#include "stringtable.h"
#include "timetext.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cstdio>

namespace orvane {

namespace {

constexpr int kRecentFileCount = 4;
constexpr int kNoIcon = -1;
const QString kRecentSection = QStringLiteral("Recent File List");
const QString kFollowKey = QStringLiteral("Settings/Follow");
const QString kCodePageKey = QStringLiteral("Settings/LegacyCodePage");

// The code pages a history from a Windows machine is most likely in.
struct CodePage
{
    const char *name;
    Sid label;
};
constexpr CodePage kCodePages[] = {{"Big5", IDS_CODE_PAGE_BIG5},
                                   {"GBK", IDS_CODE_PAGE_GBK},
                                   {"Shift_JIS", IDS_CODE_PAGE_SHIFT_JIS},
                                   {"EUC-KR", IDS_CODE_PAGE_EUC_KR},
                                   {"windows-1252", IDS_CODE_PAGE_WESTERN}};

// A name list that never ends is the library's fault, not a reason to hang.
constexpr int kMaxNames = 1 << 20;

// The library's bytes of a list's chosen name; an entry that came from no
// name ("[All]") goes by its text.
QByteArray ChosenName(const QComboBox *list)
{
    const QByteArray bytes = CSelectionBar::ChosenBytes(list);
    return bytes.isNull() ? list->currentText().toUtf8() : bytes;
}

bool ParseRecordTime(const QString &text, QDate *date, QTime *time)
{
    const QDateTime moment = timetext::Parse(text);
    *date = moment.date();
    *time = moment.time();
    return moment.isValid();
}

} // namespace

int NumLockState()
{
    // The keyboard LEDs are the one place that tells, whatever the display
    // server; a machine without them (a virtual display) does not say.
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const QStringList names =
        leds.entryList({QStringLiteral("*numlock*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    if (names.isEmpty())
        return -1;
    for (const QString &name : names) {
        QFile file(leds.filePath(name + QStringLiteral("/brightness")));
        if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed().toInt() > 0)
            return 1;
    }
    return 0;
}

CMainFrame::CMainFrame(LogLibrary &library, QWidget *parent)
    : QMainWindow(parent), m_library(library), m_document(std::make_unique<COrvaneDoc>(library))
{
    setWindowIcon(MakeIcon(IconKind::App));
    setAcceptDrops(true);

    m_view = new COrvaneView(library, this);
    setCentralWidget(m_view);

    // The code page: ORVANE_LEGACY_CODEPAGE for this run, else the one
    // chosen last, else Big5.
    QByteArray codePage = LogLibrary::CodePageFromEnvironment();
    if (codePage.isEmpty() && !qEnvironmentVariableIsEmpty("ORVANE_LEGACY_CODEPAGE"))
        std::fprintf(stderr, "orvane: ORVANE_LEGACY_CODEPAGE=%s is no code page known here\n",
                     qgetenv("ORVANE_LEGACY_CODEPAGE").constData());
    if (codePage.isEmpty())
        codePage = OpenSettings().value(kCodePageKey).toString().toLatin1();
    if (!m_library.SetLegacyCodePage(codePage))
        m_library.SetLegacyCodePage(LogLibrary::kDefaultCodePage);

    m_follower = new CFileFollower(this);
    connect(m_follower, &CFileFollower::changed, this, &CMainFrame::OnFileChanged);

    CreateMenus();
    CreateToolBar();
    CreateSelectionBar();
    CreateStatusBar();

    m_document->Attach(this, m_view);
    m_view->Attach(this, m_document.get());
    SetRecordCount(0);
    UpdateCaption();
}

CMainFrame::~CMainFrame()
{
    if (m_recentSavePending)
        SaveRecentFiles();
}

QAction *CMainFrame::AddCommand(int commandId, int labelId, int iconKind,
                                const QKeySequence &shortcut)
{
    // The text after a tab is what the menu shows as the key, as in the labels.
    auto *act = new QAction(Str(Sid(labelId)), this);
    if (iconKind != kNoIcon)
        act->setIcon(MakeIcon(IconKind(iconKind)));
    if (!shortcut.isEmpty())
        act->setShortcut(shortcut);
    const QString prompt = PromptOf(Sid(commandId));
    if (!prompt.isEmpty()) {
        act->setStatusTip(prompt);
        act->setToolTip(TooltipOf(Sid(commandId)));
    }
    m_actions.insert(commandId, act);
    return act;
}

void CMainFrame::CreateMenus()
{
    QAction *open = AddCommand(ID_FILE_OPEN, IDS_MENU_OPEN, int(IconKind::Open),
                               QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    QAction *newDoc =
        AddCommand(ID_FILE_NEW, IDS_MENU_OPEN, kNoIcon, QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newDoc, &QAction::triggered, this, &CMainFrame::OnFileNew);
    addAction(newDoc); // reachable through its key only

    QAction *exportData = AddCommand(ID_EXPORT_DATA, IDS_MENU_EXPORT, int(IconKind::Export), {});
    connect(exportData, &QAction::triggered, this, &CMainFrame::OnExportData);
    QAction *print = AddCommand(ID_FILE_PRINT, IDS_MENU_PRINT, int(IconKind::Print),
                                QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(print, &QAction::triggered, m_view, &COrvaneView::OnFilePrint);
    // The menu names F7 as its key, so F7 prints directly.
    QAction *printDirect = AddCommand(ID_FILE_PRINT_DIRECT, IDS_MENU_PRINT_DIRECT,
                                      int(IconKind::PrintDirect), QKeySequence(Qt::Key_F7));
    connect(printDirect, &QAction::triggered, m_view, &COrvaneView::OnFilePrintDirect);
    QAction *preview =
        AddCommand(ID_FILE_PRINT_PREVIEW, IDS_MENU_PRINT_PREVIEW, int(IconKind::PrintPreview), {});
    connect(preview, &QAction::triggered, m_view, &COrvaneView::OnFilePrintPreview);
    QAction *setup =
        AddCommand(ID_FILE_PRINT_SETUP, IDS_MENU_PRINT_SETUP, int(IconKind::PrintSetup), {});
    connect(setup, &QAction::triggered, m_view, &COrvaneView::OnFilePrintSetup);
    auto *exportPdf = new QAction(Str(IDS_MENU_EXPORT_PDF), this);
    connect(exportPdf, &QAction::triggered, this, &CMainFrame::OnExportPdf);

    QAction *exitApp = AddCommand(ID_APP_EXIT, IDS_MENU_EXIT, kNoIcon, {});
    connect(exitApp, &QAction::triggered, this, &QWidget::close);

    m_fileMenu = menuBar()->addMenu(Str(IDS_MENU_FILE));
    m_fileMenu->addAction(open);
    m_fileMenu->addAction(exportData);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(print);
    m_fileMenu->addAction(printDirect);
    m_fileMenu->addAction(preview);
    m_fileMenu->addAction(setup);
    m_fileMenu->addAction(exportPdf);
    m_fileMenu->addSeparator();
    m_recentSeparator = m_fileMenu->addSeparator();
    m_fileMenu->addAction(exitApp);
    LoadRecentFiles();
    RebuildRecentMenu();

    QMenu *viewMenu = menuBar()->addMenu(Str(IDS_MENU_VIEW));
    QAction *toolbarToggle = AddCommand(ID_VIEW_TOOLBAR, IDS_MENU_TOOLBAR, kNoIcon, {});
    QAction *statusToggle = AddCommand(ID_VIEW_STATUS_BAR, IDS_MENU_STATUS_BAR, kNoIcon, {});
    toolbarToggle->setCheckable(true);
    toolbarToggle->setChecked(true);
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    viewMenu->addAction(toolbarToggle);
    viewMenu->addAction(statusToggle);
    connect(toolbarToggle, &QAction::toggled, this, [this](bool on) { m_toolBar->setVisible(on); });
    connect(statusToggle, &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
    viewMenu->addSeparator();
    QAction *follow = AddCommand(ID_VIEW_FOLLOW, IDS_MENU_FOLLOW, kNoIcon, {});
    follow->setCheckable(true);
    follow->setChecked(OpenSettings().value(kFollowKey, true).toBool());
    m_follower->SetEnabled(follow->isChecked());
    viewMenu->addAction(follow);
    connect(follow, &QAction::toggled, this, &CMainFrame::SetFollow);
    CreateCodePageMenu(viewMenu);

    QMenu *helpMenu = menuBar()->addMenu(Str(IDS_MENU_HELP));
    if (CurrentLanguage() == Language::English) {
        QAction *topics = AddCommand(ID_HELP_FINDER, IDS_MENU_HELP_TOPICS, kNoIcon, {});
        topics->setEnabled(false); // no help file exists
        helpMenu->addAction(topics);
        helpMenu->addSeparator();
    }
    QAction *about = AddCommand(ID_APP_ABOUT, IDS_MENU_ABOUT, int(IconKind::About), {});
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);
    helpMenu->addAction(about);
}

void CMainFrame::CreateCodePageMenu(QMenu *viewMenu)
{
    m_codePageMenu = viewMenu->addMenu(Str(IDS_MENU_CODE_PAGE));
    auto *group = new QActionGroup(m_codePageMenu);
    group->setExclusive(true);
    const QByteArray current = m_library.legacyCodePage();
    bool listed = false;
    const auto add = [&](const QByteArray &name, const QString &label) {
        QAction *entry = m_codePageMenu->addAction(label);
        entry->setCheckable(true);
        entry->setData(name);
        group->addAction(entry);
        if (name.compare(current, Qt::CaseInsensitive) == 0) {
            entry->setChecked(true);
            listed = true;
        }
        connect(entry, &QAction::triggered, this, [this, name] { SetLegacyCodePage(name); });
    };
    for (const CodePage &page : kCodePages)
        add(page.name, Str(page.label));
    // One named by ORVANE_LEGACY_CODEPAGE is offered too.
    if (!listed)
        add(current, QString::fromLatin1(current));
}

void CMainFrame::SetFollow(bool on)
{
    QAction *follow = action(ID_VIEW_FOLLOW);
    if (follow && follow->isChecked() != on)
        follow->setChecked(on); // comes back here through toggled
    m_follower->SetEnabled(on);
    OpenSettings().setValue(kFollowKey, on);
}

bool CMainFrame::following() const
{
    return m_follower->enabled();
}

void CMainFrame::SetLegacyCodePage(const QByteArray &name)
{
    if (!m_library.SetLegacyCodePage(name))
        return;
    OpenSettings().setValue(kCodePageKey, QString::fromLatin1(name));
    for (QAction *entry : m_codePageMenu->actions()) {
        if (entry->data().toByteArray() == name)
            entry->setChecked(true);
    }
    if (!m_library.legacy())
        return;
    UpdateGroupList(true);
    m_view->Redecode();
    if (!selectedGroupBytes.isNull())
        selectedGroup = m_library.Text(selectedGroupBytes.constData());
    if (!selectedSubgroupBytes.isNull())
        selectedSubgroup = m_library.Text(selectedSubgroupBytes.constData());
}

void CMainFrame::OnFileChanged()
{
    // A file that was refused when opened is not followed.
    if (m_document->pathName().isEmpty() || m_document->recordTotal < 0)
        return;
    const bool wasLegacy = m_library.legacy();
    int32_t selected = 0;
    int32_t firstChanged = 0;
    const int32_t total = m_library.Refresh(&selected, &firstChanged);
    if (total < 0) {
        ReloadFollowed();
        return;
    }
    const bool recoded = wasLegacy != m_library.legacy();
    if (total != m_document->recordTotal || recoded) {
        m_document->recordTotal = total;
        UpdateGroupList(recoded);
    }
    if (!m_view->listed()) {
        // The list shows no selection (a refused time span): only the total moves.
        SetRecordCount(m_view->recordCount());
        return;
    }
    if (recoded)
        m_view->Redecode();
    if (firstChanged < selected)
        m_view->RecordsChanged(firstChanged, selected);
    else
        SetRecordCount(m_view->recordCount());
}

void CMainFrame::ReloadFollowed()
{
    const QString path = m_document->pathName();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return;
    const bool atNewest = m_view->AtNewest();
    const int scrolled = m_view->verticalScrollBar()->value();
    m_library.LogClose();
    m_document->recordTotal = m_library.Open(QFile::encodeName(path).constData());
    if (m_document->recordTotal < 0) {
        // No box: nobody asked for this read. The list is empty until the
        // file reads as a log again.
        m_document->recordTotal = -1;
        m_view->ClearRecords();
        m_view->ResetRecordStatus();
        m_library.LogClose();
        return;
    }
    UpdateGroupList(true);
    // Listed as before: the library's time filter is still the last List's.
    m_view->ReloadRecords();
    if (!atNewest)
        m_view->verticalScrollBar()->setValue(scrolled);
}

void CMainFrame::CreateToolBar()
{
    m_toolBar = addToolBar(Str(IDS_BAR_TOOLBAR_TITLE));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->addAction(action(ID_FILE_OPEN));
    m_toolBar->addAction(action(ID_EXPORT_DATA));
    m_toolBar->addSeparator();
    m_toolBar->addAction(action(ID_FILE_PRINT_PREVIEW));
    m_toolBar->addAction(action(ID_FILE_PRINT));
    m_toolBar->addAction(action(ID_FILE_PRINT_SETUP));
    m_toolBar->addAction(action(ID_FILE_PRINT_DIRECT));
    m_toolBar->addAction(action(ID_APP_ABOUT));
    // Hidden from the toolbar's own context menu too: keep the check mark true.
    connect(m_toolBar, &QToolBar::visibilityChanged, action(ID_VIEW_TOOLBAR), [this](bool visible) {
        if (!isHidden())
            action(ID_VIEW_TOOLBAR)->setChecked(visible);
    });
}

void CMainFrame::CreateSelectionBar()
{
    addToolBarBreak();
    m_selectionToolBar = addToolBar(Str(IDS_BAR_SELECTION_TITLE));
    m_selectionToolBar->setObjectName(QStringLiteral("selectionBar"));
    m_selectionBar = new CSelectionBar(m_selectionToolBar);
    m_selectionToolBar->addWidget(m_selectionBar);

    connect(m_selectionBar->timeEnable, &QCheckBox::clicked, this, &CMainFrame::OnTimeEnable);
    connect(m_selectionBar->groupEnable, &QCheckBox::clicked, this, &CMainFrame::OnGroupEnable);
    connect(m_selectionBar->listButton, &QPushButton::clicked, this, &CMainFrame::OnList);
    connect(m_selectionBar->groupList, &QComboBox::activated, m_view,
            &COrvaneView::OnGroupSelChange);
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    for (int i = 0; i < 3; ++i) {
        m_panes[i] = new QLabel(bar);
        m_panes[i]->setContentsMargins(3, 0, 3, 0);
    }
    m_panes[0]->setText(Str(AFX_IDS_IDLEMESSAGE));
    bar->addWidget(m_panes[0], 1);

    // Wide enough for the string with its trailing blanks, and for the
    // largest counts a file could have.
    const QFontMetrics metrics(m_panes[1]->font());
    const int width =
        std::max(metrics.horizontalAdvance(Str(IDS_RECORD_COUNT)),
                 metrics.horizontalAdvance(StrF(IDS_RECORD_COUNT, 99999999, 99999999)));
    m_panes[1]->setMinimumWidth(width + 8);
    bar->addPermanentWidget(m_panes[1]);

    m_panes[2]->setMinimumWidth(metrics.horizontalAdvance(Str(IDS_NUM)) + 12);
    m_panes[2]->setAlignment(Qt::AlignCenter);
    bar->addPermanentWidget(m_panes[2]);
    UpdateNumLock();
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &CMainFrame::UpdateNumLock);
    timer->start(500);
}

void CMainFrame::UpdateNumLock()
{
    const QString text = NumLockState() == 1 ? Str(IDS_NUM) : QString();
    if (m_panes[2]->text() != text)
        m_panes[2]->setText(text);
}

void CMainFrame::SetPaneText(int pane, const QString &text)
{
    if (pane < 0 || pane > 2)
        return;
    m_panes[pane]->setText(text);
    if (m_panes[pane]->isVisible())
        m_panes[pane]->repaint();
    emit paneTextChanged(pane, text);
}

QString CMainFrame::paneText(int pane) const
{
    return pane >= 0 && pane <= 2 ? m_panes[pane]->text() : QString();
}

void CMainFrame::SetRecordCount(int n)
{
    // After a failed open the total is -1; a count pane shows no negative.
    const int total = m_document ? std::max(0, m_document->recordTotal) : 0;
    SetPaneText(1, StrF(IDS_RECORD_COUNT, n, total));
}

void CMainFrame::SetFromTime(const QString &timeText)
{
    QDate date;
    QTime time;
    if (!ParseRecordTime(timeText, &date, &time))
        return;
    // A record's moment, not a day picked by the user.
    const QSignalBlocker quiet(m_selectionBar->fromDate);
    m_selectionBar->fromDate->setDate(date);
    m_selectionBar->fromTime->setTime(time);
}

void CMainFrame::SetToTime(const QString &timeText)
{
    QDate date;
    QTime time;
    if (!ParseRecordTime(timeText, &date, &time))
        return;
    const QSignalBlocker quiet(m_selectionBar->toDate);
    m_selectionBar->toDate->setDate(date);
    m_selectionBar->toTime->setTime(time);
}

namespace {

QList<QByteArray> GroupNames(LogLibrary &library)
{
    QList<QByteArray> names;
    const char *name = nullptr;
    for (int32_t cursor = library.LogGetGroup(0, &name); cursor > 0 && names.size() < kMaxNames;
         cursor = library.LogGetGroup(cursor, &name)) {
        names.append(QByteArray(name ? name : ""));
        name = nullptr;
    }
    return names;
}

} // namespace

void CMainFrame::FillGroupList()
{
    m_selectionBar->groupList->clear();
    m_selectionBar->subgroupList->clear();
    const QList<QByteArray> names = GroupNames(m_library);
    if (!names.isEmpty())
        CSelectionBar::FillSorted(m_selectionBar->groupList, names, m_library);
}

void CMainFrame::UpdateGroupList(bool redecode)
{
    QComboBox *list = m_selectionBar->groupList;
    QList<QByteArray> names = GroupNames(m_library);
    std::sort(names.begin(), names.end());
    QList<QByteArray> shown;
    for (int i = 1; i < list->count(); ++i)
        shown.append(list->itemData(i).toByteArray());
    if (!redecode && shown == names)
        return;
    const int index = list->currentIndex();
    const QByteArray chosen = CSelectionBar::ChosenBytes(list);
    const QSignalBlocker quiet(list);
    list->clear();
    if (names.isEmpty())
        return;
    CSelectionBar::FillSorted(list, names, m_library);
    if (!chosen.isNull())
        list->setCurrentIndex(std::max(0, list->findData(chosen)));
    else if (index == 0)
        list->setCurrentIndex(0);
}

void CMainFrame::OnTimeEnable()
{
    const bool on = m_selectionBar->timeEnable->isChecked();
    m_selectionBar->fromDate->setEnabled(on);
    m_selectionBar->fromTime->setEnabled(on);
    m_selectionBar->toDate->setEnabled(on);
    m_selectionBar->toTime->setEnabled(on);
}

void CMainFrame::OnGroupEnable()
{
    if (m_selectionBar->groupEnable->isChecked()) {
        if (m_library.LogHasGroup())
            m_selectionBar->groupList->setEnabled(true);
        if (m_library.LogHasSubgroup())
            m_selectionBar->subgroupList->setEnabled(true);
    } else {
        m_selectionBar->groupList->setEnabled(false);
        m_selectionBar->subgroupList->setEnabled(false);
    }
}

void CMainFrame::OnList()
{
    CSelectionBar *bar = m_selectionBar;
    int32_t accepted = 1;
    if (bar->timeEnable->isChecked()) {
        const QByteArray fromDate = CSelectionBar::DateText(bar->fromDate);
        const QByteArray fromTime = CSelectionBar::TimeText(bar->fromTime);
        const QByteArray toDate = CSelectionBar::DateText(bar->toDate);
        const QByteArray toTime = CSelectionBar::TimeText(bar->toTime);
        accepted = m_library.LogSetTimeRange(fromDate.constData(), fromTime.constData(),
                                             toDate.constData(), toTime.constData());
    } else {
        m_library.LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
    }
    if (accepted == 0) {
        SetRecordCount(0);
        m_view->ClearRecords();
        return;
    }

    const QString all = Str(IDS_ALL);
    if (bar->groupEnable->isChecked()) {
        if (bar->groupList->currentIndex() < 0) {
            ShowBox(Str(IDS_SELECT_GROUP_FIRST), BoxIcon::Warning, BoxButtons::Ok, this);
            return;
        }
        // Shown as the user reads it, handed to the library as its bytes.
        selectedGroup = bar->groupList->currentText();
        selectedGroupBytes = ChosenName(bar->groupList);
        if (selectedGroup == all) {
            m_view->LoadRecords(std::nullopt, std::nullopt);
        } else if (bar->subgroupList->currentIndex() < 0) {
            m_view->LoadRecords(selectedGroupBytes, std::nullopt);
        } else {
            selectedSubgroup = bar->subgroupList->currentText();
            selectedSubgroupBytes = ChosenName(bar->subgroupList);
            if (selectedSubgroup == all)
                m_view->LoadRecords(selectedGroupBytes, std::nullopt);
            else
                m_view->LoadRecords(selectedGroupBytes, selectedSubgroupBytes);
        }
        return;
    }
    if (groupLocked && bar->groupList->currentIndex() >= 0) {
        selectedGroup = bar->groupList->currentText();
        selectedGroupBytes = ChosenName(bar->groupList);
        m_view->LoadRecords(selectedGroupBytes, std::nullopt);
    } else {
        selectedGroup.clear();
        selectedGroupBytes = QByteArray();
        m_view->LoadRecords(std::nullopt, std::nullopt);
    }
}

void CMainFrame::UpdateCaption()
{
    setWindowTitle(Str(AFX_IDS_APP_TITLE) + QStringLiteral(" - ") + m_document->title() +
                   (m_handedOver ? Str(IDS_HANDED_OVER_CAPTION) : QString()));
}

bool CMainFrame::OpenHandedOver(const QString &path)
{
    if (!OpenDocumentFile(path))
        return false;
    m_handedOver = true;
    UpdateCaption();
    SetPaneText(0, StrF(IDS_HANDED_OVER,
                        QDir::toNativeSeparators(m_document->pathName()).toUtf8().constData()));
    return true;
}

bool CMainFrame::OpenDocumentFile(const QString &path)
{
    m_handedOver = false;
    if (!m_document->OnOpenDocument(path)) {
        // The library was already told to let the previous file go, so the
        // rows still on screen would point at nothing: start empty instead.
        m_document->recordTotal = 0;
        m_document->SetPathName(QString());
        m_view->ClearRecords();
        m_view->ResetRecordStatus();
        RemoveFromRecentFiles(path);
        UpdateCaption();
        m_follower->Follow(QString());
        return false;
    }
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    m_document->SetPathName(fullPath);
    AddToRecentFiles(fullPath);
    UpdateCaption();
    m_view->OnInitialUpdate();
    m_follower->Follow(fullPath);
    return true;
}

void CMainFrame::OnFileOpen()
{
    const QString filter = DocStringField(3) + QStringLiteral(";;") + Str(IDS_ALL_FILES_FILTER);
    const QString path = QFileDialog::getOpenFileName(this, Str(IDS_OPEN_TITLE), QString(), filter);
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

void CMainFrame::OnFileNew()
{
    m_handedOver = false;
    m_document->OnNewDocument();
    UpdateCaption();
    m_view->OnInitialUpdate();
    m_follower->Follow(QString());
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnExportData()
{
    // After a failed open the total is -1: there is nothing to move either.
    if (m_document->recordTotal <= 0) {
        ShowBox(Str(IDS_DATA_SOURCE_ERROR), BoxIcon::Warning, BoxButtons::Ok, this);
        return;
    }
    CExportDlg dialog(m_library, this);
    dialog.exec();
}

void CMainFrame::OnExportPdf()
{
    SaveFileRequest request;
    request.filter = Str(IDS_PDF_FILTER);
    request.defaultSuffix = QStringLiteral("pdf");
    const QString path = m_document->pathName();
    request.initialName =
        path.isEmpty() ? QStringLiteral("report.pdf") : QFileInfo(path).completeBaseName() + ".pdf";
    const QString chosen = AskSaveFileName(request, this);
    if (chosen.isEmpty())
        return;
    if (!m_view->ExportReportPdf(chosen))
        ShowBox(StrF(IDS_PDF_WRITE_FAIL, chosen.toUtf8().constData()), BoxIcon::Warning,
                BoxButtons::Ok, this);
}

void CMainFrame::LoadRecentFiles()
{
    QSettings settings = OpenSettings();
    m_recentFiles.clear();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString file =
            settings.value(kRecentSection + QStringLiteral("/File%1").arg(i)).toString();
        if (!file.isEmpty() && !m_recentFiles.contains(file))
            m_recentFiles.append(file);
    }
}

void CMainFrame::SaveRecentFiles()
{
    m_recentSavePending = false;
    QSettings settings = OpenSettings();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString key = kRecentSection + QStringLiteral("/File%1").arg(i);
        if (i <= m_recentFiles.size())
            settings.setValue(key, m_recentFiles.at(i - 1));
        else
            settings.remove(key);
    }
}

void CMainFrame::RecentFilesChanged()
{
    RebuildRecentMenu();
    // Written once the window has had its turn, so opening a file never
    // waits on the settings file; the destructor writes what is still due.
    if (!m_recentSavePending) {
        m_recentSavePending = true;
        QTimer::singleShot(0, this, [this] {
            if (m_recentSavePending)
                SaveRecentFiles();
        });
    }
}

void CMainFrame::AddToRecentFiles(const QString &path)
{
    m_recentFiles.removeAll(path);
    m_recentFiles.prepend(path);
    while (m_recentFiles.size() > kRecentFileCount)
        m_recentFiles.removeLast();
    RecentFilesChanged();
}

void CMainFrame::RemoveFromRecentFiles(const QString &path)
{
    if (m_recentFiles.removeAll(QFileInfo(path).absoluteFilePath()) > 0)
        RecentFilesChanged();
}

void CMainFrame::RebuildRecentMenu()
{
    for (QAction *a : m_recentActions) {
        m_fileMenu->removeAction(a);
        a->deleteLater();
    }
    m_recentActions.clear();
    const QStringList files = m_recentFiles;
    if (files.isEmpty()) {
        auto *placeholder = new QAction(Str(IDS_MENU_RECENT), this);
        placeholder->setEnabled(false);
        m_fileMenu->insertAction(m_recentSeparator, placeholder);
        m_recentActions.append(placeholder);
        return;
    }
    for (int i = 0; i < files.size(); ++i) {
        const QString file = files.at(i);
        QString shown = QDir::toNativeSeparators(file);
        if (shown.size() > 60)
            shown = shown.left(20) + QStringLiteral("...") + shown.right(37);
        shown.replace(u'&', QStringLiteral("&&"));
        auto *entry = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        entry->setStatusTip(PromptOf(ID_FILE_MRU_FILE1));
        connect(entry, &QAction::triggered, this, [this, file] { OpenDocumentFile(file); });
        m_fileMenu->insertAction(m_recentSeparator, entry);
        m_recentActions.append(entry);
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event)
{
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            activateWindow();
            OpenDocumentFile(url.toLocalFile());
            return;
        }
    }
}

} // namespace orvane
