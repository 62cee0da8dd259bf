#include "savedialog.h"

#include <QFileDialog>

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
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler)
{
    SaveFileHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

} // namespace orvane
