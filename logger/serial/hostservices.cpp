#include "hostservices.h"

#include <QHash>
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

struct Repeats
{
    int times = 0;
    QDateTime since;
};

// Boxes shown without waiting, by title: how often each came.
QHash<QString, Repeats> &unattendedRepeats()
{
    static QHash<QString, Repeats> repeats;
    return repeats;
}

bool isPowerOfTen(int n)
{
    while (n >= 10 && n % 10 == 0)
        n /= 10;
    return n == 1;
}

} // namespace

QString RepeatedBoxNote(int times, const QDateTime &since, bool withDate)
{
    return QStringLiteral("%1 times since %2")
        .arg(times)
        .arg(since.toString(withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                     : QStringLiteral("HH:mm:ss")));
}

BoxAnswer UnattendedBox(const BoxRequest &req)
{
    if (req.buttons == BoxButtons::YesNo)
        return BoxAnswer::Yes;
    if (req.buttons == BoxButtons::OkCancel)
        return BoxAnswer::Ok;
    QTextStream err(stderr);
    if (!req.blocking) {
        // No one closes a box here, so it stays "open" for good: the journal
        // gets the first one and then only how often it came.
        Repeats &r = unattendedRepeats()[req.title];
        if (r.times++ > 0) {
            if (isPowerOfTen(r.times))
                err << req.title << ": " << RepeatedBoxNote(r.times, r.since, true) << Qt::endl;
            return BoxAnswer::Ok;
        }
        r.since = QDateTime::currentDateTime();
    }
    QString text = req.text;
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    err << req.title << ": " << text.trimmed() << Qt::endl;
    return BoxAnswer::Ok;
}

BoxAnswer MsgBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, buttons, true, {}};
    return boxHandler() ? boxHandler()(req) : UnattendedBox(req);
}

void MsgBoxNonBlocking(const QString &text, BoxIcon icon, const QString &title)
{
    const BoxRequest req{text, title, icon, BoxButtons::Ok, false, {}};
    if (boxHandler())
        boxHandler()(req);
    else
        UnattendedBox(req);
}

void MsgBoxAsync(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title,
                 BoxAnswered answered)
{
    const BoxRequest req{text, title, icon, buttons, false, answered};
    const BoxAnswer answer = boxHandler() ? boxHandler()(req) : UnattendedBox(req);
    if (answer != BoxAnswer::Pending && answered)
        answered(answer);
}

BoxHandler SetMsgBoxHandler(BoxHandler handler)
{
    return std::exchange(boxHandler(), std::move(handler));
}

TraceHandler SetTraceHandler(TraceHandler handler)
{
    return std::exchange(traceHandler(), std::move(handler));
}

QByteArray JournalLine(int priority, const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return "<" + QByteArray::number(priority) + ">Quillet: " + line.toUtf8() + '\n';
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
