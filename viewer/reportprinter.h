#pragma once
// The printed report of the record list: a title block, a ruled table of the
// listed rows in the columns as shown (order and widths), and a footer with
// the file and the page number. One class draws the pages for the printer,
// the preview and PDF files, so what is previewed is what is printed.

#include <QFont>
#include <QList>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QPaintDevice;
class QPainter;
class QPrinter;

namespace orvane {

class FlatTableView;

// What a report shows besides the rows, taken from the viewer when the job
// starts.
struct ReportSource
{
    const FlatTableView *list = nullptr;
    QString title;
    QString firstTime;
    QString lastTime;
    QString path;
    bool hasGroup = false;
    bool hasSubgroup = false;
    QString selectedGroup;
    QString selectedSubgroup;
    // The list's column that takes the room the others leave (logical
    // index, -1 for none) and its width of its own; on paper too it takes
    // what the others leave of the page's width.
    int stretchColumn = -1;
    int stretchWidth = 0;
};

class CReportPrinter
{
public:
    explicit CReportPrinter(ReportSource source);

    // Lays the report out for the device (fonts, rectangles, pages). All
    // coordinates are the device's pixels.
    void OnBeginPrinting(const QPaintDevice *device);
    // Draws page `page` (from 1).
    void OnPrint(QPainter &painter, int page);
    // A whole job: every page, or the printer's page range. False when the
    // printer could not be started (no printer, a file that cannot be written).
    bool Print(QPrinter *printer);

    // Font metrics: character width and line height.
    struct Metrics
    {
        int charWidth = 0;
        int lineHeight = 0;
    };

    QFont subtitleFont, footerFont, columnFont, rowFont;
    Metrics subtitle, footer, row, column; // (cw1, lh1) (cw2, lh2) (cw3, lh3) (cw4, lh4)
    QRect pageRect, printArea, headerRect, footerRect, bodyRect;
    double scale = 1.0;
    int itemCount = 0;
    int columnCount = 0;
    int rowsPerPage = 1;
    int pageCount = 1;
    QList<int> columnOrder;

    // The cells of display position n: the header cell, and the cell of row r.
    QRect HeaderCell(int position) const;
    QRect RowCell(int row, int position) const;

private:
    // The font of the first installed face of faces, for the printer.
    QFont CreatePrinterFont(const QStringList &faces, int points, int weight) const;
    Metrics Measure(const QFont &font) const;
    int ColumnWidth(int position) const;
    void PrintPageHeader(QPainter &painter);
    void PrintPageBody(QPainter &painter, int page);
    void PrintPageFooter(QPainter &painter, int page);

    ReportSource m_source;
    const QPaintDevice *m_device = nullptr;
    QList<int> m_left; // left edge of each display position
    QList<int> m_right;
};

// The font of the report's rows, with base's other attributes, sized for
// device. A list column as wide as a text in it on the screen holds it on
// paper too.
QFont ReportRowFont(const QPaintDevice *device, const QFont &base);

// Readies a printer to write a PDF file at a laser printer's resolution, on
// the paper chosen in Print Setup (pageSetup, when given).
void PreparePdfPrinter(QPrinter &pdf, const QString &path, const QPrinter *pageSetup);

// Where the print switches find a printer by name (empty: the default one):
// the print system's, or a stand-in for tests. Null, with *problem saying
// why, when there is none.
using PrinterSource =
    std::function<std::unique_ptr<QPrinter>(const QString &name, QString *problem)>;
// Installs a source; returns the one before. An empty one restores the
// print system's.
PrinterSource SetPrinterSource(PrinterSource source);
std::unique_ptr<QPrinter> FindPrinter(const QString &name, QString *problem);

} // namespace orvane
