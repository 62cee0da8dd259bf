#include "orvaneapp.h"

#include "instancechannel.h"
#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "reportprinter.h"
#include "selectionbar.h"
#include "stringtable.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QTimer>
#include <cstdio>

namespace orvane {

COrvaneApp::COrvaneApp(LogLibrary &library, QString instanceName)
    : m_library(library), m_instanceName(instanceName.isEmpty() ? CInstanceChannel::DefaultName()
                                                                : std::move(instanceName))
{
}

COrvaneApp::~COrvaneApp() = default;

bool COrvaneApp::RegisterWindowClass()
{
    // Nothing to register here: the window is found through the instance
    // socket instead of a window class.
    return true;
}

bool COrvaneApp::FirstInstance()
{
    m_channel = std::make_unique<CInstanceChannel>(m_instanceName);
    if (m_channel->HandOver(m_cmdInfo.fileName)) {
        m_channel.reset();
        return false;
    }
    return true;
}

void COrvaneApp::ListenForLaterStarts()
{
    // Without the socket this viewer still works; it just cannot be found.
    if (m_channel && m_channel->Listen())
        connect(m_channel.get(), &CInstanceChannel::requested, this, &COrvaneApp::OnRequest);
}

void COrvaneApp::OnRequest(const QString &path)
{
    if (!m_frame)
        return;
    m_frame->setWindowState(m_frame->windowState() & ~Qt::WindowMinimized);
    m_frame->show();
    m_frame->raise();
    m_frame->activateWindow();
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
        // A box or dialog is waiting on the user; open the file once it is gone.
        if (!path.isEmpty())
            QTimer::singleShot(500, this, [this, path] { OnRequest(path); });
        return;
    }
    if (!path.isEmpty())
        m_frame->OpenHandedOver(path);
}

bool COrvaneApp::InitInstance(const QStringList &arguments)
{
    m_cmdInfo = COrvaneCommandLineInfo::Parse(arguments);
    if (!RegisterWindowClass())
        return false;
    if (m_cmdInfo.has(QStringLiteral("pdf"))) {
        WritePdfReport();
        return false;
    }
    if (m_cmdInfo.shellCommand == COrvaneCommandLineInfo::FilePrint ||
        m_cmdInfo.shellCommand == COrvaneCommandLineInfo::FilePrintTo) {
        PrintReport();
        return false;
    }
    if (!FirstInstance()) {
        // A file was handed to the running viewer, which opens it; a bare
        // start only brings that viewer forward and says so.
        if (m_cmdInfo.fileName.isEmpty())
            ShowBox(Str(IDS_PROGRAM_RUNNING), BoxIcon::Information);
        return false;
    }

    // No viewer took the file: it is read on other threads while the window
    // is built, started before the socket for later starts is opened, which
    // takes longer than starting the read.
    if (!m_cmdInfo.fileName.isEmpty())
        m_library.OpenAhead(
            QFile::encodeName(QFileInfo(m_cmdInfo.fileName).absoluteFilePath()).constData());
    ListenForLaterStarts();
    m_frame = std::make_unique<CMainFrame>(m_library);
    // Its sizes and its native window while the file is still read: less
    // to do once the rows are in.
    (void)m_frame->sizeHint();
    (void)m_frame->winId();
    if (!m_cmdInfo.fileName.isEmpty()) {
        if (!m_frame->OpenDocumentFile(m_cmdInfo.fileName)) {
            m_frame.reset();
            return false;
        }
    } else {
        m_frame->OnFileNew();
    }
    m_frame->document()->reportProgress = true;
    ApplyStartupSwitches();

    m_frame->showMaximized();
    return true;
}

void COrvaneApp::WritePdfReport()
{
    const QString output = m_cmdInfo.value(QStringLiteral("pdf"));
    // A switch without a value word reads "1"; no file name is that short
    // without an extension, and a report needs a log file to come from.
    // "-pdf OUT" given first makes OUT the log file as well; the report must
    // never be written over the file it comes from.
    if (m_cmdInfo.fileName.isEmpty() || output.isEmpty() || output == QStringLiteral("1") ||
        QFileInfo(output).absoluteFilePath() == QFileInfo(m_cmdInfo.fileName).absoluteFilePath()) {
        std::fprintf(stderr, "usage: orvane FILE [switches] -pdf OUT.pdf\n");
        m_exitCode = 2;
        return;
    }
    WriteReport([&](COrvaneView *view) {
        if (view->ExportReportPdf(output))
            return true;
        ShowBox(StrF(IDS_PDF_WRITE_FAIL, output.toUtf8().constData()));
        return false;
    });
}

void COrvaneApp::PrintReport()
{
    const bool named = m_cmdInfo.shellCommand == COrvaneCommandLineInfo::FilePrintTo;
    m_exitCode = 1;
    if (m_cmdInfo.fileName.isEmpty() || (named && m_cmdInfo.printerName.isEmpty())) {
        std::fprintf(stderr, "usage: orvane -p FILE [switches]\n"
                             "       orvane -pt FILE PRINTER [switches]\n");
        return;
    }
    const QString name = named ? m_cmdInfo.printerName : QString();
    QString problem;
    std::unique_ptr<QPrinter> printer = FindPrinter(name, &problem);
    if (!printer) {
        std::fprintf(stderr, "orvane: %s\n", problem.toLocal8Bit().constData());
        return;
    }
    WriteReport([&](COrvaneView *view) {
        printer->setDocName(view->title);
        if (view->PrintReport(printer.get()))
            return true;
        const QString shown = printer->printerName().isEmpty() ? name : printer->printerName();
        ShowBox(StrF(IDS_PRINT_FAIL, shown.toUtf8().constData()));
        return false;
    });
}

void COrvaneApp::WriteReport(const std::function<bool(COrvaneView *)> &write)
{
    // No one is there to answer a box: its text goes to the error output.
    const BoxHandler previous = SetBoxHandler([](const BoxRequest &request) {
        std::fprintf(stderr, "orvane: %s\n", request.text.toLocal8Bit().constData());
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
    });
    m_frame = std::make_unique<CMainFrame>(m_library);
    m_exitCode = 1;
    if (m_frame->OpenDocumentFile(m_cmdInfo.fileName) && m_frame->document()->recordTotal >= 0) {
        m_frame->document()->reportProgress = true;
        ApplyStartupSwitches();
        if (write(m_frame->view()))
            m_exitCode = 0;
    }
    m_frame.reset();
    SetBoxHandler(previous);
}

void COrvaneApp::ApplyStartupSwitches()
{
    COrvaneView *view = m_frame->view();
    const bool haveFile = !m_cmdInfo.fileName.isEmpty();
    if (haveFile) {
        const QString one = QStringLiteral("1");
        if (m_cmdInfo.has(QStringLiteral("t")) && m_cmdInfo.value(QStringLiteral("t")) != one)
            view->title = m_cmdInfo.value(QStringLiteral("t"));
        if (m_cmdInfo.has(QStringLiteral("mt1")) && m_cmdInfo.value(QStringLiteral("mt1")) != one)
            view->ackHeader = m_cmdInfo.value(QStringLiteral("mt1"));
        if (m_cmdInfo.has(QStringLiteral("mt2")) && m_cmdInfo.value(QStringLiteral("mt2")) != one)
            view->appendHeader = m_cmdInfo.value(QStringLiteral("mt2"));
    }
    if (m_cmdInfo.has(QStringLiteral("m2")))
        view->AddAppendColumn();
    if (!m_cmdInfo.has(QStringLiteral("na")))
        view->AddAckColumn();
    if (!haveFile)
        return;

    CSelectionBar *bar = m_frame->selectionBar();
    if (m_cmdInfo.has(QStringLiteral("c"))) {
        const QString value = m_cmdInfo.value(QStringLiteral("c"));
        bar->groupEnable->setChecked(true);
        bar->groupList->setEnabled(true);
        bar->subgroupList->setEnabled(true);
        // The first group whose name begins with the value, in any case;
        // "[All]" on top is not a group.
        int found = -1;
        for (int i = 1; i < bar->groupList->count() && found < 0; ++i) {
            if (bar->groupList->itemText(i).startsWith(value, Qt::CaseInsensitive))
                found = i;
        }
        QString group = value;
        QByteArray bytes = value.toUtf8();
        if (value != QStringLiteral("1") && found >= 0) {
            bar->groupList->setCurrentIndex(found);
            // List what the list shows selected, so a name given in part or
            // in another case still lists that group, by the file's bytes.
            group = bar->groupList->itemText(found);
            bytes = bar->groupList->itemData(found).toByteArray();
        }
        m_frame->selectedGroup = group;
        m_frame->selectedGroupBytes = bytes;
        view->LoadRecords(bytes, std::nullopt);
        view->OnGroupSelChange();
    } else {
        view->LoadRecords(std::nullopt, std::nullopt);
    }
    if (view->recordCount() > 0) {
        m_frame->SetFromTime(view->firstTime);
        m_frame->SetToTime(view->lastTime);
    }
    if (m_cmdInfo.has(QStringLiteral("f"))) {
        bar->groupEnable->setEnabled(false);
        bar->groupList->setEnabled(false);
        m_frame->groupLocked = true;
    }
}

} // namespace orvane
