#include "hostservices.h"

#include <QTextStream>
#include <cstdlib>
#include <utility>

namespace quillet {

namespace {

BoxHandler &boxHandler()
{
    static BoxHandler handler;
    return handler;
}

TraceHandler &traceHandler()
{
    static TraceHandler handler;
    return handler;
}

TerminateHandler &terminateHandler()
{
    static TerminateHandler handler;
    return handler;
}

} // namespace

BoxAnswer UnattendedBox(const BoxRequest &req)
{
    if (req.buttons == BoxButtons::YesNo)
        return BoxAnswer::Yes;
    if (req.buttons == BoxButtons::OkCancel)
        return BoxAnswer::Ok;
    QString text = req.text;
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextStream err(stderr);
    err << req.title << ": " << text.trimmed() << Qt::endl;
    return BoxAnswer::Ok;
}

BoxAnswer MsgBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, buttons, true};
    return boxHandler() ? boxHandler()(req) : UnattendedBox(req);
}

void MsgBoxNonBlocking(const QString &text, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, BoxButtons::Ok, false};
    if (boxHandler())
        boxHandler()(req);
    else
        UnattendedBox(req);
}

BoxHandler SetMsgBoxHandler(BoxHandler handler)
{
    return std::exchange(boxHandler(), std::move(handler));
}

TraceHandler SetTraceHandler(TraceHandler handler)
{
    return std::exchange(traceHandler(), std::move(handler));
}

void WriteDebugTrace(const QString &text)
{
    if (traceHandler())
        traceHandler()(text);
}

TerminateHandler SetTerminateHandler(TerminateHandler handler)
{
    return std::exchange(terminateHandler(), std::move(handler));
}

void TerminateProgram()
{
    if (terminateHandler()) {
        terminateHandler()();
        return;
    }
    std::exit(0);
}

} // namespace quillet
