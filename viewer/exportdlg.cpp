#include "exportdlg.h"

#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvanedoc.h"
#include "orvaneview.h"
#include "savedialog.h"
#include "selectionbar.h"
#include "stringtable.h"
#include "timetext.h"

#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace orvane {

namespace {

void WaitCursorOn()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void WaitCursorOff()
{
    QGuiApplication::restoreOverrideCursor();
}

// The same file under two spellings (a link, "..") is still the same file.
bool SameFile(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() &&
           first.canonicalFilePath() == second.canonicalFilePath();
}

} // namespace

CExportDlg::CExportDlg(LogLibrary &library, CMainFrame *frame)
    : QDialog(frame), m_library(library), m_frame(frame)
{
    setWindowTitle(Str(IDS_EXPORT_TITLE));

    methodBox = new QGroupBox(Str(IDS_EXPORT_METHOD), this);
    beforeLabel = new QLabel(Str(IDS_EXPORT_BEFORE), methodBox);
    datePicker = new QDateEdit(methodBox);
    datePicker->setDisplayFormat(timetext::kDateFormat);
    datePicker->setCalendarPopup(false); // short date with up-down buttons
    timePicker = new QTimeEdit(methodBox);
    timePicker->setDisplayFormat(timetext::kTimeFormat);
    exportButton = new QRadioButton(Str(IDS_EXPORT_EXPORT), methodBox);
    deleteButton = new QRadioButton(Str(IDS_EXPORT_DELETE), methodBox);

    auto *grid = new QGridLayout(methodBox);
    grid->addWidget(beforeLabel, 0, 0, 1, 2);
    grid->addWidget(datePicker, 1, 0);
    grid->addWidget(timePicker, 1, 1);
    grid->addWidget(exportButton, 2, 0);
    grid->addWidget(deleteButton, 2, 1);

    buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(Str(IDS_OK), QDialogButtonBox::AcceptRole);
    buttons->addButton(Str(IDS_CANCEL), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CExportDlg::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(methodBox);
    layout->addWidget(buttons);

    OnInitDialog();
}

void CExportDlg::OnInitDialog()
{
    QDateTime moment = QDateTime::currentDateTime();
    if (m_frame) {
        const QDateTime last = timetext::Parse(m_frame->view()->lastTime);
        if (last.isValid())
            moment = last;
    }
    datePicker->setDate(moment.date());
    timePicker->setTime(moment.time());
    exportButton->setChecked(true);
}

int32_t CExportDlg::GetExportTimeKey() const
{
    const QByteArray date = CSelectionBar::DateText(datePicker);
    const QByteArray time = CSelectionBar::TimeText(timePicker);
    return m_library.LogTimeKey(date.constData(), time.constData());
}

bool CExportDlg::ConfirmScope(const QString &destination)
{
    // Export and delete work on the whole file by time, whatever the list
    // shows: the question says how much that is, so a filtered list is never
    // taken for the limit.
    const int32_t count = m_library.LogCountBefore(timeKey);
    const QByteArray counted =
        count < 0 ? QByteArray("?") : QLocale(QLocale::English).toString(count).toLatin1();
    const QByteArray moment =
        timetext::Format(QDateTime(datePicker->date(), timePicker->time(), Qt::UTC)).toLatin1();
    const QByteArray target = QDir::toNativeSeparators(destination).toUtf8();
    const QString question =
        !destination.isEmpty()
            ? StrF(IDS_EXPORT_SCOPE, moment.constData(), counted.constData(), target.constData()) +
                  QStringLiteral("\n\n") + Str(IDS_EXPORT_QUESTION)
            : StrF(IDS_DELETE_SCOPE, moment.constData(), counted.constData()) +
                  QStringLiteral("\n\n") + Str(IDS_DELETE_QUESTION);
    return ShowBox(question, BoxIcon::Question, BoxButtons::YesNo, this) == BoxAnswer::Yes;
}

void CExportDlg::Fail(int messageId)
{
    ShowBox(Str(Sid(messageId)), BoxIcon::Warning, BoxButtons::Ok, this);
    m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
    WaitCursorOff();
}

void CExportDlg::OnOK()
{
    const QString documentPath = m_frame->document()->pathName();
    const QByteArray source = QFile::encodeName(documentPath);

    if (exportButton->isChecked()) {
        SaveFileRequest request;
        request.filter = Str(IDS_LOG_FILES_FILTER);
        request.defaultSuffix = QStringLiteral("log");
        request.initialName = QStringLiteral("*.log");
        request.confirmOverwrite = true;
        const QString chosen = AskSaveFileName(request, this);
        if (!chosen.isEmpty()) {
            if (SameFile(chosen, documentPath)) {
                ShowBox(Str(IDS_SOURCE_ILLEGAL), BoxIcon::Warning, BoxButtons::Ok, this);
                return;
            }
            timeKey = GetExportTimeKey();
            if (timeKey == -1 || !ConfirmScope(chosen)) {
                accept();
                return;
            }
            WaitCursorOn();
            m_frame->SetPaneText(0, Str(IDS_PLEASE_WAIT));
            // The copy is written whole before anything leaves the source, and
            // the removal takes only what the copy holds.
            if (m_library.LogExportBefore(timeKey, QFile::encodeName(chosen).constData()) == 0) {
                Fail(IDS_EXPORT_ERROR);
                return;
            }
            if (m_library.LogDeleteBefore(timeKey, source.constData()) == 0) {
                Fail(IDS_DELETE_FAIL);
                return;
            }
            WaitCursorOff();
            ShowBox(Str(IDS_EXPORT_SUCCESS), BoxIcon::Information, BoxButtons::Ok, this);
            m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
            ReloadDocument();
        }
    }

    if (deleteButton->isChecked()) {
        timeKey = GetExportTimeKey();
        if (timeKey == -1 || !ConfirmScope()) {
            accept();
            return;
        }
        WaitCursorOn();
        m_frame->SetPaneText(0, Str(IDS_PLEASE_WAIT));
        if (m_library.LogDeleteBefore(timeKey, source.constData()) == 0) {
            Fail(IDS_DELETE_FAIL);
            return;
        }
        WaitCursorOff();
        ShowBox(Str(IDS_DELETE_SUCCESS), BoxIcon::Information, BoxButtons::Ok, this);
        m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
        ReloadDocument();
    }
    accept();
}

void CExportDlg::ReloadDocument()
{
    COrvaneDoc *document = m_frame->document();
    COrvaneView *view = m_frame->view();
    m_library.LogClose();
    WaitCursorOn();
    m_frame->SetPaneText(0, Str(IDS_PLEASE_WAIT));
    document->recordTotal = m_library.Open(QFile::encodeName(document->pathName()).constData());
    // The list shows the whole file again, so no filter is left in force:
    // the time span of the last List would still be, inside the library,
    // while the bar says it is off.
    m_library.LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
    m_frame->selectedGroup.clear();
    m_frame->selectedSubgroup.clear();
    m_frame->selectedGroupBytes = QByteArray();
    m_frame->selectedSubgroupBytes = QByteArray();
    if (document->recordTotal == -1) {
        view->ResetRecordStatus();
        view->ClearRecords();
        m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
        WaitCursorOff();
        m_library.LogClose();
        return;
    }
    m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
    view->OnInitialUpdate();
    view->LoadRecords(std::nullopt, std::nullopt);
    if (view->recordCount() > 0) {
        m_frame->SetFromTime(view->firstTime);
        m_frame->SetToTime(view->lastTime);
    }
    WaitCursorOff();
}

} // namespace orvane
