#include "orvanedoc.h"

#include "loglibrary.h"
#include "mainframe.h"
#include "messagebox.h"
#include "orvaneview.h"
#include "stringtable.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

namespace orvane {

COrvaneDoc::COrvaneDoc(LogLibrary &library) : m_library(library) {}

COrvaneDoc::~COrvaneDoc()
{
    m_library.LogClose();
}

void COrvaneDoc::Attach(CMainFrame *frame, COrvaneView *view)
{
    m_frame = frame;
    m_view = view;
}

QString COrvaneDoc::title() const
{
    return m_pathName.isEmpty() ? Str(IDS_UNTITLED) : QFileInfo(m_pathName).fileName();
}

bool COrvaneDoc::OnNewDocument()
{
    m_pathName.clear();
    return true;
}

bool COrvaneDoc::OnOpenDocument(const QString &path)
{
    m_library.LogClose();

    // The framework's part: the file must exist and be readable; it is held
    // open for reading while the library opens it.
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QFile file(fullPath);
    if (!QFileInfo(fullPath).isFile() || !file.open(QIODevice::ReadOnly)) {
        ShowBox(StrF(IDS_CANNOT_OPEN_FILE, fullPath.toUtf8().constData()), BoxIcon::Warning,
                BoxButtons::Ok, m_frame);
        return false;
    }
    SerializeLoad(fullPath);
    file.close();

    if (reportProgress && m_view) {
        if (!m_view->LoadRecords(std::nullopt, std::nullopt)) {
            m_library.LogClose();
            return true;
        }
    }
    if (m_view && m_frame && m_view->recordCount() > 0) {
        m_frame->SetFromTime(m_view->firstTime);
        m_frame->SetToTime(m_view->lastTime);
    }
    if (m_frame) {
        m_frame->selectedGroup.clear();
        m_frame->selectedSubgroup.clear();
        m_frame->selectedGroupBytes = QByteArray();
        m_frame->selectedSubgroupBytes = QByteArray();
    }
    return true;
}

void COrvaneDoc::SerializeLoad(const QString &fullPath)
{
    if (reportProgress && m_frame)
        m_frame->SetPaneText(0, Str(IDS_PLEASE_WAIT));
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    recordTotal = m_library.Open(QFile::encodeName(fullPath).constData());
    QGuiApplication::restoreOverrideCursor();
    if (recordTotal < 0) {
        recordTotal = -1;
        if (reportProgress && m_frame)
            m_frame->SetPaneText(0, Str(AFX_IDS_IDLEMESSAGE));
        ShowBox(Str(IDS_OPEN_FILE_FAIL), BoxIcon::Warning, BoxButtons::Ok, m_frame);
        m_library.LogClose();
    }
}

} // namespace orvane
