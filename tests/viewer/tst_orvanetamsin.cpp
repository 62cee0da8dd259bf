// The viewer on files in the logger's own format, read through libtamsin.

#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneapp.h"
#include "orvaneview.h"
#include "recordmodel.h"
#include "selectionbar.h"
#include "stringtable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

using namespace orvane;

class tst_OrvaneTamsin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loggerFile();
    void rejectedFile_data();
    void rejectedFile();

private:
    QString write(const QString &name, const QByteArray &content);
    QTemporaryDir m_dir;
    std::unique_ptr<LogLibrary> m_library = MakeTamsinLibrary();
    int m_runs = 0;
};

void tst_OrvaneTamsin::initTestCase()
{
    QVERIFY(m_dir.isValid());
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
    // The caller is the group; the logger writes no subgroups.
    QCOMPARE(view->columnWidth(1), 120);
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

QTEST_MAIN(tst_OrvaneTamsin)
#include "tst_orvanetamsin.moc"
