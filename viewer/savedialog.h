#pragma once
// Every "save as" question the viewer asks goes through AskSaveFileName. The
// program shows the platform's file dialog; tests install a handler that
// answers with a path (or nothing, for Cancel) and see what was asked.

#include <QString>
#include <functional>

class QWidget;

namespace orvane {

struct SaveFileRequest
{
    QString title;
    QString filter;        // one "Description (patterns)" entry
    QString defaultSuffix; // appended when the name typed has none
    QString initialName;
    bool confirmOverwrite = true;
};

using SaveFileHandler = std::function<QString(const SaveFileRequest &)>;

// The chosen path, or an empty text when the user cancelled.
QString AskSaveFileName(const SaveFileRequest &request, QWidget *parent = nullptr);
// Installs a handler; returns the previous one. An empty handler restores the
// real dialog.
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);

} // namespace orvane
