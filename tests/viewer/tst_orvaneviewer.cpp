// The viewer's start-up, document, list, frame and selection bar against a
// library double, on the offscreen platform.

#include "fakeloglibrary.h"
#include "flattableview.h"
#include "instancechannel.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneapp.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "recordmodel.h"
#include "selectionbar.h"
#include "settings.h"
#include "stringtable.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolBar>
#include <QtTest>

using namespace orvane;
using orvane::test::FakeLogLibrary;
using orvane::test::FakeRecord;

namespace {

int g_instanceCounter = 0;

QString UniqueInstanceName()
{
    return QStringLiteral("orvane-test-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(++g_instanceCounter);
}

class BoxLog
{
public:
    BoxLog()
    {
        m_previous = SetBoxHandler([this](const BoxRequest &request) {
            texts.append(request.text);
            return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        });
    }
    ~BoxLog() { SetBoxHandler(m_previous); }
    BoxLog(const BoxLog &) = delete;
    BoxLog &operator=(const BoxLog &) = delete;
    QStringList texts;

private:
    BoxHandler m_previous;
};

QStringList Headers(const COrvaneView *view)
{
    QStringList headers;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        headers.append(view->model()->headerData(c, Qt::Horizontal).toString());
    return headers;
}

QStringList Items(const QComboBox *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

// Rows of nothing but their number, as many as asked for: counts no file
// double could hold.
class CountModel : public QAbstractTableModel
{
public:
    explicit CountModel(int rows) : m_rows(rows) {}
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_rows;
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 3;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(index.row()) : QVariant();
    }

private:
    int m_rows;
};

QSet<QString> GroupsShown(const COrvaneView *view)
{
    QSet<QString> groups;
    const int column = view->recordModel()->columnOfField(FieldGroup);
    for (int r = 0; r < view->recordCount(); ++r)
        groups.insert(view->cellText(r, column));
    return groups;
}

} // namespace

class tst_OrvaneViewer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startupColumns_data();
    void startupColumns();
    void startupWithLoggerCommandLine();
    void columnWidthsSurviveRestart();
    void messageColumnFillsTheWindow();
    void emptyGroupColumnsSaveDefaultWidth();
    void recordCountsAndProgress();
    void onlyShownRowsAreRead();
    void listKeys_data();
    void listKeys();
    void listGeometry_data();
    void listGeometry();
    void rejectedFile();
    void missingFileEndsStartup();
    void secondOpenClosesFirst();
    void failedOpenClearsOldRows();
    void droppedFileOpens();
    void listWithoutFilters();
    void timeFilter();
    void refusedTimeRange();
    void groupFilter_data();
    void groupFilter();
    void groupFilterNeedsSelection();
    void lockedGroup();
    void subgroups();
    void fileWithoutSubgroups();
    void groupListSortedWithAllFirst();
    void frameBeforeAnyFile();
    void chineseTexts();
    void secondStartHandsOverFile();
    void secondStartFromAnotherFolder();
    void secondStartWithoutFile();

private:
    QString addFile(const QString &name, QList<FakeRecord> records);
    std::unique_ptr<COrvaneApp> start(const QStringList &arguments, bool expectRunning = true);

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeLogLibrary> m_lib;
};

void tst_OrvaneViewer::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    SetLanguage(Language::English);
}

void tst_OrvaneViewer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_lib = std::make_unique<FakeLogLibrary>();
}

void tst_OrvaneViewer::cleanup()
{
    QSettings settings = OpenSettings();
    settings.clear();
    SetLanguage(Language::English);
}

QString tst_OrvaneViewer::addFile(const QString &name, QList<FakeRecord> records)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("x\n");
    file.close();
    m_lib->addFile(path, std::move(records));
    return path;
}

std::unique_ptr<COrvaneApp> tst_OrvaneViewer::start(const QStringList &arguments,
                                                    bool expectRunning)
{
    auto app = std::make_unique<COrvaneApp>(*m_lib, UniqueInstanceName());
    const bool running = app->InitInstance(arguments);
    if (running != expectRunning)
        qWarning("InitInstance returned %d", int(running));
    return running ? std::move(app) : nullptr;
}

void tst_OrvaneViewer::startupColumns_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QStringList>("headers");
    const QStringList base{"Date Time", "Group", "Subgroup", "Message"};
    QTest::newRow("no switch") << QStringList{} << base + QStringList{"AcKnowledge Message"};
    QTest::newRow("-na") << QStringList{"-na"} << base;
    QTest::newRow("-NA is not -na")
        << QStringList{"-NA"} << base + QStringList{"AcKnowledge Message"};
    QTest::newRow("-m2") << QStringList{"-m2"}
                         << base + QStringList{"AcKnowledge Message", "Append Message"};
    QTest::newRow("-m2 -na") << QStringList{"-m2", "-na"} << base + QStringList{"Append Message"};
    QTest::newRow("renamed headers") << QStringList{"-m2", "-mt1", "Checked by", "-mt2", "Notes"}
                                     << base + QStringList{"Checked by", "Notes"};
    QTest::newRow("header switch without value")
        << QStringList{"-mt1"} << base + QStringList{"AcKnowledge Message"};
}

void tst_OrvaneViewer::startupColumns()
{
    QFETCH(QStringList, switches);
    QFETCH(QStringList, headers);
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(5, 2));
    auto app = start(QStringList{path} + switches);
    QVERIFY(app);
    QCOMPARE(Headers(app->mainFrame()->view()), headers);
}

void tst_OrvaneViewer::startupWithLoggerCommandLine()
{
    const QString path = addFile("Quillet.log", FakeLogLibrary::makeRecords(30, 3));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    CSelectionBar *bar = frame->selectionBar();
    QCOMPARE(frame->view()->recordCount(), 30);
    QCOMPARE(frame->windowTitle(), QString("Orvane - Quillet.log"));
    // The pickers span the listed records; both boxes start unticked.
    QCOMPARE(bar->fromDate->date(), QDate(2024, 1, 2));
    QCOMPARE(bar->fromTime->time(), QTime(0, 0, 0));
    QCOMPARE(bar->toTime->time(), QTime(0, 29, 0));
    QVERIFY(!bar->timeEnable->isChecked());
    QVERIFY(!bar->fromDate->isEnabled());
    QVERIFY(!bar->groupEnable->isChecked());
    QVERIFY(!bar->groupList->isEnabled());
    QCOMPARE(frame->recentFiles(), QStringList{path});
    // The title switch is ignored without its own value, and kept with one.
    QCOMPARE(frame->view()->title, QString("History List Table"));
}

void tst_OrvaneViewer::columnWidthsSurviveRestart()
{
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(5, 2));
    QList<FakeRecord> sub = FakeLogLibrary::makeRecords(5, 2);
    sub[0].subgroup = "S";
    m_lib->addFile(path, sub);
    const QList<int> widths{111, 222, 133, 244, 155, 166};
    {
        auto app = start({path, "-m2"});
        QVERIFY(app);
        COrvaneView *view = app->mainFrame()->view();
        for (int c = 0; c < 6; ++c)
            view->setColumnWidth(c, widths[c]);
        // Moving a column does not hand its width to another one.
        view->horizontalHeader()->moveSection(3, 0);
    }
    QSettings settings = OpenSettings();
    QCOMPARE(settings.value("Settings/ColumnCx4").toInt(), 244);
    {
        auto app = start({path, "-m2"});
        QVERIFY(app);
        COrvaneView *view = app->mainFrame()->view();
        for (int c = 0; c < 6; ++c)
            QCOMPARE(view->columnWidth(c), widths[c]);
    }
    {
        // Without the optional columns their widths stay as saved.
        auto app = start({path, "-na"});
        QVERIFY(app);
        app->mainFrame()->view()->setColumnWidth(0, 99);
    }
    QCOMPARE(settings.value("Settings/ColumnCx1").toInt(), 99);
    QCOMPARE(settings.value("Settings/ColumnCx5").toInt(), 155);
    QCOMPARE(settings.value("Settings/ColumnCx6").toInt(), 166);
}

void tst_OrvaneViewer::messageColumnFillsTheWindow()
{
    auto app = start({addFile("a.log", FakeLogLibrary::makeRecords(5, 2)), "-m2"});
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    const int message = view->recordModel()->columnOfField(FieldMessage);
    app->mainFrame()->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(app->mainFrame()));
    for (int c = 0; c < view->model()->columnCount(); ++c)
        view->setColumnWidth(c, c == message ? view->columnWidth(c) : 60);
    // No empty space at the right, though other columns follow the message.
    QTRY_COMPARE(view->horizontalHeader()->length(), view->viewport()->width());
    // Others too wide for the window: it scrolls, messages keep their width.
    view->setColumnWidth(0, 2000);
    QCOMPARE(view->columnWidth(message), 210);
}

void tst_OrvaneViewer::emptyGroupColumnsSaveDefaultWidth()
{
    QSettings settings = OpenSettings();
    settings.setValue("Settings/ColumnCx2", 150);
    settings.setValue("Settings/ColumnCx1", -40); // never a width
    const QString path = addFile("nogroups.log", FakeLogLibrary::makeRecords(10, 0));
    {
        auto app = start({path, "-na"});
        QVERIFY(app);
        COrvaneView *view = app->mainFrame()->view();
        QCOMPARE(view->columnWidth(0), 160);
        QCOMPARE(view->columnWidth(1), 0);
        QCOMPARE(view->columnWidth(2), 0);
    }
    QCOMPARE(settings.value("Settings/ColumnCx2").toInt(), 120);
    QCOMPARE(settings.value("Settings/ColumnCx3").toInt(), 120);
}

void tst_OrvaneViewer::recordCountsAndProgress()
{
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(250, 2));
    auto app = start({QStringLiteral("-na")});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    QSignalSpy spy(frame, &CMainFrame::paneTextChanged);
    QVERIFY(frame->OpenDocumentFile(path));

    QStringList pane0;
    for (const QList<QVariant> &call : spy) {
        if (call.at(0).toInt() == 0)
            pane0.append(call.at(1).toString());
    }
    QCOMPARE(pane0.first(), QString("Please waiting . . ."));
    QCOMPARE(pane0.last(), QString("Ready"));
    const QStringList progress = pane0.filter("Reading  ");
    // About every second row of 250, rising to the end.
    QVERIFY2(progress.size() > 100 && progress.size() < 130,
             qPrintable(QString::number(progress.size())));
    QCOMPARE(progress.last(), QString("Reading  100%"));
    QCOMPARE(frame->paneText(1), QString("Record : 250/250            "));
    QCOMPARE(frame->view()->firstTime, QString("01/02/2024 00:00:00"));
    QCOMPARE(frame->view()->lastTime, QString("01/02/2024 04:09:00"));

    // A selection of nothing: empty list, count against the file's total.
    CSelectionBar *bar = frame->selectionBar();
    bar->timeEnable->setChecked(true);
    bar->fromDate->setDate(QDate(2030, 1, 1));
    bar->toDate->setDate(QDate(2030, 1, 2));
    bar->listButton->click();
    QCOMPARE(frame->view()->recordCount(), 0);
    QCOMPARE(frame->paneText(1), QString("Record : 0/250            "));
    QVERIFY(frame->view()->firstTime.isEmpty());
    QVERIFY(frame->view()->lastTime.isEmpty());
}

void tst_OrvaneViewer::onlyShownRowsAreRead()
{
    const int n = 200000;
    const QString path = addFile("big.log", FakeLogLibrary::makeRecords(n, 0));
    auto app = start({path, "-na"});
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    QVERIFY(QTest::qWaitForWindowExposed(app->mainFrame()));
    QCoreApplication::processEvents();
    QCOMPARE(view->recordCount(), n);
    // The newest record is in view, and the library was asked for little
    // more than the rows on screen.
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    const int lastShown = view->rowAt(view->viewport()->height() - 2);
    QVERIFY2(lastShown == n - 1 || lastShown == -1, qPrintable(QString::number(lastShown)));
    QVERIFY2(m_lib->recordFetches < 500, qPrintable(QString::number(m_lib->recordFetches)));
    QCOMPARE(view->cellText(n - 1, 3), QString("message %1").arg(n - 1));
}

void tst_OrvaneViewer::listKeys_data()
{
    // A click on a row (in the column at place `place` on screen), the keys
    // pressed, and where the cursor is then. Row -1 is the last row, place
    // -1 the last column, and row -2 a page of rows below the start.
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("place");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("toRow");
    QTest::addColumn<int>("toPlace");
    QTest::newRow("down") << 10 << 0 << QKeySequence(Qt::Key_Down) << 11 << 0;
    QTest::newRow("up at the top") << 0 << 1 << QKeySequence(Qt::Key_Up) << 0 << 1;
    QTest::newRow("down at the end") << -1 << 0 << QKeySequence(Qt::Key_Down) << -1 << 0;
    QTest::newRow("home stays in the row") << 150 << -1 << QKeySequence(Qt::Key_Home) << 150 << 0;
    QTest::newRow("ctrl+home") << 150 << -1 << QKeySequence(Qt::CTRL | Qt::Key_Home) << 0 << 0;
    QTest::newRow("ctrl+end") << 10 << 0 << QKeySequence(Qt::CTRL | Qt::Key_End) << -1 << -1;
    QTest::newRow("right at the end") << 5 << -1 << QKeySequence(Qt::Key_Right) << 5 << -1;
    QTest::newRow("tab wraps") << 5 << -1 << QKeySequence(Qt::Key_Tab) << 6 << 0;
    QTest::newRow("backtab wraps") << 6 << 0 << QKeySequence(Qt::Key_Backtab) << 5 << -1;
    QTest::newRow("page down") << 100 << 0 << QKeySequence(Qt::Key_PageDown) << -2 << 0;
    QTest::newRow("page down, up") << 100 << 0
                                   << QKeySequence(Qt::Key_PageDown, Qt::Key_PageUp) << 100 << 0;
}

void tst_OrvaneViewer::listKeys()
{
    QFETCH(int, row);
    QFETCH(int, place);
    QFETCH(QKeySequence, keys);
    QFETCH(int, toRow);
    QFETCH(int, toPlace);
    const int n = 300;
    auto app = start({addFile("a.log", FakeLogLibrary::makeRecords(n, 2)), "-na"});
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    QVERIFY(QTest::qWaitForWindowExposed(app->mainFrame()));
    const QHeaderView *header = view->horizontalHeader();
    const auto column = [header](int at) {
        return header->logicalIndex(at < 0 ? header->count() - 1 : at);
    };
    const int page = view->viewport()->height() / view->rowHeight();
    row = row < 0 ? n - 1 : row;
    toRow = toRow == -1 ? n - 1 : toRow == -2 ? row + page : toRow;

    view->scrollTo(view->model()->index(row, column(place)));
    const QPoint cell(view->columnViewportPosition(column(place)) + 2,
                      view->rowViewportPosition(row) + 2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(view->currentIndex().row(), row);
    QTest::keySequence(view, keys);

    const QModelIndex current = view->currentIndex();
    QCOMPARE(current.row(), toRow);
    QCOMPARE(current.column(), column(toPlace));
    // The whole row is the selection, and on screen.
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), toRow);
    QCOMPARE(view->selectionModel()->selectedIndexes().size(), view->model()->columnCount());
    const int top = view->rowViewportPosition(toRow);
    QVERIFY2(top >= 0 && top + view->rowHeight() <= view->viewport()->height(),
             qPrintable(QString::number(top)));
}

void tst_OrvaneViewer::listGeometry_data()
{
    // Up to where rows of about 20 pixels overflow a scroll bar's int,
    // scrolled by row and by pixel.
    QTest::addColumn<int>("rows");
    QTest::addColumn<QAbstractItemView::ScrollMode>("mode");
    for (const int rows : {3, 1000, 4000000, 200000000}) {
        QTest::addRow("%d by row", rows) << rows << QAbstractItemView::ScrollPerItem;
        QTest::addRow("%d by pixel", rows) << rows << QAbstractItemView::ScrollPerPixel;
    }
}

void tst_OrvaneViewer::listGeometry()
{
    QFETCH(int, rows);
    QFETCH(QAbstractItemView::ScrollMode, mode);
    CountModel model(rows);
    FlatTableView list;
    list.setModel(&model);
    list.setVerticalScrollMode(mode);
    list.resize(400, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const int height = list.viewport()->height();
    const int inView = height / list.rowHeight();

    // Scrolled to the end, the last row stands on the bottom edge.
    list.scrollToBottom();
    if (rows > inView) {
        QCOMPARE(list.rowViewportPosition(rows - 1) + list.rowHeight(), height);
        QCOMPARE(list.rowAt(height - 1), rows - 1);
    }
    // A row brought to the top is drawn there and found where it is drawn,
    // by the mouse and by a screen reader, which reads it under its header.
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(&list);
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->tableInterface()->rowCount(), rows);
    for (const int row : {0, rows / 2, rows - 1}) {
        const QModelIndex index = model.index(row, 1);
        list.scrollTo(index, QAbstractItemView::PositionAtTop);
        const QRect cell = list.visualRect(index);
        QVERIFY(list.viewport()->rect().contains(cell));
        QCOMPARE(list.indexAt(cell.center()), index);
        if (row < rows - inView)
            QCOMPARE(cell.top(), 0);

        list.setCurrentIndex(index);
        QAccessibleInterface *read = table->focusChild();
        QVERIFY(read && read->tableCellInterface());
        QCOMPARE(read->text(QAccessible::Name), QString::number(row));
        QVERIFY(read->tableCellInterface()->isSelected());
        QCOMPARE(read->rect(), QRect(list.viewport()->mapToGlobal(cell.topLeft()), cell.size()));
        QCOMPARE(table->childAt(read->rect().center().x(), read->rect().center().y()), read);
        const QList<QAccessibleInterface *> headers = read->tableCellInterface()->columnHeaderCells();
        QCOMPARE(headers.size(), 1);
        QCOMPARE(headers.first()->text(QAccessible::Name), QStringLiteral("2"));
    }
}

void tst_OrvaneViewer::rejectedFile()
{
    BoxLog boxes;
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.log");
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    // At start-up: the box, then a running viewer with an empty list and 0 of 0.
    auto app = start({bad, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    QCOMPARE(boxes.texts, QStringList{"Open file fail !!"});
    QCOMPARE(frame->view()->recordCount(), 0);
    QCOMPARE(frame->paneText(1), QString("Record : 0/0            "));
    const qsizetype opened = m_lib->calls.indexOf("LogOpen " + bad);
    QVERIFY(opened >= 0);
    QCOMPARE(m_lib->calls.value(opened + 1), QString("LogClose"));

    // Later, after a good file: the rows of that file do not stay behind.
    const QString good = addFile("good.log", FakeLogLibrary::makeRecords(20, 2));
    QVERIFY(frame->OpenDocumentFile(good));
    QCOMPARE(frame->paneText(1), QString("Record : 20/20            "));
    QVERIFY(frame->OpenDocumentFile(bad));
    QCOMPARE(boxes.texts.size(), 2);
    QCOMPARE(frame->view()->recordCount(), 0);
    QCOMPARE(frame->paneText(0), QString("Ready"));
    QCOMPARE(frame->paneText(1), QString("Record : 0/0            "));
}

void tst_OrvaneViewer::missingFileEndsStartup()
{
    BoxLog boxes;
    const QString missing = m_dir->filePath("gone.log");
    QVERIFY(!start({missing, "-na"}, false));
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts.first().startsWith(missing));
    QVERIFY(!m_lib->calls.contains("LogOpen " + missing));
}

void tst_OrvaneViewer::secondOpenClosesFirst()
{
    const QString first = addFile("first.log", FakeLogLibrary::makeRecords(7, 1));
    const QString second = addFile("second.log", FakeLogLibrary::makeRecords(3, 1));
    auto app = start({first, "-na"});
    QVERIFY(app);
    m_lib->calls.clear();
    QVERIFY(app->mainFrame()->OpenDocumentFile(second));
    QCOMPARE(m_lib->calls.mid(0, 2), (QStringList{"LogClose", "LogOpen " + second}));
    QCOMPARE(app->mainFrame()->view()->recordCount(), 3);
    QCOMPARE(app->mainFrame()->recentFiles(), (QStringList{second, first}));
    QCOMPARE(app->mainFrame()->windowTitle(), QString("Orvane - second.log"));
    // The list outlives the viewer.
    app.reset();
    app = start({});
    QVERIFY(app);
    QCOMPARE(app->mainFrame()->recentFiles(), (QStringList{second, first}));
}

void tst_OrvaneViewer::failedOpenClearsOldRows()
{
    BoxLog boxes;
    const QString first = addFile("first.log", FakeLogLibrary::makeRecords(7, 1));
    auto app = start({first, "-na"});
    QVERIFY(app);
    QFile::remove(first);
    QVERIFY(!app->mainFrame()->OpenDocumentFile(first));
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(app->mainFrame()->view()->recordCount(), 0);
    QCOMPARE(app->mainFrame()->paneText(1), QString("Record : 0/0            "));
    // A file that can no longer be opened leaves the recent-file list.
    QVERIFY(app->mainFrame()->recentFiles().isEmpty());
}

void tst_OrvaneViewer::droppedFileOpens()
{
    const QString path = addFile("dropped.log", FakeLogLibrary::makeRecords(8, 1));
    auto app = start({});
    QVERIFY(app);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    // Qt hands a drop only to the widget that took the drag when it entered.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app->mainFrame(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(app->mainFrame(), &drop);
    QCOMPARE(app->mainFrame()->view()->recordCount(), 8);
    QCOMPARE(app->mainFrame()->document()->pathName(), path);
}

void tst_OrvaneViewer::listWithoutFilters()
{
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(12, 3));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    frame->selectedGroup = "G1";
    m_lib->calls.clear();
    frame->selectionBar()->listButton->click();
    QCOMPARE(m_lib->calls,
             (QStringList{"LogSetTimeRange null null null null", "LogSelect null|null"}));
    QCOMPARE(frame->view()->recordCount(), 12);
    QVERIFY(frame->selectedGroup.isEmpty());
}

void tst_OrvaneViewer::timeFilter()
{
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(100, 2));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    CSelectionBar *bar = frame->selectionBar();
    QTest::mouseClick(bar->timeEnable, Qt::LeftButton, {},
                      QPoint(4, bar->timeEnable->height() / 2));
    QVERIFY(bar->timeEnable->isChecked());
    QVERIFY(bar->fromDate->isEnabled() && bar->toTime->isEnabled());
    bar->fromTime->setTime(QTime(0, 10, 0));
    bar->toTime->setTime(QTime(0, 19, 0));
    m_lib->calls.clear();
    bar->listButton->click();
    QCOMPARE(m_lib->calls.first(),
             QString("LogSetTimeRange 01/02/2024 00:10:00 01/02/2024 00:19:00"));
    QCOMPARE(frame->view()->recordCount(), 10);
    QCOMPARE(frame->paneText(1), QString("Record : 10/100            "));

    // Time and group together.
    bar->groupEnable->setChecked(true);
    frame->OnGroupEnable();
    bar->groupList->setCurrentIndex(bar->groupList->findText("G1"));
    bar->listButton->click();
    QCOMPARE(frame->view()->recordCount(), 5);
    QCOMPARE(GroupsShown(frame->view()), QSet<QString>{"G1"});

    // A date the user picks counts whole, whatever time a record set.
    bar->fromDate->setDate(QDate(2024, 1, 1));
    bar->toDate->setDate(QDate(2024, 1, 3));
    bar->listButton->click();
    QVERIFY(m_lib->calls.contains("LogSetTimeRange 01/01/2024 00:00:00 01/03/2024 23:59:59"));
}

void tst_OrvaneViewer::refusedTimeRange()
{
    BoxLog boxes;
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(40, 2));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    frame->selectionBar()->timeEnable->setChecked(true);
    m_lib->refuseTimeRange = true;
    m_lib->calls.clear();
    frame->OnList();
    QCOMPARE(frame->view()->recordCount(), 0);
    QCOMPARE(frame->paneText(1), QString("Record : 0/40            "));
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(m_lib->calls.filter("LogSelect").isEmpty());
}

void tst_OrvaneViewer::groupFilter_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("select");
    QTest::addColumn<int>("count");
    QTest::newRow("[All]") << "[All]"
                           << "LogSelect null|null" << 30;
    QTest::newRow("one group") << "G2"
                               << "LogSelect G2|null" << 10;
}

void tst_OrvaneViewer::groupFilter()
{
    QFETCH(QString, group);
    QFETCH(QString, select);
    QFETCH(int, count);
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(30, 3));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    CSelectionBar *bar = frame->selectionBar();
    bar->groupEnable->click();
    QVERIFY(bar->groupList->isEnabled());
    QVERIFY(!bar->subgroupList->isEnabled()); // the file has no subgroups
    const int index = bar->groupList->findText(group);
    QVERIFY(index >= 0);
    bar->groupList->setCurrentIndex(index);
    emit bar->groupList->activated(index);
    QCOMPARE(bar->subgroupList->count(), 0);
    m_lib->calls.clear();
    bar->listButton->click();
    QCOMPARE(m_lib->calls.last(), select);
    QCOMPARE(frame->view()->recordCount(), count);
    QCOMPARE(frame->selectedGroup, group);
    QCOMPARE(frame->paneText(1), QString("Record : %1/30            ").arg(count));
}

void tst_OrvaneViewer::groupFilterNeedsSelection()
{
    BoxLog boxes;
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(30, 3));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    CSelectionBar *bar = frame->selectionBar();
    bar->groupEnable->click();
    QCOMPARE(bar->groupList->currentIndex(), -1);
    m_lib->calls.clear();
    bar->listButton->click();
    QCOMPARE(boxes.texts, QStringList{"Please select group !!"});
    QVERIFY(m_lib->calls.filter("LogSelect").isEmpty());
    QCOMPARE(frame->view()->recordCount(), 30); // the list stays as it was
}

void tst_OrvaneViewer::lockedGroup()
{
    BoxLog boxes;
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(40, 4));
    auto app = start({path, "-na", "-c", "g2", "-f"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    CSelectionBar *bar = frame->selectionBar();
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(bar->groupList->currentText(), QString("G2"));
    QCOMPARE(frame->view()->recordCount(), 10);
    QCOMPARE(GroupsShown(frame->view()), QSet<QString>{"G2"});
    QVERIFY(!bar->groupEnable->isEnabled());
    QVERIFY(!bar->groupList->isEnabled());
    QVERIFY(frame->groupLocked);
    // The pickers span that group's records.
    QCOMPARE(bar->fromTime->time(), QTime(0, 2, 0));
    QCOMPARE(bar->toTime->time(), QTime(0, 38, 0));

    // "List" keeps applying the locked group, with or without its box ticked.
    bar->listButton->click();
    QCOMPARE(GroupsShown(frame->view()), QSet<QString>{"G2"});
    bar->groupEnable->setChecked(false);
    bar->listButton->click();
    QCOMPARE(GroupsShown(frame->view()), QSet<QString>{"G2"});
    QCOMPARE(frame->view()->recordCount(), 10);
}

void tst_OrvaneViewer::subgroups()
{
    QList<FakeRecord> records;
    const char *groups[] = {"Pumps", "Pumps", "Pumps", "Tanks", "Tanks"};
    const char *subgroups[] = {"North", "South", "North", "East", ""};
    for (int i = 0; i < 5; ++i) {
        FakeRecord r;
        r.time = QByteArray("03/07/2024 14:0") + QByteArray::number(i) + ":00";
        r.group = groups[i];
        r.subgroup = subgroups[i];
        r.message = "m" + QByteArray::number(i);
        r.ack = "ack" + QByteArray::number(i);
        r.append = "app" + QByteArray::number(i);
        records.append(r);
    }
    const QString path = addFile("sub.log", records);
    auto app = start({path, "-m2"});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    COrvaneView *view = frame->view();
    CSelectionBar *bar = frame->selectionBar();
    QCOMPARE(view->columnWidth(2), 120);
    QCOMPARE(view->cellText(1, 2), QString("South"));
    QCOMPARE(view->cellText(1, 4), QString("ack1"));
    QCOMPARE(view->cellText(1, 5), QString("app1"));

    bar->groupEnable->click();
    QVERIFY(bar->groupList->isEnabled());
    QVERIFY(bar->subgroupList->isEnabled());
    const int pumps = bar->groupList->findText("Pumps");
    bar->groupList->setCurrentIndex(pumps);
    emit bar->groupList->activated(pumps);
    QCOMPARE(Items(bar->subgroupList), (QStringList{"[All]", "North", "South"}));
    QCOMPARE(bar->subgroupList->currentIndex(), 0);

    m_lib->calls.clear();
    bar->listButton->click();
    QCOMPARE(m_lib->calls.last(), QString("LogSelect Pumps|null"));
    QCOMPARE(view->recordCount(), 3);

    bar->subgroupList->setCurrentIndex(bar->subgroupList->findText("North"));
    bar->listButton->click();
    QCOMPARE(m_lib->calls.last(), QString("LogSelect Pumps|North"));
    QCOMPARE(view->recordCount(), 2);
    QCOMPARE(frame->selectedSubgroup, QString("North"));

    // Refilling for another group starts again from "[All]".
    const int tanks = bar->groupList->findText("Tanks");
    bar->groupList->setCurrentIndex(tanks);
    emit bar->groupList->activated(tanks);
    QCOMPARE(Items(bar->subgroupList), (QStringList{"[All]", "East"}));
    bar->listButton->click();
    QCOMPARE(m_lib->calls.last(), QString("LogSelect Tanks|null"));

    // Group preselected with -c also fills its subgroups.
    app.reset();
    app = start({path, "-c", "Pumps"});
    QVERIFY(app);
    QCOMPARE(Items(app->mainFrame()->selectionBar()->subgroupList),
             (QStringList{"[All]", "North", "South"}));
    QCOMPARE(app->mainFrame()->view()->recordCount(), 3);
}

void tst_OrvaneViewer::fileWithoutSubgroups()
{
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(6, 2));
    auto app = start({path, "-na"});
    QVERIFY(app);
    CSelectionBar *bar = app->mainFrame()->selectionBar();
    QCOMPARE(app->mainFrame()->view()->columnWidth(2), 0);
    bar->groupEnable->click();
    bar->groupList->setCurrentIndex(1);
    emit bar->groupList->activated(1);
    QCOMPARE(bar->subgroupList->count(), 0);
    QVERIFY(!bar->subgroupList->isEnabled());
    // Unticking disables both lists again.
    bar->groupEnable->click();
    QVERIFY(!bar->groupList->isEnabled());
}

void tst_OrvaneViewer::groupListSortedWithAllFirst()
{
    QList<FakeRecord> records = FakeLogLibrary::makeRecords(4, 0);
    const QByteArray names[] = {"beta", "Alpha", "水塔", "Zulu"};
    for (int i = 0; i < 4; ++i)
        records[i].group = names[i];
    const QString withGroups = addFile("g.log", records);
    const QString without = addFile("n.log", FakeLogLibrary::makeRecords(4, 0));
    auto app = start({withGroups, "-na"});
    QVERIFY(app);
    CSelectionBar *bar = app->mainFrame()->selectionBar();
    QCOMPARE(Items(bar->groupList), (QStringList{"[All]", "Alpha", "Zulu", "beta", "水塔"}));
    QCOMPARE(bar->groupList->currentIndex(), -1);
    QVERIFY(app->mainFrame()->OpenDocumentFile(without));
    QCOMPARE(bar->groupList->count(), 0);
    QCOMPARE(app->mainFrame()->view()->columnWidth(1), 0);
}

void tst_OrvaneViewer::frameBeforeAnyFile()
{
    auto app = start({});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    QCOMPARE(frame->paneText(1), QString("Record : 0/0            "));
    QCOMPARE(frame->windowTitle(), QString("Orvane - Untitled"));
    // Toolbar commands carry their icons into the menu.
    for (int id : {ID_FILE_OPEN, ID_EXPORT_DATA, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW,
                   ID_FILE_PRINT_SETUP, ID_FILE_PRINT_DIRECT, ID_APP_ABOUT}) {
        QAction *action = frame->action(id);
        QVERIFY2(action && !action->icon().isNull(), qPrintable(QString::number(id)));
        QVERIFY(frame->toolBar()->actions().contains(action));
    }
    QVERIFY(frame->action(ID_FILE_OPEN)->isEnabled());
    QVERIFY(frame->action(ID_FILE_PRINT)->isEnabled());
    QVERIFY(frame->action(ID_EXPORT_DATA)->isEnabled());
    QCOMPARE(frame->action(ID_FILE_PRINT_DIRECT)->shortcut(), QKeySequence("F7"));
    QCOMPARE(frame->action(ID_EXPORT_DATA)->toolTip(), QString("Export"));
    QCOMPARE(frame->action(ID_EXPORT_DATA)->statusTip(), QString("Move data before select time"));
    QCOMPARE(frame->action(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
    QCOMPARE(frame->action(ID_FILE_NEW)->shortcut(), QKeySequence("Ctrl+N"));
    QCOMPARE(frame->action(ID_FILE_PRINT)->shortcut(), QKeySequence("Ctrl+P"));
    QCOMPARE(frame->action(ID_FILE_OPEN)->toolTip(), QString("Open"));
    QVERIFY(!frame->action(ID_HELP_FINDER)->isEnabled());
    QStringList menus;
    for (QAction *menu : frame->menuBar()->actions())
        menus.append(menu->text());
    QCOMPARE(menus, (QStringList{"&File", "&View", "&Help"}));
}

void tst_OrvaneViewer::chineseTexts()
{
    SetLanguage(Language::Chinese);
    const QString path = addFile("a.log", FakeLogLibrary::makeRecords(3, 1));
    auto app = start({path});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    QCOMPARE(frame->paneText(1), QString("總筆數: 3/3            "));
    QCOMPARE(Headers(frame->view()),
             (QStringList{"日期時間", "分類", "子分類", "訊息", "確認訊息"}));
    QCOMPARE(Items(frame->selectionBar()->groupList).first(), QString("[全部]"));
    // Dates read as in the list, in every language.
    QCOMPARE(frame->selectionBar()->toDate->text(), frame->view()->lastTime.left(10));
    QCOMPARE(frame->selectionBar()->listButton->text(), QString("列出"));
    QStringList menus;
    for (QAction *menu : frame->menuBar()->actions())
        menus.append(menu->text());
    QCOMPARE(menus, (QStringList{"檔案(&F)", "檢視(&V)", "說明(&H)"}));
    QVERIFY(!frame->action(ID_HELP_FINDER)); // English only
}

void tst_OrvaneViewer::secondStartHandsOverFile()
{
    BoxLog boxes;
    const QString first = addFile("first.log", FakeLogLibrary::makeRecords(4, 1));
    const QString second = addFile("second.log", FakeLogLibrary::makeRecords(9, 1));
    const QString name = UniqueInstanceName();
    COrvaneApp running(*m_lib, name);
    QVERIFY(running.InitInstance({first, "-na"}));

    // The second start runs in its own process in real life; here its
    // hand-over is answered once the running viewer's events are processed.
    CInstanceChannel later(name);
    QSignalSpy requests(&later, &CInstanceChannel::requested);
    QVERIFY(later.HandOver(second, 200));
    QTRY_COMPARE_WITH_TIMEOUT(running.mainFrame()->view()->recordCount(), 9, 5000);
    QCOMPARE(running.mainFrame()->document()->pathName(), second);
    QVERIFY(boxes.texts.isEmpty());
    // The user did not open it here: caption and status line say so.
    QVERIFY(running.mainFrame()->windowTitle().endsWith(Str(IDS_HANDED_OVER_CAPTION)));
    QCOMPARE(running.mainFrame()->paneText(0), StrF(IDS_HANDED_OVER, second.toUtf8().constData()));
}

void tst_OrvaneViewer::secondStartFromAnotherFolder()
{
    // The running viewer works in one folder, the second start in another,
    // and both hold a history of the same name: the one meant is the one
    // beside the second start.
    BoxLog boxes;
    QVERIFY(QDir(m_dir->path()).mkdir("here") && QDir(m_dir->path()).mkdir("there"));
    addFile("here/Quillet.log", FakeLogLibrary::makeRecords(4, 1));
    const QString meant = addFile("there/Quillet.log", FakeLogLibrary::makeRecords(9, 1));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->filePath("here")));
    const QString name = UniqueInstanceName();
    COrvaneApp running(*m_lib, name);
    QVERIFY(running.InitInstance({"Quillet.log", "-na"}));
    QCOMPARE(running.mainFrame()->view()->recordCount(), 4);

    QVERIFY(QDir::setCurrent(m_dir->filePath("there")));
    CInstanceChannel later(name);
    const bool handed = later.HandOver("Quillet.log", 200);
    QVERIFY(QDir::setCurrent(m_dir->filePath("here")));
    QVERIFY(handed);
    QTRY_COMPARE_WITH_TIMEOUT(running.mainFrame()->document()->pathName(), meant, 5000);
    QCOMPARE(running.mainFrame()->view()->recordCount(), 9);
    QDir::setCurrent(before);
    QVERIFY(boxes.texts.isEmpty());
}

void tst_OrvaneViewer::secondStartWithoutFile()
{
    BoxLog boxes;
    const QString name = UniqueInstanceName();
    COrvaneApp running(*m_lib, name);
    QVERIFY(running.InitInstance({}));
    running.mainFrame()->showMinimized();

    COrvaneApp second(*m_lib, name);
    QVERIFY(!second.InitInstance({}));
    QCOMPARE(boxes.texts, QStringList{"Program is running!!"});
    QVERIFY(!second.mainFrame());
    QTRY_VERIFY_WITH_TIMEOUT(!(running.mainFrame()->windowState() & Qt::WindowMinimized), 5000);
}

QTEST_MAIN(tst_OrvaneViewer)
#include "tst_orvaneviewer.moc"
