#include "orvaneview.h"

#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvanedoc.h"
#include "recordmodel.h"
#include "reportprinter.h"
#include "selectionbar.h"
#include "settings.h"
#include "stringtable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QSettings>

namespace orvane {

const ColumnSetting kColumnSettings[6] = {{"ColumnCx1", 160}, {"ColumnCx2", 120},
                                          {"ColumnCx3", 120}, {"ColumnCx4", 210},
                                          {"ColumnCx5", 200}, {"ColumnCx6", 200}};

namespace {

// A width from the settings that no one could have dragged is not used.
constexpr int kMaxWidth = 20000;
// The group column grows to its names up to this width, looking at so many.
constexpr int kMaxFittedWidth = 260;
constexpr int kMaxFittedNames = 5000;
// A cell's text stands this far inside its edges, both together.
constexpr int kCellPadding = 12;

class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

COrvaneView::COrvaneView(LogLibrary &library, QWidget *parent)
    : FlatTableView(parent), m_library(library), m_model(new RecordModel(library, this))
{
    title = Str(IDS_REPORT_TITLE);
    ackHeader = Str(IDS_ACK_HEADER);
    appendHeader = Str(IDS_APPEND_HEADER);

    setModel(m_model);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::NoContextMenu);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView *header = horizontalHeader();
    header->setSectionsClickable(false);
    header->setSortIndicatorShown(false);
    header->setSectionsMovable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The message column takes the room the others leave (see
    // FitMessageColumn); a width the user drags it to is its own.
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (m_fitting)
            return;
        if (column == m_model->columnOfField(FieldMessage))
            m_messageWidth = size;
        FitMessageColumn();
    });

    // One height for every row, from the list's font: a million rows cost
    // nothing, and the view never measures a row's contents.
    setRowHeight(fontMetrics().height() + 4);

    ReadWidths();
    AddBaseColumns();
}

COrvaneView::~COrvaneView()
{
    SaveColumnWidths();
}

void COrvaneView::Attach(CMainFrame *frame, COrvaneDoc *document)
{
    m_frame = frame;
    m_document = document;
}

void COrvaneView::ReadWidths()
{
    QSettings settings = OpenSettings();
    for (int field = 0; field < kFieldCount; ++field) {
        const ColumnSetting &column = kColumnSettings[field];
        bool ok = false;
        const int width =
            settings.value(QStringLiteral("Settings/") + QLatin1String(column.key)).toInt(&ok);
        m_savedWidths[field] = ok && width >= 0 && width <= kMaxWidth ? width : column.defaultWidth;
    }
}

void COrvaneView::AddColumn(int field, const QString &header)
{
    if (m_model->columnOfField(RecordField(field)) >= 0)
        return;
    const int width = ReadWidth(field);
    if (field == FieldMessage)
        m_messageWidth = width;
    setColumnWidth(m_model->addColumn(RecordField(field), header), width);
}

int COrvaneView::GroupWidth() const
{
    // Wide enough for the file's site names, up to a point, on screen and in
    // the report's font: a name cut short there is cut short on paper too.
    // Never narrower than the width kept.
    const QFontMetrics report(ReportRowFont(this, font()), this);
    int widest = 0;
    const char *name = nullptr;
    int names = 0;
    for (int32_t cursor = m_library.LogGetGroup(0, &name); cursor > 0 && names < kMaxFittedNames;
         cursor = m_library.LogGetGroup(cursor, &name), ++names) {
        const QString shown = m_library.Text(name, 256);
        widest = std::max({widest, fontMetrics().horizontalAdvance(shown),
                           report.horizontalAdvance(shown)});
        name = nullptr;
    }
    return std::max(ReadWidth(FieldGroup), std::min(widest + kCellPadding, kMaxFittedWidth));
}

void COrvaneView::FitMessageColumn()
{
    const int message = m_model->columnOfField(FieldMessage);
    if (message < 0 || m_fitting)
        return;
    int others = 0;
    for (int column = 0; column < m_model->columnCount(); ++column) {
        if (column != message && !isColumnHidden(column))
            others += columnWidth(column);
    }
    // Never narrower than its own width: a narrow window scrolls instead.
    m_fitting = true;
    setColumnWidth(message, std::max(m_messageWidth, viewport()->width() - others));
    m_fitting = false;
}

void COrvaneView::updateGeometries()
{
    FlatTableView::updateGeometries();
    FitMessageColumn();
}

void COrvaneView::AddBaseColumns()
{
    AddColumn(FieldTime, Str(IDS_COL_DATE_TIME));
    AddColumn(FieldGroup, Str(IDS_COL_GROUP));
    AddColumn(FieldSubgroup, Str(IDS_COL_SUBGROUP));
    AddColumn(FieldMessage, Str(IDS_COL_MESSAGE));
}

void COrvaneView::AddAckColumn()
{
    AddColumn(FieldAck, ackHeader);
}

void COrvaneView::AddAppendColumn()
{
    AddColumn(FieldAppend, appendHeader);
}

void COrvaneView::SaveColumnWidths() const
{
    // Saved per column rather than per screen position, so a column dragged
    // to another place keeps its own width at the next start. A column that
    // is not shown keeps the width saved before.
    QSettings settings = OpenSettings();
    for (int column = 0; column < m_model->columnCount(); ++column) {
        const int field = m_model->fieldOfColumn(column);
        int width =
            field == FieldMessage ? m_messageWidth : horizontalHeader()->sectionSize(column);
        if (width == 0 && (field == FieldGroup || field == FieldSubgroup))
            width = kColumnSettings[field].defaultWidth;
        settings.setValue(QStringLiteral("Settings/") + QLatin1String(kColumnSettings[field].key),
                          width);
    }
}

int COrvaneView::recordCount() const
{
    return m_model->rowCount();
}

QString COrvaneView::cellText(int row, int column) const
{
    return m_model->data(m_model->index(row, column)).toString();
}

void COrvaneView::ClearRecords()
{
    m_listed = false;
    m_model->setRecordCount(0);
}

void COrvaneView::ResetRecordStatus()
{
    if (m_frame)
        m_frame->SetRecordCount(0);
}

bool COrvaneView::LoadRecords(const std::optional<QByteArray> &group,
                              const std::optional<QByteArray> &subgroup)
{
    m_lastGroup = group;
    m_lastSubgroup = subgroup;
    ClearRecords();
    ResetRecordStatus();
    WaitCursor wait;
    // Not repainted while the rows go in; the status bar still is.
    setUpdatesEnabled(false);

    const int n = m_library.LogSelect(group ? group->constData() : nullptr,
                                      subgroup ? subgroup->constData() : nullptr);
    if (n < 0) {
        ClearRecords();
        ResetRecordStatus();
        if (m_frame)
            m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
        setUpdatesEnabled(true);
        firstTime.clear();
        lastTime.clear();
        return false;
    }

    // The status line still counts through the fill in about a hundred
    // steps, found by arithmetic rather than by visiting every row (four
    // million rows took 10 ms); a window not yet shown skips them.
    if (m_frame && m_frame->isVisible()) {
        const int step = n / 100;
        for (int i = step + 1; i < n; i += std::max(step, 1))
            m_frame->SetPaneText(0, StrF(IDS_READING, double(i) / double(n) * 100.0));
    }
    m_model->setRecordCount(n);
    m_listed = true;

    setUpdatesEnabled(true);
    if (m_frame)
        m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
    scrollToBottom();

    NoteFirstAndLast();
    if (m_frame)
        m_frame->SetRecordCount(n);

    const int groupColumn = m_model->columnOfField(FieldGroup);
    const int subgroupColumn = m_model->columnOfField(FieldSubgroup);
    setColumnWidth(groupColumn, m_library.LogHasGroup() ? GroupWidth() : 0);
    setColumnWidth(subgroupColumn, m_library.LogHasSubgroup() ? ReadWidth(FieldSubgroup) : 0);
    return true;
}

void COrvaneView::NoteFirstAndLast()
{
    // The library lists earliest first: row 0 and the last row are the
    // span of the list.
    const int n = m_model->rowCount();
    if (n > 0) {
        firstTime = m_model->fetch(0)[FieldTime];
        lastTime = m_model->fetch(n - 1)[FieldTime];
    } else {
        firstTime.clear();
        lastTime.clear();
    }
}

bool COrvaneView::AtNewest() const
{
    const int n = m_model->rowCount();
    if (n == 0)
        return true;
    const QScrollBar *bar = verticalScrollBar();
    return bar->value() >= bar->maximum() || rowAt(viewport()->height() - 1) == n - 1 ||
           rowAt(viewport()->height() - 1) < 0;
}

void COrvaneView::RecordsChanged(int firstChanged, int n)
{
    const bool atNewest = AtNewest();
    m_model->updateRecords(firstChanged, n);
    NoteFirstAndLast();
    if (atNewest)
        scrollToBottom();
    if (m_frame)
        m_frame->SetRecordCount(m_model->rowCount());
    const int groupColumn = m_model->columnOfField(FieldGroup);
    if (m_library.LogHasGroup() && columnWidth(groupColumn) == 0)
        setColumnWidth(groupColumn, GroupWidth());
}

void COrvaneView::Redecode()
{
    m_model->redecode();
    NoteFirstAndLast();
}

void COrvaneView::OnInitialUpdate()
{
    if (!m_frame)
        return;
    CSelectionBar *bar = m_frame->selectionBar();
    bar->groupEnable->setChecked(false);
    m_frame->OnGroupEnable();
    bar->timeEnable->setChecked(false);
    m_frame->OnTimeEnable();
    m_frame->FillGroupList();
}

void COrvaneView::OnGroupSelChange()
{
    if (!m_frame)
        return;
    CSelectionBar *bar = m_frame->selectionBar();
    if (bar->groupList->currentIndex() < 0) {
        ShowBox(Str(IDS_SELECT_GROUP_FIRST), BoxIcon::Warning, BoxButtons::Ok, window());
        return;
    }
    // The library's own bytes of the name; "[All]" asks with its text.
    QByteArray group = CSelectionBar::ChosenBytes(bar->groupList);
    if (group.isNull())
        group = bar->groupList->currentText().toUtf8();
    bar->subgroupList->clear();
    if (!m_library.LogHasSubgroup())
        return;
    QList<QByteArray> names;
    const char *name = nullptr;
    for (int32_t cursor = m_library.LogGetSubgroup(group.constData(), 0, &name); cursor > 0;
         cursor = m_library.LogGetSubgroup(group.constData(), cursor, &name)) {
        names.append(QByteArray(name ? name : ""));
        name = nullptr;
    }
    CSelectionBar::FillSorted(bar->subgroupList, names, m_library);
    bar->subgroupList->setCurrentIndex(0);
}

ReportSource COrvaneView::MakeReportSource() const
{
    ReportSource source;
    source.list = this;
    source.title = title;
    source.firstTime = firstTime;
    source.lastTime = lastTime;
    source.path = m_document ? m_document->pathName() : QString();
    const bool open = m_document && !m_document->pathName().isEmpty();
    source.hasGroup = open && m_library.LogHasGroup() != 0;
    source.hasSubgroup = open && m_library.LogHasSubgroup() != 0;
    if (m_frame) {
        source.selectedGroup = m_frame->selectedGroup;
        source.selectedSubgroup = m_frame->selectedSubgroup;
    }
    source.stretchColumn = m_model->columnOfField(FieldMessage);
    source.stretchWidth = m_messageWidth;
    return source;
}

QPrinter *COrvaneView::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return m_printer.get();
}

namespace {

// Without an installed printer Qt falls back to writing a PDF file; with no
// file named that cannot print anything.
bool HasPrinter(const QPrinter *printer)
{
    return printer->outputFormat() == QPrinter::NativeFormat ||
           !printer->outputFileName().isEmpty();
}

} // namespace

void COrvaneView::OnFilePrint()
{
    QPrinter *job = printer();
    QPrintDialog dialog(job, window());
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    // The page range offered is the report's, as laid out on this printer.
    CReportPrinter layout(MakeReportSource());
    layout.OnBeginPrinting(job);
    dialog.setMinMax(1, layout.pageCount);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!CReportPrinter(MakeReportSource()).Print(job)) {
        const QString target = job->outputFileName();
        ShowBox(target.isEmpty() ? Str(IDS_NO_PRINTER)
                                 : StrF(IDS_PDF_WRITE_FAIL, target.toUtf8().constData()),
                BoxIcon::Warning, BoxButtons::Ok, window());
    }
}

void COrvaneView::OnFilePrintDirect()
{
    QPrinter *job = printer();
    if (!HasPrinter(job) || !CReportPrinter(MakeReportSource()).Print(job))
        ShowBox(Str(IDS_NO_PRINTER), BoxIcon::Warning, BoxButtons::Ok, window());
}

void COrvaneView::OnFilePrintPreview()
{
    QPrintPreviewDialog dialog(printer(), window());
    dialog.setWindowTitle(TooltipOf(ID_FILE_PRINT_PREVIEW));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter *preview) { CReportPrinter(MakeReportSource()).Print(preview); });
    dialog.exec();
}

void COrvaneView::OnFilePrintSetup()
{
    QPageSetupDialog dialog(printer(), window());
    dialog.exec();
}

bool COrvaneView::PrintReport(QPrinter *printer)
{
    return CReportPrinter(MakeReportSource()).Print(printer);
}

bool COrvaneView::ExportReportPdf(const QString &path)
{
    QPrinter pdf(QPrinter::HighResolution);
    PreparePdfPrinter(pdf, path, m_printer.get());
    pdf.setDocName(title);
    pdf.setCreator(Str(AFX_IDS_APP_TITLE));
    return CReportPrinter(MakeReportSource()).Print(&pdf);
}

} // namespace orvane
