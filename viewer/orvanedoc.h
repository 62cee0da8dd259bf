#pragma once
// The open log file. The viewer never reads the file itself: the document
// opens it in the library, which then serves the view, the selection bar and
// every later command.

#include <QString>

namespace orvane {

class CMainFrame;
class COrvaneView;
class LogLibrary;

class COrvaneDoc
{
public:
    explicit COrvaneDoc(LogLibrary &library);
    ~COrvaneDoc();
    COrvaneDoc(const COrvaneDoc &) = delete;
    COrvaneDoc &operator=(const COrvaneDoc &) = delete;

    void Attach(CMainFrame *frame, COrvaneView *view);

    bool OnOpenDocument(const QString &path);
    bool OnNewDocument();

    // The number of records of the open file, or -1 after a failed open.
    int recordTotal = 0;
    // Off while the start-up open runs; from then on every open fills the list.
    bool reportProgress = false;

    QString pathName() const { return m_pathName; }
    void SetPathName(const QString &path) { m_pathName = path; }
    // The file name shown in the caption, or "Untitled".
    QString title() const;

private:
    // Reads the file through the library while holding it open for reading.
    void SerializeLoad(const QString &fullPath);

    LogLibrary &m_library;
    CMainFrame *m_frame = nullptr;
    COrvaneView *m_view = nullptr;
    QString m_pathName;
};

} // namespace orvane
