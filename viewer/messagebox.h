#pragma once
// Every box the viewer shows goes through ShowBox. The program shows real Qt
// boxes; tests install a recorder so no test ever waits on a modal box.

#include <QString>
#include <functional>

class QWidget;

namespace orvane {

enum class BoxIcon
{
    Information,
    Question,
    Warning,
    Critical
};
enum class BoxButtons
{
    Ok,
    YesNo
};
enum class BoxAnswer
{
    Ok,
    Yes,
    No
};

struct BoxRequest
{
    QString text;
    QString title;
    BoxIcon icon = BoxIcon::Warning;
    BoxButtons buttons = BoxButtons::Ok;
};

using BoxHandler = std::function<BoxAnswer(const BoxRequest &)>;

// Shows a box titled with the application title (as the framework's boxes
// are), over parent when given.
BoxAnswer ShowBox(const QString &text, BoxIcon icon = BoxIcon::Warning,
                  BoxButtons buttons = BoxButtons::Ok, QWidget *parent = nullptr);
// Installs a handler; returns the previous one. An empty handler restores the
// real boxes.
BoxHandler SetBoxHandler(BoxHandler handler);

} // namespace orvane
