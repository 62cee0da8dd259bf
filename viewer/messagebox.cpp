#include "messagebox.h"

#include "stringtable.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace orvane {

namespace {

BoxHandler &Handler()
{
    static BoxHandler handler;
    return handler;
}

BoxAnswer ShowQtBox(const BoxRequest &request, QWidget *parent)
{
    QMessageBox box(parent ? parent : QApplication::activeWindow());
    box.setWindowTitle(request.title);
    box.setText(request.text);
    switch (request.icon) {
    case BoxIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case BoxIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case BoxIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case BoxIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    // Button texts come from our own table so a box never mixes languages.
    if (request.buttons == BoxButtons::YesNo) {
        QPushButton *yes = box.addButton(Str(IDS_YES), QMessageBox::YesRole);
        QPushButton *no = box.addButton(Str(IDS_NO), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? BoxAnswer::Yes : BoxAnswer::No;
    }
    QPushButton *ok = box.addButton(Str(IDS_OK), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return BoxAnswer::Ok;
}

} // namespace

BoxAnswer ShowBox(const QString &text, BoxIcon icon, BoxButtons buttons, QWidget *parent)
{
    const BoxRequest request{text, Str(AFX_IDS_APP_TITLE), icon, buttons};
    if (Handler())
        return Handler()(request);
    return ShowQtBox(request, parent);
}

BoxHandler SetBoxHandler(BoxHandler handler)
{
    BoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

} // namespace orvane
