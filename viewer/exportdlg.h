#pragma once
// Moves the records older than a chosen moment out of the open file, into
// another log file ("Export") or nowhere ("Delete"), then shows the file
// again. Runs modally over the frame; the document stays open throughout.

#include <QDialog>

class QDateEdit;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QTimeEdit;

namespace orvane {

class CMainFrame;
class LogLibrary;

class CExportDlg : public QDialog
{
    Q_OBJECT
public:
    CExportDlg(LogLibrary &library, CMainFrame *frame);

    // Sets the pickers to the last listed record (or now) and ticks Export.
    void OnInitDialog();
    // Runs the ticked method; the dialog stays open when it failed.
    void OnOK();
    // The library's key of the moment in the pickers, or -1.
    int32_t GetExportTimeKey() const;
    // Opens the document's file again in the library and lists it afresh.
    void ReloadDocument();

    int32_t timeKey = -1;

    QGroupBox *methodBox;       // 1033
    QLabel *beforeLabel;        // 1035
    QDateEdit *datePicker;      // 1034
    QTimeEdit *timePicker;      // 1032
    QRadioButton *exportButton; // 1036
    QRadioButton *deleteButton; // 1037
    QDialogButtonBox *buttons;  // 1 and 2

private:
    // Asks whether to go on, saying how many records of the whole file are
    // before the moment: an export to destination, or (none) a delete.
    bool ConfirmScope(const QString &destination = QString());
    // Both end the same way: a box, "Ready", the wait cursor gone.
    void Fail(int messageId);

    LogLibrary &m_library;
    CMainFrame *m_frame;
};

} // namespace orvane
