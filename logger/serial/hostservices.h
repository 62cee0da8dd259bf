#pragma once
// Services the lower layers (serial link, device protocol, modem driver) need
// from the program around them. The core installs real ones at start-up; tests
// install recorders. Nothing below the core includes a widget header.

#include <QDateTime>
#include <QString>
#include <functional>

namespace quillet {

enum class BoxIcon
{
    None,
    Information,
    Question,
    Warning,
    Critical
};
enum class BoxButtons
{
    Ok,
    OkCancel,
    YesNo
};
enum class BoxAnswer
{
    Ok,
    Cancel,
    Yes,
    No,
    // A handler's result for a question it shows without waiting: the answer
    // comes later, through the request's `answered`.
    Pending
};

using BoxAnswered = std::function<void(BoxAnswer)>;

struct BoxRequest
{
    QString text;
    QString title;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
    // A box that must not hold up an unattended exchange: shown, not waited
    // for. A second one of the same title while the first is still open is
    // counted in it, not stacked.
    bool blocking = true;
    // Set for a question put without waiting (never with `blocking`). A
    // handler that answers at once returns the answer; one that leaves a
    // window open returns Pending and calls this once the operator answers.
    BoxAnswered answered;
};

using BoxHandler = std::function<BoxAnswer(const BoxRequest &)>;

// Every operator-facing box of the logger goes through here.
BoxAnswer MsgBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title);
// Same box, shown without waiting for the operator (the answer is Ok).
void MsgBoxNonBlocking(const QString &text, BoxIcon icon, const QString &title);
// A question whose answer is handled when it is given: the caller goes on at
// once, and `answered` runs with the answer (at once where nobody can be
// asked). While the question is open a second one of the same title only
// brings it to the front.
void MsgBoxAsync(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title,
                 BoxAnswered answered);
// Installs the handler; returns the previous one. An empty handler restores the
// default, UnattendedBox.
BoxHandler SetMsgBoxHandler(BoxHandler handler);
// A box where nobody can click: a message is written once to stderr as one
// line "title: text" (line breaks become blanks), which a service's journal
// keeps. A question is not put: it gets the answer that lets the command that
// raised it go ahead (Yes, Ok), as no one is there to decline. A box shown
// without waiting that comes again and again (a noisy line's spoiled
// answers) is written the first time, then counted: one line "title: n times
// since yyyy-MM-dd hh:mm:ss" at the 10th, 100th, 1000th ... time.
BoxAnswer UnattendedBox(const BoxRequest &req);

// "n times since hh:mm:ss": what a box that was not stacked adds to its text.
QString RepeatedBoxNote(int times, const QDateTime &since, bool withDate = false);

// Debug trace sink: WriteDebugTrace hands every line here (the core decides
// whether debug mode is on and where dbg.log lives).
using TraceHandler = std::function<void(const QString &)>;
TraceHandler SetTraceHandler(TraceHandler handler);
void WriteDebugTrace(const QString &text);

// One journal entry as standard error carries it: "<priority>Quillet: text"
// on one line (a reason quoted from a device, a server or an alarm may hold
// line breaks), for journald to file at that syslog priority.
QByteArray JournalLine(int priority, const QString &text);

// The one way out of the program, for whatever code finds it cannot go on.
// The program's entry installs the orderly end (its pipeline shut down, the
// service told, the instance lock freed); tests install a recorder, so the
// caller must return after calling it.
using TerminateHandler = std::function<void()>;
TerminateHandler SetTerminateHandler(TerminateHandler handler);
void TerminateProgram();

} // namespace quillet
