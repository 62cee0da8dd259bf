#include "hostservices.h"

#include <QTextStream>
#include <cstdlib>
#include <utility>

namespace quillet {

namespace {

BoxAnswer defaultBox(const BoxRequest &req)
{
    QTextStream err(stderr);
    err << "[" << req.title << "] " << req.text << Qt::endl;
    switch (req.buttons) {
    case BoxButtons::Ok:
    case BoxButtons::OkCancel:
        return BoxAnswer::Ok;
    case BoxButtons::YesNo:
        return BoxAnswer::Yes;
    }
    return BoxAnswer::Ok;
}

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

BoxAnswer MsgBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, buttons, true};
    return boxHandler() ? boxHandler()(req) : defaultBox(req);
}

void MsgBoxNonBlocking(const QString &text, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, BoxButtons::Ok, false};
    if (boxHandler())
        boxHandler()(req);
    else
        defaultBox(req);
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
