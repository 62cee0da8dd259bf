#include "reportprinter.h"

#include "flattableview.h"
#include "stringtable.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace orvane {

namespace {

constexpr int kMarginLeft = 300;
constexpr int kMarginTop = 250;
constexpr int kMarginRight = 200;
constexpr int kMarginBottom = 200;
constexpr int kRuleWidth = 5;
constexpr int kRowGap = 20;
constexpr int kMaxColumns = 100;

const QString kLetters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");

// The report's faces, named in full whatever the locale. Left to fontconfig,
// "Arial" becomes whatever the locale's language prefers (a CJK face for
// Latin text too under zh_TW), and the table's layout with it. The last face
// sets the Chinese text: it gives every character a glyph of its own, so the
// PDF's text layer reads back as the log's characters, where a face that
// shares a glyph between an ideograph and its Kangxi radical (U+6C34 and
// U+2F54) gives the radical back and searching the report finds nothing.
const QStringList kSansFaces = {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans"),
                                QStringLiteral("WenQuanYi Micro Hei")};
const QStringList kSerifFaces = {QStringLiteral("Times New Roman"),
                                 QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif"),
                                 QStringLiteral("WenQuanYi Micro Hei")};

CReportPrinter::Metrics Measure(const QFont &font, const QPaintDevice *device)
{
    const QFontMetrics metrics(font, device);
    return {metrics.horizontalAdvance(kLetters) / 52, metrics.height() * 5 / 4};
}

// base's attributes (the list's font), with the first installed of faces at
// the size for device.
QFont ReportFont(QFont font, const QStringList &faces, int points, int weight,
                 const QPaintDevice *device)
{
    font.setFamilies(faces);
    font.setPixelSize((points * device->logicalDpiY() + 36) / 72);
    font.setWeight(QFont::Weight(weight));
    font.setItalic(false);
    // No ligatures: a PDF reader gives "ffi" set as one glyph back as one
    // character (U+FB03), and the text no longer matches the log.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

} // namespace

QFont ReportRowFont(const QPaintDevice *device, const QFont &base)
{
    return ReportFont(base, kSerifFaces, 10, 400, device);
}

CReportPrinter::CReportPrinter(ReportSource source) : m_source(std::move(source)) {}

QFont CReportPrinter::CreatePrinterFont(const QStringList &faces, int points, int weight) const
{
    // The list's own font, so anything it carries besides face and size stays.
    return ReportFont(m_source.list ? m_source.list->font() : QFont(), faces, points, weight,
                      m_device);
}

CReportPrinter::Metrics CReportPrinter::Measure(const QFont &font) const
{
    return orvane::Measure(font, m_device);
}

void CReportPrinter::OnBeginPrinting(const QPaintDevice *device)
{
    m_device = device;
    if (!m_source.list)
        return;
    subtitleFont = CreatePrinterFont(kSansFaces, 10, 700);
    footerFont = CreatePrinterFont(kSansFaces, 10, 400);
    columnFont = CreatePrinterFont(kSansFaces, 12, 700);
    rowFont = ReportRowFont(device, m_source.list->font());
    subtitle = Measure(subtitleFont);
    footer = Measure(footerFont);
    row = Measure(rowFont);
    column = Measure(columnFont);

    pageRect = QRect(0, 0, device->width(), device->height());
    printArea = pageRect.adjusted(kMarginLeft, kMarginTop, -kMarginRight, -kMarginBottom);
    headerRect = printArea;
    headerRect.setBottom(headerRect.top() + 4 * subtitle.lineHeight);
    footerRect = printArea;
    footerRect.setTop(footerRect.bottom() - footer.lineHeight);
    bodyRect = printArea;
    bodyRect.setTop(headerRect.bottom());
    bodyRect.setBottom(footerRect.top());

    // Printer pixels per screen pixel: the row font's letters on paper against
    // the same font's on the list's screen. The list's own font, which the
    // locale picks, would make the layout the locale's: a CJK face's average
    // width is an ideograph's, and the table shrank to half the page.
    const QFont screenRow = ReportRowFont(m_source.list, m_source.list->font());
    const int screenCharWidth = orvane::Measure(screenRow, m_source.list).charWidth;
    scale = double(row.charWidth) / double(screenCharWidth > 0 ? screenCharWidth : 1);

    const QHeaderView *header = m_source.list->horizontalHeader();
    itemCount = m_source.list->model()->rowCount();
    columnCount = std::min(header->count(), kMaxColumns);
    // However small the paper, every page carries at least one row, and an
    // empty list still gives a page with its title block and headers.
    rowsPerPage = std::max(1, (bodyRect.height() - column.lineHeight) / row.lineHeight);
    pageCount = std::max(1, (itemCount + rowsPerPage - 1) / rowsPerPage);

    columnOrder.clear();
    m_left.clear();
    m_right.clear();
    QList<int> widths;
    int total = 0;
    int stretchPosition = -1;
    for (int position = 0; position < columnCount; ++position) {
        const int logical = header->logicalIndex(position);
        columnOrder.append(logical);
        int width = 0;
        if (!header->isSectionHidden(logical)) {
            const bool stretches = logical == m_source.stretchColumn;
            width = int((stretches ? m_source.stretchWidth : header->sectionSize(logical)) * scale);
            if (stretches)
                stretchPosition = position;
        }
        widths.append(width);
        total += width;
    }
    // The column that fills the window's width on screen fills the page's.
    if (stretchPosition >= 0 && total < bodyRect.width())
        widths[stretchPosition] += bodyRect.width() - total;
    int left = bodyRect.left();
    for (int position = 0; position < columnCount; ++position) {
        const int width = widths.at(position);
        // A column that starts past the body's edge takes no room at all.
        const int cellLeft = std::min(left, bodyRect.right());
        m_left.append(cellLeft);
        m_right.append(std::min(bodyRect.right(), cellLeft + width));
        left += width;
    }
}

int CReportPrinter::ColumnWidth(int position) const
{
    return m_right.at(position) - m_left.at(position);
}

QRect CReportPrinter::HeaderCell(int position) const
{
    const int top = bodyRect.top();
    return QRect(QPoint(m_left.at(position), top),
                 QPoint(m_right.at(position), top + column.lineHeight));
}

QRect CReportPrinter::RowCell(int record, int position) const
{
    const int headerBottom = bodyRect.top() + column.lineHeight;
    const int k = record % rowsPerPage;
    return QRect(QPoint(m_left.at(position), headerBottom + row.lineHeight * k + kRowGap),
                 QPoint(m_right.at(position), headerBottom + row.lineHeight * (k + 1)));
}

void CReportPrinter::OnPrint(QPainter &painter, int page)
{
    if (!m_source.list)
        return;
    painter.save();
    PrintPageHeader(painter);
    PrintPageBody(painter, page);
    PrintPageFooter(painter, page);
    painter.restore();
}

void CReportPrinter::PrintPageHeader(QPainter &painter)
{
    painter.setPen(Qt::black);
    // The line height of the title block. The painter's font on entry is the
    // application's, which the locale picks; the block's own font is not.
    const int d = QFontMetrics(subtitleFont, m_device).height();

    QFont titleFont = CreatePrinterFont(kSansFaces, 16, 700);
    painter.setFont(titleFont);
    painter.drawText(headerRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                     m_source.title);

    painter.setFont(subtitleFont);
    const int w = QFontMetrics(subtitleFont, m_device).averageCharWidth();
    const QByteArray first = m_source.firstTime.toUtf8();
    const QByteArray last = m_source.lastTime.toUtf8();
    const QString startText = StrF(IDS_START_TIME, first.constData());
    const QString endText = StrF(IDS_END_TIME, last.constData());
    const qsizetype longest = std::max(startText.toUtf8().size(), endText.toUtf8().size());

    QRect box(headerRect.left(), headerRect.top() + d / 2 + 2 * d, int(w * longest), d);
    const int lineFlags = Qt::AlignRight | Qt::AlignTop | Qt::TextDontClip;
    painter.drawText(box, lineFlags, startText);

    if (m_source.hasGroup || m_source.hasSubgroup) {
        const QString all = Str(IDS_PRINT_ALL);
        QString groupText;
        if (m_source.hasGroup) {
            const QByteArray group =
                (m_source.selectedGroup.isEmpty() ? all : m_source.selectedGroup).toUtf8();
            groupText = StrF(IDS_GROUP_SELECT, group.constData());
        }
        if (m_source.hasSubgroup) {
            const QByteArray subgroup =
                (m_source.selectedSubgroup.isEmpty() ? all : m_source.selectedSubgroup).toUtf8();
            const QByteArray head = groupText.toUtf8();
            const QByteArray tail = StrF(IDS_SUBGROUP_PART, subgroup.constData()).toUtf8();
            groupText = StrF(IDS_GROUP_JOIN, head.constData(), tail.constData());
        }
        const QRect line(headerRect.left(), box.top(), headerRect.width(), d);
        painter.drawText(line, lineFlags, groupText);
    }

    box.moveTop(box.bottom() + 1);
    painter.drawText(box, lineFlags, endText);
}

void CReportPrinter::PrintPageBody(QPainter &painter, int page)
{
    const QAbstractItemModel *model = m_source.list->model();
    const int textOffset = int(5 * scale);
    painter.setPen(Qt::black);

    painter.setFont(columnFont);
    for (int position = 0; position < columnCount; ++position) {
        if (ColumnWidth(position) <= 0)
            continue;
        const QString text = model->headerData(columnOrder.at(position), Qt::Horizontal).toString();
        const QRect cell = HeaderCell(position);
        painter.save();
        painter.setClipRect(cell);
        painter.drawText(cell.adjusted(textOffset, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter.restore();
    }

    painter.setFont(rowFont);
    const int firstRow = rowsPerPage * (page - 1);
    const int endRow = std::min(itemCount, rowsPerPage * page);
    for (int r = firstRow; r < endRow; ++r) {
        for (int position = 0; position < columnCount; ++position) {
            if (ColumnWidth(position) <= 0)
                continue;
            const QString text = model->data(model->index(r, columnOrder.at(position))).toString();
            const QRect cell = RowCell(r, position);
            painter.save();
            painter.setClipRect(cell);
            painter.drawText(cell.adjusted(textOffset, 0, 0, 0),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
            painter.restore();
        }
    }

    if (columnCount == 0)
        return;
    painter.setPen(QPen(Qt::black, kRuleWidth, Qt::SolidLine, Qt::SquareCap));
    const int left = m_left.constFirst();
    const int right = m_right.constLast();
    const int top = bodyRect.top();
    const int headerBottom = top + column.lineHeight;
    const int bottom = headerBottom + row.lineHeight * std::max(0, endRow - firstRow);
    painter.drawLine(left, top, right, top);
    painter.drawLine(left, headerBottom, right, headerBottom);
    painter.drawLine(left, bottom, right, bottom);
    for (int position = 0; position < columnCount; ++position)
        painter.drawLine(m_left.at(position), top, m_left.at(position), bottom);
    painter.drawLine(right, top, right, bottom);
}

void CReportPrinter::PrintPageFooter(QPainter &painter, int page)
{
    painter.setPen(Qt::black);
    painter.setFont(footerFont);
    const QString pageText = StrF(IDS_PAGE, page, pageCount);
    const QRect line(footerRect.left(), footerRect.top() + 3, footerRect.width(),
                     footer.lineHeight);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, m_source.path);
    painter.drawText(line, Qt::AlignRight | Qt::AlignTop | Qt::TextDontClip, pageText);
}

void PreparePdfPrinter(QPrinter &pdf, const QString &path, const QPrinter *pageSetup)
{
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setOutputFileName(path);
    // The report's margins are fixed in device pixels; at this resolution
    // they come out as on the office printer.
    pdf.setResolution(600);
    if (pageSetup) {
        pdf.setPageSize(pageSetup->pageLayout().pageSize());
        pdf.setPageOrientation(pageSetup->pageLayout().orientation());
    }
    // The report keeps its own margins; the paper's edge is the page's.
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

namespace {

std::unique_ptr<QPrinter> SystemPrinter(const QString &name, QString *problem)
{
    const QPrinterInfo info =
        name.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(name);
    if (info.isNull()) {
        *problem = name.isEmpty() ? Str(IDS_NO_PRINTER)
                                  : StrF(IDS_PRINTER_NOT_FOUND, name.toUtf8().constData());
        return nullptr;
    }
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

PrinterSource &Source()
{
    static PrinterSource source = SystemPrinter;
    return source;
}

} // namespace

PrinterSource SetPrinterSource(PrinterSource source)
{
    PrinterSource previous = Source();
    Source() = source ? std::move(source) : PrinterSource(SystemPrinter);
    return previous;
}

std::unique_ptr<QPrinter> FindPrinter(const QString &name, QString *problem)
{
    return Source()(name, problem);
}

bool CReportPrinter::Print(QPrinter *printer)
{
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    OnBeginPrinting(printer);
    int from = 1;
    int to = pageCount;
    if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
        from = std::max(1, printer->fromPage());
        to = std::min(pageCount, printer->toPage() > 0 ? printer->toPage() : pageCount);
    }
    for (int page = from; page <= to; ++page) {
        if (page > from)
            printer->newPage();
        OnPrint(painter, page);
    }
    painter.end();
    return true;
}

} // namespace orvane
