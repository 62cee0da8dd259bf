#pragma once
// The viewer's application object: one running viewer per user, the command
// line, and the first display of the named file.

#include "commandline.h"

#include <QObject>
#include <functional>
#include <memory>

namespace orvane {

class CInstanceChannel;
class CMainFrame;
class COrvaneView;
class LogLibrary;

class COrvaneApp : public QObject
{
    Q_OBJECT
public:
    explicit COrvaneApp(LogLibrary &library, QString instanceName = QString());
    ~COrvaneApp() override;

    // Runs the start-up; false when the program should end at once.
    bool InitInstance(const QStringList &arguments);
    bool RegisterWindowClass();
    // Hands the file to a viewer already running here; false when it did.
    bool FirstInstance();

    // What the program returns when InitInstance gave false: 0, or 1 when a
    // report could not be written or printed, 2 when -pdf lacked what it
    // needs.
    int exitCode() const { return m_exitCode; }

    CMainFrame *mainFrame() const { return m_frame.get(); }
    const COrvaneCommandLineInfo &commandLine() const { return m_cmdInfo; }

private:
    void ApplyStartupSwitches();
    // -pdf OUT: the report of the named file, written without a window.
    void WritePdfReport();
    // -p FILE, -pt FILE PRINTER: the report printed without a window.
    void PrintReport();
    // The report of the named file, listed as the switches say, handed to
    // write; the exit code tells how it went.
    void WriteReport(const std::function<bool(COrvaneView *)> &write);
    void OnRequest(const QString &path);
    // From here on a later start hands its file to this viewer.
    void ListenForLaterStarts();

    LogLibrary &m_library;
    QString m_instanceName;
    COrvaneCommandLineInfo m_cmdInfo;
    std::unique_ptr<CInstanceChannel> m_channel;
    std::unique_ptr<CMainFrame> m_frame;
    int m_exitCode = 0;
};

} // namespace orvane
