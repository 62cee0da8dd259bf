#include "qtboxes.h"

#include "hostservices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <memory>

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

// The boxes of one installed handler: how it shows them, and the ones shown
// without waiting that are still open, by title.
struct QtBoxes : std::enable_shared_from_this<QtBoxes>
{
    explicit QtBoxes(bool evenWithoutDisplay) : evenWithoutDisplay(evenWithoutDisplay) {}
    BoxAnswer show(const BoxRequest &req);
    BoxAnswer showOpen(QMessageBox *box, const BoxRequest &req);

    const bool evenWithoutDisplay;
    QHash<QString, OpenBox> open;
};

// Without waiting: the window stays open, polls go on, and its answer (for a
// question) is handed on once given.
BoxAnswer QtBoxes::showOpen(QMessageBox *box, const BoxRequest &req)
{
    OpenBox &open = this->open[req.title];
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
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, title, self = std::weak_ptr<QtBoxes>(shared_from_this())] {
                         const std::shared_ptr<QtBoxes> boxes = self.lock();
                         if (!boxes)
                             return;
                         const auto it = boxes->open.constFind(title);
                         if (it != boxes->open.cend() && it->box == box)
                             boxes->open.erase(it);
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

BoxAnswer QtBoxes::show(const BoxRequest &req)
{
    const QString platform = QGuiApplication::platformName();
    if (!evenWithoutDisplay &&
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
    auto boxes = std::make_shared<QtBoxes>(evenWithoutDisplay);
    SetMsgBoxHandler([boxes](const BoxRequest &req) { return boxes->show(req); });
}

} // namespace quillet
