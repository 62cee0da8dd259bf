#include "qtboxes.h"

#include "hostservices.h"

#include <QApplication>
#include <QMessageBox>

namespace quillet {

namespace {

QMessageBox::Icon toIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Critical:
        return QMessageBox::Critical;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

BoxAnswer showBox(const BoxRequest &req)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return UnattendedBox(req);
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (req.buttons == BoxButtons::OkCancel)
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    else if (req.buttons == BoxButtons::YesNo)
        buttons = QMessageBox::Yes | QMessageBox::No;

    auto *box = new QMessageBox(toIcon(req.icon), req.title, req.text, buttons,
                                QApplication::activeWindow());
    if (!req.blocking) {
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
        return BoxAnswer::Ok;
    }
    const int result = box->exec();
    delete box;
    switch (result) {
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    default:
        return req.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
    }
}

} // namespace

void InstallQtMessageBoxes()
{
    SetMsgBoxHandler(showBox);
}

} // namespace quillet
