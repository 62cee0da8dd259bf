#pragma once
// The record list: one row per record the library currently selects, oldest
// first, scrolled to the newest. Rows are virtual (see RecordModel).

#include "flattableview.h"
#include "reportprinter.h"

#include <QString>
#include <array>
#include <memory>
#include <optional>

class QPrinter;

namespace orvane {

class CMainFrame;
class COrvaneDoc;
class LogLibrary;
class RecordModel;

struct ColumnSetting
{
    const char *key;
    int defaultWidth;
};
// Width keys and default widths of the six columns, by field number.
extern const ColumnSetting kColumnSettings[6];

class COrvaneView : public FlatTableView
{
    Q_OBJECT
public:
    explicit COrvaneView(LogLibrary &library, QWidget *parent = nullptr);
    ~COrvaneView() override;

    void Attach(CMainFrame *frame, COrvaneDoc *document);

    void AddBaseColumns();
    void AddAckColumn();
    void AddAppendColumn();

    // Selects records through the library (nullopt = any; names as the
    // library's bytes) and refills the list.
    bool LoadRecords(const std::optional<QByteArray> &group,
                     const std::optional<QByteArray> &subgroup);
    // Lists again what the last LoadRecords() asked for.
    bool ReloadRecords() { return LoadRecords(m_lastGroup, m_lastSubgroup); }
    // The library's selection grew to n rows, those from firstChanged on
    // new or changed: the list follows, and stays at the newest row when it
    // was there.
    void RecordsChanged(int firstChanged, int n);
    // Every text is to be read again (another code page).
    void Redecode();
    // Whether the newest row is the last one in view.
    bool AtNewest() const;
    void ClearRecords();
    void ResetRecordStatus();
    // Runs after every open or new document: resets the selection bar.
    void OnInitialUpdate();
    // The group list's selection changed: refill the subgroup list.
    void OnGroupSelChange();
    void SaveColumnWidths() const;

    int recordCount() const;
    // The rows are the library's current selection (not emptied for a
    // refused time span).
    bool listed() const { return m_listed; }
    RecordModel *recordModel() const { return m_model; }
    // Texts of column `column` of row `row`, as drawn.
    QString cellText(int row, int column) const;

    // Printing: every command draws through one CReportPrinter.
    ReportSource MakeReportSource() const;
    // The printer the print commands use; Print Setup changes it.
    QPrinter *printer();
    void OnFilePrint();
    void OnFilePrintDirect();
    void OnFilePrintPreview();
    void OnFilePrintSetup();
    // Writes the report to a PDF file; false (and no box) when it cannot.
    bool ExportReportPdf(const QString &path);
    // Prints the report on printer; false (and no box) when it cannot.
    bool PrintReport(QPrinter *printer);

    QString title;
    QString ackHeader;
    QString appendHeader;
    QString firstTime;
    QString lastTime;

protected:
    // Scroll bars, columns or the window changed: the message column fills.
    void updateGeometries() override;

private:
    void AddColumn(int field, const QString &header);
    // The message column takes what the other columns leave of the list's
    // width, so a wide window shows long messages instead of empty space.
    void FitMessageColumn();
    // The group column's width for the open file's names.
    int GroupWidth() const;
    // The widths saved at the last end, read once.
    void ReadWidths();
    int ReadWidth(int field) const { return m_savedWidths[field]; }
    void NoteFirstAndLast();

    LogLibrary &m_library;
    RecordModel *m_model;
    CMainFrame *m_frame = nullptr;
    COrvaneDoc *m_document = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    bool m_listed = false;
    std::optional<QByteArray> m_lastGroup;
    std::optional<QByteArray> m_lastSubgroup;
    // The message column's own width (saved, and its least), and whether it
    // is being fitted right now.
    int m_messageWidth = 0;
    bool m_fitting = false;
    std::array<int, 6> m_savedWidths{};
};

} // namespace orvane
