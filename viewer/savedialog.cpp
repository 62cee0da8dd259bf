#include "savedialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace orvane {

namespace {

SaveFileHandler &Handler()
{
    static SaveFileHandler handler;
    return handler;
}

} // namespace

QString AskSaveFileName(const SaveFileRequest &request, QWidget *parent)
{
    if (Handler())
        return Handler()(request);
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        const QString chosen = dialog.selectedFiles().constFirst();
        const QFileInfo info(chosen);
        const QString name = info.fileName();
        if (!name.contains(u'*') && !name.contains(u'?'))
            return chosen;
        // The initial "*.log" accepted as it stands, or any pattern typed as
        // the name, filters the listing instead of naming a file.
        dialog.setDirectory(info.path());
        dialog.setNameFilter(name);
        dialog.selectFile(QString());
    }
}

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler)
{
    SaveFileHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

} // namespace orvane
