// The printed report, written as PDF and read back with poppler's tools, so
// what is checked is what lands on paper.

#include "fakeloglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneapp.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "recordmodel.h"
#include "reportprinter.h"
#include "savedialog.h"
#include "stringtable.h"

#include <QAction>
#include <QHeaderView>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace orvane;
using orvane::test::FakeLogLibrary;
using orvane::test::FakeRecord;

namespace {

int g_runs = 0;

// The output of a poppler tool, or a text that fails every comparison.
QString Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed>").arg(program);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString PageText(const QString &pdf, int page = 0)
{
    QStringList arguments{QStringLiteral("-layout")};
    if (page > 0)
        arguments << "-f" << QString::number(page) << "-l" << QString::number(page);
    // As read: a search in the PDF must find the log's own characters.
    return Run(QStringLiteral("pdftotext"), arguments << pdf << QStringLiteral("-"));
}

int PageCount(const QString &pdf)
{
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)$"),
                                          QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pages.match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The line of the page text holding `text`.
QString LineWith(const QString &page, const QString &text)
{
    for (const QString &line : page.split(u'\n')) {
        if (line.contains(text))
            return line;
    }
    return {};
}

// The line of column headers (the title block's time lines have a colon).
QString HeaderLine(const QString &page)
{
    for (const QString &line : page.split(u'\n')) {
        if (line.contains(QStringLiteral("Date Time")) && !line.contains(u':'))
            return line;
    }
    return {};
}

// What the program writes on its error output meanwhile.
class ErrorOutput
{
public:
    explicit ErrorOutput(const QString &file) : m_file(file)
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        const int fd = ::open(QFile::encodeName(file).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~ErrorOutput() { Restore(); }
    ErrorOutput(const ErrorOutput &) = delete;
    ErrorOutput &operator=(const ErrorOutput &) = delete;
    QString Text()
    {
        Restore();
        QFile f(m_file);
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QString m_file;
    int m_saved = -1;
};

} // namespace

class tst_OrvanePrint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pages_data();
    void pages();
    void titleBlock_data();
    void titleBlock();
    void columnOrderAsShown();
    void zeroWidthColumnTakesNoRoom();
    void chineseReport();
    void sameReportInEveryLocale();
    void pdfFromMenu();
    void pdfSwitch_data();
    void pdfSwitch();
    void printDirectWithoutPrinter();
    void printSwitches_data();
    void printSwitches();
    void previewShowsEveryPage();
    void pageRange();

private:
    std::unique_ptr<COrvaneApp> start(QList<FakeRecord> records, QStringList switches = {});
    int rowsPerPage(COrvaneView *view);
    QString pdfPath(const QString &name) const { return m_dir->filePath(name); }

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeLogLibrary> m_lib;
    QString m_log;
};

void tst_OrvanePrint::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    SetLanguage(Language::English);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("poppler-utils is not installed");
}

void tst_OrvanePrint::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_lib = std::make_unique<FakeLogLibrary>();
}

void tst_OrvanePrint::cleanup()
{
    SetLanguage(Language::English);
}

std::unique_ptr<COrvaneApp> tst_OrvanePrint::start(QList<FakeRecord> records, QStringList switches)
{
    m_log = m_dir->filePath(QStringLiteral("history.log"));
    QFile file(m_log);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.close();
    m_lib->addFile(m_log, std::move(records));
    auto app = std::make_unique<COrvaneApp>(
        *m_lib,
        QStringLiteral("orvane-print-%1-%2").arg(QCoreApplication::applicationPid()).arg(++g_runs));
    if (!app->InitInstance(QStringList{m_log, QStringLiteral("-na")} + switches))
        return nullptr;
    return app;
}

int tst_OrvanePrint::rowsPerPage(COrvaneView *view)
{
    QPrinter pdf(QPrinter::HighResolution);
    PreparePdfPrinter(pdf, pdfPath(QStringLiteral("layout.pdf")), nullptr);
    CReportPrinter report(view->MakeReportSource());
    report.OnBeginPrinting(&pdf);
    return report.rowsPerPage;
}

void tst_OrvanePrint::pages_data()
{
    QTest::addColumn<int>("extraRows"); // beyond one full page; -1: an empty list
    QTest::addColumn<int>("pages");
    QTest::newRow("empty list") << -1 << 1;
    QTest::newRow("one full page") << 0 << 1;
    QTest::newRow("one row more") << 1 << 2;
}

void tst_OrvanePrint::pages()
{
    QFETCH(int, extraRows);
    QFETCH(int, pages);

    int perPage = 0;
    {
        auto probe = start(FakeLogLibrary::makeRecords(1, 2));
        QVERIFY(probe);
        perPage = rowsPerPage(probe->mainFrame()->view());
    }
    QVERIFY(perPage > 10);
    const int rows = extraRows < 0 ? 0 : perPage + extraRows;
    m_lib = std::make_unique<FakeLogLibrary>();
    auto app = start(FakeLogLibrary::makeRecords(rows, 2));
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    QCOMPARE(view->recordCount(), rows);

    const QString pdf = pdfPath(QStringLiteral("report.pdf"));
    QVERIFY(view->ExportReportPdf(pdf));
    QCOMPARE(PageCount(pdf), pages);
    const QString last = PageText(pdf, pages);
    QVERIFY2(last.contains(QStringLiteral("Page %1 of %1").arg(pages)), qPrintable(last));
    QVERIFY(last.contains(QStringLiteral("Date Time")));
    QVERIFY2(last.contains(m_log), qPrintable(m_log + "\n---\n" + last));
    // Each record's time stamp once: the last page holds what the others left.
    const int onLast = int(last.count(QStringLiteral("01/02/2024 "))) -
                       (rows > 0 ? 2 : 0); // the start and end lines of the title block
    QCOMPARE(onLast, rows - perPage * (pages - 1));
    if (pages > 1)
        QVERIFY(PageText(pdf, 1).contains(QStringLiteral("Page 1 of %1").arg(pages)));
}

void tst_OrvanePrint::titleBlock_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<bool>("subgroups");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("subgroup");
    QTest::addColumn<QString>("groupLine"); // empty: no group line at all

    QTest::newRow("file without groups") << 0 << false << ""
                                         << ""
                                         << "";
    QTest::newRow("no group chosen") << 2 << false << ""
                                     << ""
                                     << "Group select : [All]";
    QTest::newRow("group chosen") << 2 << false << "G1"
                                  << ""
                                  << "Group select : G1";
    QTest::newRow("subgroups, none chosen") << 2 << true << ""
                                            << ""
                                            << "Group select : [All] - [All]";
    QTest::newRow("subgroup chosen") << 2 << true << "G1"
                                     << "S1"
                                     << "Group select : G1 - S1";
    QTest::newRow("subgroups without groups") << 0 << true << ""
                                              << "S1"
                                              << " - S1";
}

void tst_OrvanePrint::titleBlock()
{
    QFETCH(int, groups);
    QFETCH(bool, subgroups);
    QFETCH(QString, group);
    QFETCH(QString, subgroup);
    QFETCH(QString, groupLine);

    QList<FakeRecord> records = FakeLogLibrary::makeRecords(5, groups);
    if (subgroups) {
        for (qsizetype i = 0; i < records.size(); ++i)
            records[i].subgroup = "S" + QByteArray::number(i % 2);
    }
    auto app = start(records, {QStringLiteral("-t"), QStringLiteral("Pump Report")});
    QVERIFY(app);
    CMainFrame *frame = app->mainFrame();
    frame->selectedGroup = group;
    frame->selectedSubgroup = subgroup;

    const QString pdf = pdfPath(QStringLiteral("title.pdf"));
    QVERIFY(frame->view()->ExportReportPdf(pdf));
    const QString text = PageText(pdf);
    QVERIFY2(LineWith(text, QStringLiteral("Pump Report")).trimmed() == "Pump Report",
             qPrintable(text));
    const QString startLine =
        LineWith(text, QStringLiteral("Start Date Time : 01/02/2024 00:00:00"));
    QVERIFY2(!startLine.isEmpty(), qPrintable(text));
    QVERIFY(!LineWith(text, QStringLiteral("End Date Time : 01/02/2024 00:04:00")).isEmpty());
    if (groupLine.isEmpty()) {
        QVERIFY(!text.contains(QStringLiteral("Group select")));
    } else {
        // On the start line, at its right end.
        QVERIFY2(startLine.trimmed().endsWith(groupLine), qPrintable(startLine));
    }
}

void tst_OrvanePrint::columnOrderAsShown()
{
    auto app = start(FakeLogLibrary::makeRecords(3, 2));
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    QHeaderView *header = view->horizontalHeader();
    const int message = view->recordModel()->columnOfField(FieldMessage);
    header->moveSection(header->visualIndex(message), 0);

    const QString pdf = pdfPath(QStringLiteral("moved.pdf"));
    QVERIFY(view->ExportReportPdf(pdf));
    const QString text = PageText(pdf);
    const QString headers = HeaderLine(text);
    QVERIFY2(headers.indexOf(QStringLiteral("Message")) >= 0 &&
                 headers.indexOf(QStringLiteral("Message")) <
                     headers.indexOf(QStringLiteral("Date Time")) &&
                 headers.indexOf(QStringLiteral("Date Time")) <
                     headers.indexOf(QStringLiteral("Group")),
             qPrintable(headers));
    const QString row = LineWith(text, QStringLiteral("message 2"));
    QVERIFY2(row.indexOf(QStringLiteral("message 2")) < row.indexOf(QStringLiteral("01/02/2024")),
             qPrintable(row));
}

void tst_OrvanePrint::zeroWidthColumnTakesNoRoom()
{
    // Without groups the group and subgroup columns are 0 wide on screen.
    auto app = start(FakeLogLibrary::makeRecords(3, 0));
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    QCOMPARE(view->columnWidth(1), 0);

    QPrinter pdf(QPrinter::HighResolution);
    PreparePdfPrinter(pdf, pdfPath(QStringLiteral("layout.pdf")), nullptr);
    CReportPrinter report(view->MakeReportSource());
    report.OnBeginPrinting(&pdf);
    QCOMPARE(report.columnOrder, (QList<int>{0, 1, 2, 3}));
    QCOMPARE(report.HeaderCell(3).left(), report.HeaderCell(0).left() + int(160 * report.scale));
    QCOMPARE(report.HeaderCell(1).left(), report.HeaderCell(3).left());
    QCOMPARE(report.RowCell(0, 3).left(), report.HeaderCell(3).left());
    // Rows sit under the header, one line apart, and the page ends before the footer.
    QCOMPARE(report.RowCell(1, 0).top() - report.RowCell(0, 0).top(), report.row.lineHeight);
    QVERIFY(report.RowCell(report.rowsPerPage - 1, 0).bottom() <= report.bodyRect.bottom());

    const QString file = pdfPath(QStringLiteral("narrow.pdf"));
    QVERIFY(view->ExportReportPdf(file));
    const QString headers = HeaderLine(PageText(file));
    QVERIFY2(!headers.contains(QStringLiteral("Group")), qPrintable(headers));
    QVERIFY(headers.contains(QStringLiteral("Message")));
}

void tst_OrvanePrint::chineseReport()
{
    SetLanguage(Language::Chinese);
    QList<FakeRecord> records = FakeLogLibrary::makeRecords(4, 2);
    records[1].group = "水塔";
    records[1].message = "高水位警報";
    auto app = start(records);
    QVERIFY(app);
    const QString pdf = pdfPath(QStringLiteral("chinese.pdf"));
    QVERIFY(app->mainFrame()->view()->ExportReportPdf(pdf));
    const QString text = PageText(pdf);
    for (const QString &expected :
         {QStringLiteral("歷史記錄報表"), QStringLiteral("第 1 頁 / 總頁數 1"),
          QStringLiteral("分類選擇 : [全部]"), QStringLiteral("起始時間 : 01/02/2024"),
          QStringLiteral("水塔"), QStringLiteral("高水位警報"), QStringLiteral("日期時間")})
        QVERIFY2(text.contains(expected), qPrintable(expected + "\n" + text));
}

void tst_OrvanePrint::sameReportInEveryLocale()
{
    // The program itself, so the locale is the process's own: its date and
    // time forms and the faces fontconfig prefers for its language.
    QVERIFY2(Run("locale", {"-a"}).split(u'\n').contains("zh_TW.utf8"),
             "no zh_TW.UTF-8 locale (scripts/install-deps.sh generates it)");
    const QString log = m_dir->filePath(QStringLiteral("站點.log"));
    const QStringList fields{"12/08/2026 18:09:01", "水位站一",    "水位過高 警報",
                             "12/08/2026 23:59:59", "Office Pump", "Flow fine, official"};
    QFile file(log);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int f = 0; f < fields.size(); f += 3)
        file.write((fields[f] + " [" + fields[f + 1] + "] " + fields[f + 2] + "\r\n").toUtf8());
    file.close();
    QStringList pages;
    for (const QString locale : {"C.UTF-8", "zh_TW.UTF-8"}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString name : {"LC_ALL", "LC_TIME", "LC_CTYPE", "LANGUAGE"})
            environment.remove(name);
        environment.insert("LANG", locale);
        environment.insert("ORVANE_LANG", "zh_TW");
        environment.insert("XDG_CONFIG_HOME", m_dir->path());
        QProcess orvane;
        orvane.setProcessEnvironment(environment);
        orvane.start(QCoreApplication::applicationDirPath() + "/orvane",
                     {log, "-na", "-pdf", pdfPath(locale)});
        QVERIFY(orvane.waitForFinished(60000) && orvane.exitCode() == 0);
        pages.append(PageText(pdfPath(locale)));
        // Every time with its seconds, every site and text, as in the log.
        for (const QString &field : fields)
            QVERIFY2(pages.last().contains(field), qPrintable(field + "\n" + pages.last()));
    }
    // Laid out alike, to the column: the locale leaks into nothing.
    QCOMPARE(pages[1], pages[0]);
}

void tst_OrvanePrint::pdfFromMenu()
{
    auto app = start(FakeLogLibrary::makeRecords(3, 2));
    QVERIFY(app);
    const QString pdf = pdfPath(QStringLiteral("menu.pdf"));
    QList<SaveFileRequest> asked;
    const SaveFileHandler previous = SetSaveFileHandler([&](const SaveFileRequest &request) {
        asked.append(request);
        return pdf;
    });
    app->mainFrame()->OnExportPdf();
    SetSaveFileHandler(previous);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].defaultSuffix, QString("pdf"));
    QCOMPARE(asked[0].initialName, QString("history.pdf"));
    QCOMPARE(PageCount(pdf), 1);
}

void tst_OrvanePrint::pdfSwitch_data()
{
    QTest::addColumn<QStringList>("switches"); // %1 stands for the folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // in the report; empty: no report

    QTest::newRow("title and group")
        << QStringList{"-t", "Night Report", "-c", "g1", "-pdf", "%1/out.pdf"} << 0
        << "Group select : G1";
    QTest::newRow("no value") << QStringList{"-pdf"} << 2 << "";
    QTest::newRow("over the log itself") << QStringList{"-pdf", "%1/history.log"} << 2 << "";
    QTest::newRow("folder missing") << QStringList{"-pdf", "%1/none/out.pdf"} << 1 << "";
}

void tst_OrvanePrint::pdfSwitch()
{
    QFETCH(QStringList, switches);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    for (QString &word : switches)
        word.replace(QStringLiteral("%1"), m_dir->path());

    QStringList boxes;
    const BoxHandler previous = SetBoxHandler([&boxes](const BoxRequest &request) {
        boxes.append(request.text);
        return BoxAnswer::Ok;
    });
    auto app = start(FakeLogLibrary::makeRecords(6, 2), switches);
    SetBoxHandler(previous);
    QVERIFY(!app);            // never runs on
    QVERIFY(boxes.isEmpty()); // the switch writes to the error output instead

    // The result, from a fresh application object to see its exit code.
    COrvaneApp again(
        *m_lib,
        QStringLiteral("orvane-print-%1-%2").arg(QCoreApplication::applicationPid()).arg(++g_runs));
    QVERIFY(!again.InitInstance(QStringList{m_log, QStringLiteral("-na")} + switches));
    QCOMPARE(again.exitCode(), exitCode);
    QVERIFY(!again.mainFrame());
    const QString out = m_dir->filePath(QStringLiteral("out.pdf"));
    QCOMPARE(QFile::exists(out), !expected.isEmpty());
    if (!expected.isEmpty()) {
        const QString text = PageText(out);
        QVERIFY2(text.contains(expected) && text.contains(QStringLiteral("Night Report")),
                 qPrintable(text));
        // Only the chosen group's records were listed, so only they print.
        QCOMPARE(int(text.count(QStringLiteral(" G1 "))), 3);
        QVERIFY(!text.contains(QStringLiteral(" G0 ")));
    }
}

void tst_OrvanePrint::printDirectWithoutPrinter()
{
    if (!QPrinterInfo::defaultPrinter().isNull())
        QSKIP("a printer is installed; this test would print on it");
    auto app = start(FakeLogLibrary::makeRecords(3, 2));
    QVERIFY(app);
    QStringList boxes;
    const BoxHandler previous = SetBoxHandler([&boxes](const BoxRequest &request) {
        boxes.append(request.text);
        return BoxAnswer::Ok;
    });
    app->mainFrame()->action(ID_FILE_PRINT_DIRECT)->trigger();
    SetBoxHandler(previous);
    QCOMPARE(boxes, QStringList{Str(IDS_NO_PRINTER)});
}

void tst_OrvanePrint::printSwitches_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1 stands for the log
    QTest::addColumn<QStringList>("printers");  // those there are; "" is the default one
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // on the error output

    QTest::newRow("-p, default printer")
        << QStringList{"-p", "%1", "-t", "Night Report"} << QStringList{""} << 0 << "";
    QTest::newRow("-pt, a named printer")
        << QStringList{"-pt", "%1", "Office", "-t", "Night Report"} << QStringList{"", "Office"}
        << 0 << "";
    QTest::newRow("file first") << QStringList{"%1", "-t", "Night Report", "-pt", "Office"}
                                << QStringList{"Office"} << 0 << "";
    QTest::newRow("-p, no printer")
        << QStringList{"-p", "%1"} << QStringList{} << 1 << Str(IDS_NO_PRINTER);
    QTest::newRow("-pt, no such printer")
        << QStringList{"-pt", "%1", "Lab"} << QStringList{""} << 1 << "Printer Lab not found.";
    QTest::newRow("-pt without its printer")
        << QStringList{"-pt", "%1"} << QStringList{""} << 1 << "usage: orvane -p FILE";
    QTest::newRow("unreadable file")
        << QStringList{"-p", "%1.missing"} << QStringList{""} << 1 << "";
}

void tst_OrvanePrint::printSwitches()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, printers);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    auto running = start(FakeLogLibrary::makeRecords(6, 2));
    QVERIFY(running);
    for (QString &word : arguments)
        word.replace(QStringLiteral("%1"), m_log);

    // The print system is not there in a test: a stand-in prints to PDF.
    const QString out = pdfPath(QStringLiteral("printed.pdf"));
    QStringList asked;
    const PrinterSource previous =
        SetPrinterSource([&](const QString &name, QString *problem) -> std::unique_ptr<QPrinter> {
            asked.append(name);
            if (!printers.contains(name)) {
                *problem = name.isEmpty() ? Str(IDS_NO_PRINTER)
                                          : StrF(IDS_PRINTER_NOT_FOUND, name.toUtf8().constData());
                return nullptr;
            }
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            PreparePdfPrinter(*printer, out, nullptr);
            return printer;
        });
    ErrorOutput errors(pdfPath(QStringLiteral("stderr.txt")));
    // Another viewer runs: printing goes on without it.
    COrvaneApp app(
        *m_lib,
        QStringLiteral("orvane-print-%1-%2").arg(QCoreApplication::applicationPid()).arg(g_runs));
    QVERIFY(!app.InitInstance(arguments));
    const QString written = errors.Text();
    SetPrinterSource(previous);

    QCOMPARE(app.exitCode(), exitCode);
    QVERIFY(!app.mainFrame());
    QVERIFY2(written.contains(message), qPrintable(written));
    QCOMPARE(QFile::exists(out), exitCode == 0);
    if (exitCode == 0) {
        QCOMPARE(asked, QStringList{arguments.contains("-pt") ? "Office" : ""});
        const QString text = PageText(out);
        QVERIFY2(text.contains("Night Report") && text.contains("message 5"), qPrintable(text));
    }
}

void tst_OrvanePrint::previewShowsEveryPage()
{
    auto app = start(FakeLogLibrary::makeRecords(120, 2));
    QVERIFY(app);
    COrvaneView *view = app->mainFrame()->view();
    CReportPrinter layout(view->MakeReportSource());
    layout.OnBeginPrinting(view->printer());
    QVERIFY(layout.pageCount > 1);

    int shown = -1;
    QTimer poll;
    poll.setInterval(20);
    int polls = 0;
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QPrintPreviewDialog *>(modal)) {
            if (auto *pages = dialog->findChild<QPrintPreviewWidget *>())
                shown = pages->pageCount();
            dialog->reject();
        } else if (modal && ++polls > 500) {
            modal->close(); // something else came up: do not wait on it
        }
    });
    poll.start();
    app->mainFrame()->action(ID_FILE_PRINT_PREVIEW)->trigger();
    poll.stop();
    QCOMPARE(shown, layout.pageCount);
}

void tst_OrvanePrint::pageRange()
{
    auto app = start(FakeLogLibrary::makeRecords(150, 2));
    QVERIFY(app);
    const QString file = pdfPath(QStringLiteral("range.pdf"));
    QPrinter pdf(QPrinter::HighResolution);
    PreparePdfPrinter(pdf, file, nullptr);
    pdf.setPrintRange(QPrinter::PageRange);
    pdf.setFromTo(2, 2);
    CReportPrinter report(app->mainFrame()->view()->MakeReportSource());
    QVERIFY(report.Print(&pdf));
    QVERIFY(report.pageCount >= 3);
    QCOMPARE(PageCount(file), 1);
    const QString text = PageText(file);
    QVERIFY(text.contains(QStringLiteral("Page 2 of %1").arg(report.pageCount)));
    // The page's first row is the one after the first page's last.
    const QString firstRow = LineWith(text, QStringLiteral("message "));
    QVERIFY2(firstRow.contains(QStringLiteral("message %1").arg(report.rowsPerPage)),
             qPrintable(firstRow));
}

QTEST_MAIN(tst_OrvanePrint)
#include "tst_orvaneprint.moc"
