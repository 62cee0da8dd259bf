#include "qtboxes.h"

#include "hostservices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QMessageBox>
#include <QPointer>

namespace quillet {

namespace {

bool s_evenWithoutDisplay = false;

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

BoxAnswer toAnswer(int button, BoxButtons buttons)
{
    switch (button) {
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    default:
        // Closed by its title bar or Escape: the safe answer.
        return buttons == BoxButtons::YesNo      ? BoxAnswer::No
               : buttons == BoxButtons::OkCancel ? BoxAnswer::Cancel
                                                 : BoxAnswer::Ok;
    }
}

// A box shown without waiting, while it is open.
struct OpenBox
{
    QPointer<QMessageBox> box;
    int times = 0;
    QDateTime since;
};

QHash<QString, OpenBox> &openBoxes()
{
    static QHash<QString, OpenBox> boxes;
    return boxes;
}

// Without waiting: the window stays open, polls go on, and its answer (for a
// question) is handed on once given.
BoxAnswer showOpen(QMessageBox *box, const BoxRequest &req)
{
    OpenBox &open = openBoxes()[req.title];
    if (open.box && open.box->isVisible()) {
        delete box;
        if (!req.answered) {
            ++open.times;
            open.box->setText(req.text + QStringLiteral("\n\n") +
                              RepeatedBoxNote(open.times, open.since));
        }
        open.box->raise();
        return req.answered ? BoxAnswer::Pending : BoxAnswer::Ok;
    }
    open = OpenBox{box, 1, QDateTime::currentDateTime()};
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    // Answered or closed: the next one of its title opens afresh.
    const QString title = req.title;
    QObject::connect(box, &QMessageBox::finished, box, [box, title] {
        const auto it = openBoxes().constFind(title);
        if (it != openBoxes().cend() && it->box == box)
            openBoxes().erase(it);
    });
    if (req.answered) {
        const BoxAnswered answered = req.answered;
        const BoxButtons buttons = req.buttons;
        QObject::connect(box, &QMessageBox::finished, box, [box, answered, buttons](int) {
            QAbstractButton *clicked = box->clickedButton();
            answered(toAnswer(clicked ? int(box->standardButton(clicked)) : -1, buttons));
        });
    }
    box->show();
    box->raise();
    return req.answered ? BoxAnswer::Pending : BoxAnswer::Ok;
}

BoxAnswer showBox(const BoxRequest &req)
{
    const QString platform = QGuiApplication::platformName();
    if (!s_evenWithoutDisplay &&
        (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")))
        return UnattendedBox(req);
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (req.buttons == BoxButtons::OkCancel)
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    else if (req.buttons == BoxButtons::YesNo)
        buttons = QMessageBox::Yes | QMessageBox::No;

    auto *box = new QMessageBox(toIcon(req.icon), req.title, req.text, buttons,
                                QApplication::activeWindow());
    if (!req.blocking)
        return showOpen(box, req);
    const int result = box->exec();
    delete box;
    return toAnswer(result, req.buttons);
}

} // namespace

void InstallQtMessageBoxes(bool evenWithoutDisplay)
{
    s_evenWithoutDisplay = evenWithoutDisplay;
    SetMsgBoxHandler(showBox);
}

} // namespace quillet
