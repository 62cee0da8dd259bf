// Moving old records out of the open file: through libtamsin on real files,
// and against the library double for the failures a real file rarely gives.

#include "exportdlg.h"
#include "fakeloglibrary.h"
#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneapp.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "savedialog.h"
#include "selectionbar.h"
#include "stringtable.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

using namespace orvane;
using orvane::test::FakeLogLibrary;

namespace {

const QList<QByteArray> kLines = {
    "03/07/2024 10:00:00 [North Pump Station] A3 Pump failure\r\n",
    "03/07/2024 11:00:00 [水塔] 高水位\r\n",
    "03/07/2024 12:00:00 [North Pump Station] first line\r\n second line\r\n",
    "03/07/2024 13:00:00 [0912345678] Power restored\r\n",
    "03/07/2024 14:00:00 [水塔] 低水位\r\n",
};

QByteArray Lines(const QList<int> &indexes)
{
    QByteArray bytes;
    for (int i : indexes)
        bytes += kLines.at(i);
    return bytes;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Records every box, a question as "?" with its text kept apart, and answers
// from a script (then Ok / the first button).
class Boxes
{
public:
    explicit Boxes(QList<BoxAnswer> answers = {}) : m_answers(std::move(answers))
    {
        m_previous = SetBoxHandler([this](const BoxRequest &request) {
            const bool question = request.buttons == BoxButtons::YesNo;
            texts.append(question ? QStringLiteral("?") : request.text);
            if (question)
                questions.append(request.text);
            if (!m_answers.isEmpty())
                return m_answers.takeFirst();
            return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        });
    }
    ~Boxes() { SetBoxHandler(m_previous); }
    Boxes(const Boxes &) = delete;
    Boxes &operator=(const Boxes &) = delete;
    QStringList texts;
    QStringList questions;

private:
    QList<BoxAnswer> m_answers;
    BoxHandler m_previous;
};

// Answers every save question with one path, and keeps what was asked.
class SaveAnswer
{
public:
    explicit SaveAnswer(QString path) : m_path(std::move(path))
    {
        m_previous = SetSaveFileHandler([this](const SaveFileRequest &request) {
            requests.append(request);
            return m_path;
        });
    }
    ~SaveAnswer() { SetSaveFileHandler(m_previous); }
    SaveAnswer(const SaveAnswer &) = delete;
    SaveAnswer &operator=(const SaveAnswer &) = delete;
    QList<SaveFileRequest> requests;

private:
    QString m_path;
    SaveFileHandler m_previous;
};

int g_runs = 0;

} // namespace

class tst_OrvaneExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void move_data();
    void move();
    void exportToOpenFileRefused_data();
    void exportToOpenFileRefused();
    void failedExportLeavesSource();
    void failures_data();
    void failures();
    void noRecordsNoDialog();
    void pickersStart();
    void chineseDialog();

private:
    std::unique_ptr<COrvaneApp> start(LogLibrary &library, const QString &path);
    QString writeLog(const QString &name);
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_settingsDir;
    std::unique_ptr<LogLibrary> m_tamsin = MakeTamsinLibrary();
};

void tst_OrvaneExport::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    SetLanguage(Language::English);
}

void tst_OrvaneExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The library's time filter outlives a file, as it would a process of
    // its own: each test starts without one.
    m_tamsin->LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
}

QString tst_OrvaneExport::writeLog(const QString &name)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(Lines({0, 1, 2, 3, 4}));
    return path;
}

std::unique_ptr<COrvaneApp> tst_OrvaneExport::start(LogLibrary &library, const QString &path)
{
    auto app = std::make_unique<COrvaneApp>(library, QStringLiteral("orvane-export-%1-%2")
                                                         .arg(QCoreApplication::applicationPid())
                                                         .arg(++g_runs));
    if (!app->InitInstance({path, QStringLiteral("-na")}))
        return nullptr;
    return app;
}

void tst_OrvaneExport::move_data()
{
    QTest::addColumn<bool>("exportFirst");
    QTest::addColumn<BoxAnswer>("answer");
    QTest::addColumn<QTime>("moment");
    QTest::addColumn<QList<int>>("moved");
    QTest::addColumn<QList<int>>("kept");
    QTest::addColumn<int>("counted"); // what the question says goes, of every group
    QTest::addColumn<QStringList>("boxes");

    const QStringList exported{"?", "Export success !!"};
    const QStringList deleted{"?", "Delete success !!"};
    // A record stamped exactly at the moment is not before it.
    QTest::newRow("export, middle") << true << BoxAnswer::Yes << QTime(12, 0) << QList<int>{0, 1}
                                    << QList<int>{2, 3, 4} << 2 << exported;
    QTest::newRow("export, before every record")
        << true << BoxAnswer::Yes << QTime(9, 0) << QList<int>{} << QList<int>{0, 1, 2, 3, 4} << 0
        << exported;
    QTest::newRow("export, after every record")
        << true << BoxAnswer::Yes << QTime(14, 0, 1) << QList<int>{0, 1, 2, 3, 4} << QList<int>{}
        << 5 << exported;
    QTest::newRow("export, no") << true << BoxAnswer::No << QTime(12, 0) << QList<int>{}
                                << QList<int>{0, 1, 2, 3, 4} << 2 << QStringList{"?"};
    QTest::newRow("delete, yes") << false << BoxAnswer::Yes << QTime(12, 30) << QList<int>{0, 1, 2}
                                 << QList<int>{3, 4} << 3 << deleted;
    QTest::newRow("delete, no") << false << BoxAnswer::No << QTime(12, 30) << QList<int>{}
                                << QList<int>{0, 1, 2, 3, 4} << 3 << QStringList{"?"};
}

void tst_OrvaneExport::move()
{
    QFETCH(bool, exportFirst);
    QFETCH(BoxAnswer, answer);
    QFETCH(QTime, moment);
    QFETCH(QList<int>, moved);
    QFETCH(QList<int>, kept);
    QFETCH(int, counted);
    QFETCH(QStringList, boxes);

    const QString source = writeLog(QStringLiteral("history.log"));
    const QString destination = m_dir->filePath(QStringLiteral("old.log"));
    auto app = start(*m_tamsin, source);
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    COrvaneView *view = frame->view();
    CSelectionBar *bar = frame->selectionBar();
    QCOMPARE(view->recordCount(), 5);

    // A filter in force before, to see it go afterwards: a time span that
    // leaves out records that stay in the file.
    bar->groupEnable->click();
    bar->groupList->setCurrentIndex(bar->groupList->findText(QStringLiteral("水塔")));
    bar->timeEnable->click();
    bar->toTime->setTime(QTime(11, 30));
    bar->listButton->click();
    QCOMPARE(view->recordCount(), 1);

    Boxes box({answer});
    SaveAnswer save(destination);
    CExportDlg dialog(*m_tamsin, frame);
    dialog.show();
    (exportFirst ? dialog.exportButton : dialog.deleteButton)->setChecked(true);
    dialog.datePicker->setDate(QDate(2024, 3, 7));
    dialog.timePicker->setTime(moment);
    dialog.OnOK();

    // The list shows one group's one record; the question says what the
    // move really takes: every group's records up to the moment.
    const QByteArray when = "03/07/2024 " + moment.toString("HH:mm:ss").toLatin1();
    const QByteArray count = QByteArray::number(counted);
    const QString scope = exportFirst ? StrF(IDS_EXPORT_SCOPE, when.constData(), count.constData(),
                                             destination.toUtf8().constData())
                                      : StrF(IDS_DELETE_SCOPE, when.constData(), count.constData());
    QCOMPARE(box.texts, boxes);
    QVERIFY2(box.questions[0].startsWith(scope), qPrintable(box.questions[0]));
    QVERIFY(!dialog.isVisible());
    const bool changed = answer != BoxAnswer::No;
    QCOMPARE(ReadAll(source), Lines(kept));
    if (exportFirst) {
        QCOMPARE(save.requests.size(), 1);
        QCOMPARE(save.requests[0].defaultSuffix, QString("log"));
        QCOMPARE(save.requests[0].initialName, QString("*.log"));
        QCOMPARE(save.requests[0].filter, QString("Log Files, (*.LOG) (*.log)"));
        QVERIFY(save.requests[0].confirmOverwrite);
        QCOMPARE(ReadAll(destination), changed ? Lines(moved) : QByteArray("<missing>"));
    } else {
        QVERIFY(save.requests.isEmpty());
        QVERIFY(!QFile::exists(destination));
    }

    if (!changed) {
        // Nothing ran: the filtered list stays as it was.
        QCOMPARE(view->recordCount(), 1);
        QVERIFY(bar->groupEnable->isChecked());
        return;
    }
    QVERIFY(!bar->groupEnable->isChecked());
    QVERIFY(!bar->timeEnable->isChecked());
    QVERIFY(!bar->groupList->isEnabled());
    QCOMPARE(view->recordCount(), int(kept.size()));
    QCOMPARE(frame->document()->recordTotal, int(kept.size()));
    QCOMPARE(frame->paneText(0), QString("Ready"));
    QCOMPARE(frame->paneText(1), StrF(IDS_RECORD_COUNT, int(kept.size()), int(kept.size())));
    QVERIFY(frame->selectedGroup.isEmpty());
    if (!kept.isEmpty()) {
        QCOMPARE(view->cellText(0, 0), QString::fromLatin1(kLines.at(kept.first()).left(19)));
        QCOMPARE(bar->fromTime->time(),
                 QTime::fromString(QString::fromLatin1(kLines.at(kept.first()).mid(11, 8))));
        QCOMPARE(bar->toTime->time(), QTime(14, 0));
    }
}

void tst_OrvaneExport::exportToOpenFileRefused_data()
{
    QTest::addColumn<QString>("spelling");
    QTest::newRow("same path") << QString("history.log");
    QTest::newRow("through ..") << QString("sub/../history.log");
}

void tst_OrvaneExport::exportToOpenFileRefused()
{
    QFETCH(QString, spelling);
    const QString source = writeLog(QStringLiteral("history.log"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
    auto app = start(*m_tamsin, source);
    QVERIFY(app);
    Boxes box;
    SaveAnswer save(m_dir->filePath(spelling));
    CExportDlg dialog(*m_tamsin, app->mainFrame());
    dialog.show();
    dialog.OnOK();
    QCOMPARE(box.texts, QStringList{"Source illegal !!"});
    QVERIFY(dialog.isVisible());
    QCOMPARE(ReadAll(source), Lines({0, 1, 2, 3, 4}));
    QCOMPARE(app->mainFrame()->view()->recordCount(), 5);
}

void tst_OrvaneExport::failedExportLeavesSource()
{
    const QString source = writeLog(QStringLiteral("history.log"));
    auto app = start(*m_tamsin, source);
    QVERIFY(app);
    Boxes box;
    SaveAnswer save(m_dir->filePath(QStringLiteral("no such folder/old.log")));
    CExportDlg dialog(*m_tamsin, app->mainFrame());
    dialog.show();
    dialog.OnOK();
    QCOMPARE(box.texts, (QStringList{"?", "Export data error !!"}));
    QVERIFY(dialog.isVisible());
    QCOMPARE(ReadAll(source), Lines({0, 1, 2, 3, 4}));
    QCOMPARE(app->mainFrame()->paneText(0), QString("Ready"));
    QCOMPARE(app->mainFrame()->view()->recordCount(), 5);
}

void tst_OrvaneExport::failures_data()
{
    QTest::addColumn<bool>("exportFirst");
    QTest::addColumn<QString>("savePath"); // empty: the save dialog is cancelled
    QTest::addColumn<int>("timeKey");
    QTest::addColumn<int>("exportResult");
    QTest::addColumn<int>("deleteResult");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<QStringList>("moves"); // the moving calls, path folder left out

    QTest::newRow("export fails") << true << "old.log" << 77 << 0 << 1
                                  << QStringList{"?", "Export data error !!"} << true
                                  << QStringList{"LogExportBefore 77 old.log"};
    QTest::newRow("removal after export fails")
        << true << "old.log" << 77 << 1 << 0 << QStringList{"?", "Delete data fail !!"} << true
        << QStringList{"LogExportBefore 77 old.log", "LogDeleteBefore 77 history.log"};
    QTest::newRow("delete fails") << false << "" << 77 << 1 << 0
                                  << QStringList{"?", "Delete data fail !!"} << true
                                  << QStringList{"LogDeleteBefore 77 history.log"};
    // Nothing to ask about a moment the library cannot read.
    QTest::newRow("export, time not valid")
        << true << "old.log" << -1 << 1 << 1 << QStringList{} << false << QStringList{};
    QTest::newRow("delete, time not valid")
        << false << "" << -1 << 1 << 1 << QStringList{} << false << QStringList{};
    QTest::newRow("save dialog cancelled")
        << true << "" << 77 << 1 << 1 << QStringList{} << false << QStringList{};
}

void tst_OrvaneExport::failures()
{
    QFETCH(bool, exportFirst);
    QFETCH(QString, savePath);
    QFETCH(int, timeKey);
    QFETCH(int, exportResult);
    QFETCH(int, deleteResult);
    QFETCH(QStringList, boxes);
    QFETCH(bool, staysOpen);
    QFETCH(QStringList, moves);

    FakeLogLibrary fake;
    const QString source = m_dir->filePath(QStringLiteral("history.log"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    fake.addFile(source, FakeLogLibrary::makeRecords(10, 2));
    fake.timeKeyResult = timeKey;
    fake.exportResult = exportResult;
    fake.deleteResult = deleteResult;
    auto app = start(fake, source);
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();

    Boxes box;
    SaveAnswer save(savePath.isEmpty() ? QString() : m_dir->filePath(savePath));
    CExportDlg dialog(fake, frame);
    dialog.show();
    (exportFirst ? dialog.exportButton : dialog.deleteButton)->setChecked(true);
    fake.calls.clear();
    dialog.OnOK();

    QCOMPARE(box.texts, boxes);
    QCOMPARE(dialog.isVisible(), staysOpen);
    QStringList seen;
    for (QString call : fake.calls) {
        if (call.startsWith(QStringLiteral("LogExportBefore")) ||
            call.startsWith(QStringLiteral("LogDeleteBefore")))
            seen.append(call.remove(m_dir->path() + QLatin1Char('/')));
    }
    QCOMPARE(seen, moves);
    // Nothing was reloaded after a failure; the list is as it was.
    QVERIFY(!fake.calls.contains(QStringLiteral("LogOpen ") + source));
    QCOMPARE(frame->view()->recordCount(), 10);
    QCOMPARE(frame->paneText(0), QString("Ready"));
}

void tst_OrvaneExport::noRecordsNoDialog()
{
    FakeLogLibrary fake;
    auto app = std::make_unique<COrvaneApp>(fake, QStringLiteral("orvane-export-%1-%2")
                                                      .arg(QCoreApplication::applicationPid())
                                                      .arg(++g_runs));
    QVERIFY(app->InitInstance({}));
    Boxes box;
    app->mainFrame()->action(ID_EXPORT_DATA)->trigger();
    QCOMPARE(box.texts, QStringList{"Data source error !!"});
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_OrvaneExport::pickersStart()
{
    const QString source = writeLog(QStringLiteral("history.log"));
    auto app = start(*m_tamsin, source);
    QVERIFY(app);
    CExportDlg dialog(*m_tamsin, app->mainFrame());
    QCOMPARE(dialog.datePicker->date(), QDate(2024, 3, 7));
    QCOMPARE(dialog.timePicker->time(), QTime(14, 0));
    QVERIFY(dialog.exportButton->isChecked());
    QVERIFY(!dialog.deleteButton->isChecked());
    // The key is the library's, read from what the pickers show.
    QCOMPARE(dialog.GetExportTimeKey(), m_tamsin->LogTimeKey("03/07/2024", "14:00:00"));

    // With no last record the pickers start at the present moment.
    app->mainFrame()->view()->lastTime.clear();
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    CExportDlg fresh(*m_tamsin, app->mainFrame());
    const QDateTime shown(fresh.datePicker->date(), fresh.timePicker->time());
    QVERIFY(shown >= before.addSecs(-1) && shown <= QDateTime::currentDateTime().addSecs(1));
}

void tst_OrvaneExport::chineseDialog()
{
    SetLanguage(Language::Chinese);
    const QString source = writeLog(QStringLiteral("history.log"));
    auto app = start(*m_tamsin, source);
    QVERIFY(app);
    CExportDlg dialog(*m_tamsin, app->mainFrame());
    QCOMPARE(dialog.windowTitle(), QString("匯出資料"));
    QCOMPARE(dialog.exportButton->text(), QString("存到其它檔案"));
    QCOMPARE(dialog.deleteButton->text(), QString("刪除"));
    QCOMPARE(app->mainFrame()->action(ID_EXPORT_DATA)->toolTip(), QString("匯出"));
    Boxes box;
    SaveAnswer save(source);
    dialog.OnOK();
    QCOMPARE(box.texts, QStringList{"目的不可與來源相同!!"});
    SetLanguage(Language::English);
}

QTEST_MAIN(tst_OrvaneExport)
#include "tst_orvaneexport.moc"
