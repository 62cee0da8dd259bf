// The viewer on files in the logger's own format, read through libtamsin.

#include "filefollower.h"
#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneapp.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "recordmodel.h"
#include "selectionbar.h"
#include "settings.h"
#include "stringtable.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>
#include <tamsin.h>

using namespace orvane;

namespace {

void Append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::Append))
        file.write(bytes);
}

QStringList Items(const QComboBox *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

} // namespace

class tst_OrvaneTamsin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    // The library's time filter outlives a file, as it would a process of
    // its own: each test starts without one.
    void init() { m_library->LogSetTimeRange(nullptr, nullptr, nullptr, nullptr); }
    void loggerFile();
    void rejectedFile_data();
    void rejectedFile();
    void legacyHistory();
    void followsTheFile();

private:
    QString write(const QString &name, const QByteArray &content);
    QString nextName() const;
    QTemporaryDir m_dir;
    std::unique_ptr<LogLibrary> m_library = MakeTamsinLibrary();
    int m_runs = 0;
};

void tst_OrvaneTamsin::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qunsetenv("ORVANE_LEGACY_CODEPAGE");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    SetLanguage(Language::English);
}

QString tst_OrvaneTamsin::write(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(content);
    return path;
}

void tst_OrvaneTamsin::loggerFile()
{
    const QString path =
        write("站點 Quillet.log", "03/07/2024 14:05:09 [North Pump Station] A3 Pump failure\r\n"
                                  "03/07/2024 14:06:00 [水塔] 高水位\r\n"
                                  "03/07/2024 14:07:30 [North Pump Station] first line\r\n"
                                  " second line\r\n"
                                  "03/08/2024 09:00:00 [0912345678] Power restored\r\n");
    COrvaneApp app(*m_library, QStringLiteral("orvane-tamsin-%1-%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(++m_runs));
    QVERIFY(app.InitInstance({path, "-na"}));
    CMainFrame *frame = app.mainFrame();
    COrvaneView *view = frame->view();
    QCOMPARE(view->recordCount(), 4);
    QCOMPARE(frame->paneText(1), QString("Record : 4/4            "));
    QCOMPARE(view->cellText(1, 1), QString("水塔"));
    QCOMPARE(view->cellText(1, 3), QString("高水位"));
    // A message received on two lines stays one record, shown on one line.
    QCOMPARE(view->cellText(2, 3), QString("first line second line"));
    QCOMPARE(view->firstTime, QString("03/07/2024 14:05:09"));
    QCOMPARE(view->lastTime, QString("03/08/2024 09:00:00"));
    // The caller is the group, its column as wide as the longest; the logger
    // writes no subgroups.
    QVERIFY(view->columnWidth(1) > view->fontMetrics().horizontalAdvance("North Pump Station"));
    QCOMPARE(view->columnWidth(2), 0);

    CSelectionBar *bar = frame->selectionBar();
    QCOMPARE(bar->groupList->count(), 4);
    QCOMPARE(bar->groupList->itemText(0), QString("[All]"));
    bar->groupEnable->click();
    QVERIFY(!bar->subgroupList->isEnabled());
    bar->groupList->setCurrentIndex(bar->groupList->findText("North Pump Station"));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 2);

    // The time span of the pickers, applied by the library.
    bar->groupEnable->click();
    bar->timeEnable->click();
    bar->toDate->setDate(QDate(2024, 3, 7));
    bar->toTime->setTime(QTime(14, 6, 0));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 2);
    QCOMPARE(frame->paneText(1), QString("Record : 2/4            "));
}

void tst_OrvaneTamsin::rejectedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not a log") << QByteArray("hello world\nthis is not a history file\n");
    QTest::newRow("binary") << QByteArray("\x00\x01\x02\x03", 4);
}

void tst_OrvaneTamsin::rejectedFile()
{
    QFETCH(QByteArray, content);
    QStringList boxes;
    const BoxHandler previous = SetBoxHandler([&boxes](const BoxRequest &request) {
        boxes.append(request.text);
        return BoxAnswer::Ok;
    });
    const QString path = write("bad.log", content);
    {
        COrvaneApp app(*m_library, QStringLiteral("orvane-tamsin-%1-%2")
                                       .arg(QCoreApplication::applicationPid())
                                       .arg(++m_runs));
        QVERIFY(app.InitInstance({path}));
        QCOMPARE(app.mainFrame()->view()->recordCount(), 0);
        QCOMPARE(app.mainFrame()->paneText(1), QString("Record : 0/0            "));
    }
    SetBoxHandler(previous);
    QCOMPARE(boxes, QStringList{"Open file fail !!"});
}

QString tst_OrvaneTamsin::nextName() const
{
    return QStringLiteral("orvane-tamsin-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(m_runs);
}

void tst_OrvaneTamsin::legacyHistory()
{
    // Written on a Traditional Chinese Windows machine: Big5. Then the new
    // logger went on in UTF-8 in the same file.
    QStringEncoder big5("Big5");
    const QStringList sites{"北區泵站", "南區水廠", "東門加壓站"};
    QByteArray content;
    for (int i = 0; i < 300; ++i) {
        const QString line = QStringLiteral("03/%1/2024 08:%2:00 [%3] 水位過高 %4\r\n")
                                 .arg(1 + i / 60, 2, 10, QChar(u'0'))
                                 .arg(i % 60, 2, 10, QChar(u'0'))
                                 .arg(sites[i % 3])
                                 .arg(i);
        content += big5.encode(line);
    }
    content += QByteArray("03/09/2024 09:00:00 [西郊污水廠] 新的記錄 in UTF-8\r\n");
    const QString path = write("舊歷史.log", content);
    ++m_runs;
    COrvaneApp app(*m_library, nextName());
    QVERIFY(app.InitInstance({path, "-na"}));
    CMainFrame *frame = app.mainFrame();
    COrvaneView *view = frame->view();
    QCOMPARE(view->recordCount(), 301);
    QCOMPARE(view->cellText(0, 1), QString("北區泵站"));
    QCOMPARE(view->cellText(0, 3), QString("水位過高 0"));
    QCOMPARE(view->cellText(300, 3), QString("新的記錄 in UTF-8"));

    // Listed, chosen and filtered by the name as the file holds it.
    CSelectionBar *bar = frame->selectionBar();
    // In the file's byte order.
    QCOMPARE(Items(bar->groupList),
             (QStringList{"[All]", "北區泵站", "東門加壓站", "南區水廠", "西郊污水廠"}));
    bar->groupEnable->click();
    bar->groupList->setCurrentIndex(bar->groupList->findText("南區水廠"));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 100);
    QCOMPARE(frame->selectedGroup, QString("南區水廠"));

    // Another code page reads the same bytes otherwise, and the choice is
    // kept; filtering still goes by the bytes.
    frame->SetLegacyCodePage("GBK");
    QVERIFY(view->cellText(0, 1) != QString("南區水廠"));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 100);
    QCOMPARE(OpenSettings().value("Settings/LegacyCodePage").toString(), QString("GBK"));
    frame->SetLegacyCodePage("Big5");
    QCOMPARE(view->cellText(0, 1), QString("南區水廠"));
    QCOMPARE(frame->selectedGroup, QString("南區水廠"));
}

void tst_OrvaneTamsin::followsTheFile()
{
    QByteArray content;
    for (int i = 0; i < 200; ++i)
        content += QStringLiteral("03/07/2024 %1:%2:00 [%3] record %4\r\n")
                       .arg(8 + i / 60, 2, 10, QChar(u'0'))
                       .arg(i % 60, 2, 10, QChar(u'0'))
                       .arg(i % 2 ? "North" : "South")
                       .arg(i)
                       .toUtf8();
    const QString path = write("follow.log", content);
    ++m_runs;
    COrvaneApp app(*m_library, nextName());
    QVERIFY(app.InitInstance({path, "-na"}));
    CMainFrame *frame = app.mainFrame();
    COrvaneView *view = frame->view();
    QVERIFY(frame->following()); // on unless turned off
    QVERIFY(view->AtNewest());

    // Appended: listed within a second, at its time, the newest row in view.
    Append(path, "03/07/2024 12:00:00 [Tank] newest\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(view->recordCount(), 201, 1000);
    QCOMPARE(view->cellText(200, 3), QString("newest"));
    QCOMPARE(view->lastTime, QString("03/07/2024 12:00:00"));
    QCOMPARE(frame->paneText(1), QString("Record : 201/201            "));
    QVERIFY(Items(frame->selectionBar()->groupList).contains("Tank"));
    QTRY_VERIFY_WITH_TIMEOUT(view->AtNewest(), 1000);

    // Looking at older rows, the list stays where it is; a late stamp
    // lands at its place.
    view->verticalScrollBar()->setValue(0);
    Append(path, "03/07/2024 08:00:30 [Tank] late\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(view->recordCount(), 202, 1000);
    QCOMPARE(view->cellText(1, 3), QString("late"));
    QCOMPARE(view->verticalScrollBar()->value(), 0);

    // A filtered list takes only what passes its filter.
    CSelectionBar *bar = frame->selectionBar();
    bar->groupEnable->click();
    bar->groupList->setCurrentIndex(bar->groupList->findText("Tank"));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 2);
    Append(path, "03/07/2024 12:01:00 [North] no\r\n03/07/2024 12:02:00 [Tank] yes\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(view->recordCount(), 3, 1000);
    QCOMPARE(view->cellText(2, 3), QString("yes"));
    QCOMPARE(frame->paneText(1), QString("Record : 3/204            "));

    // Another viewer's delete renames a new file over the path: read again,
    // listed as before.
    QCOMPARE(LogDeleteBefore(LogTimeKey("03/07/2024", "10:00:00"), QFile::encodeName(path)), 1);
    QTRY_COMPARE_WITH_TIMEOUT(frame->document()->recordTotal, 83, 1000);
    QCOMPARE(view->recordCount(), 2);
    QCOMPARE(view->cellText(0, 3), QString("newest"));
    Append(path, "03/07/2024 12:03:00 [Tank] after the rewrite\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(view->recordCount(), 3, 1000);

    // Off, the list stands still; on again, it catches up at once. The
    // choice is remembered.
    frame->SetFollow(false);
    Append(path, "03/07/2024 12:04:00 [Tank] while off\r\n");
    QVERIFY(!frame->action(ID_VIEW_FOLLOW)->isChecked());
    {
        CMainFrame later(*m_library);
        QVERIFY(!later.following());
    }
    frame->action(ID_VIEW_FOLLOW)->trigger();
    QVERIFY(frame->following());
    QTRY_COMPARE_WITH_TIMEOUT(view->recordCount(), 4, 1000);
    QCOMPARE(view->cellText(3, 3), QString("while off"));
}

QTEST_MAIN(tst_OrvaneTamsin)
#include "tst_orvanetamsin.moc"
