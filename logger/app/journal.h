#pragma once
// The journal: every change of the logger's state, once, on standard error,
// each line led by its syslog priority in the form journald reads ("<3>" an
// error, "<4>" a warning, "<6>" news), so that an outage leaves its trace with
// its beginning and its end long after the status line has moved on. Window
// or not, service or not: one listener on the pipeline's signals.

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

namespace quillet {
class AlarmPipeline;
}

namespace quillet::app {

class Journal : public QObject
{
public:
    enum Priority
    {
        Error = 3,
        Warning = 4,
        Info = 6,
    };
    // Gets each line with its prefix and line end; standard error by default.
    using Sink = std::function<void(const QByteArray &line)>;

    explicit Journal(QObject *parent = nullptr);
    void setSink(Sink sink) { m_sink = std::move(sink); }
    void attach(AlarmPipeline &pipeline);

    // One line, as it goes out: "<3>Quillet: text".
    void write(Priority priority, const QString &text);

    // A problem of `topic` (empty: none): "what: why" at `priority` when it
    // begins or changes, and `cleared` as news when it is over.
    void problem(const QString &topic, const QString &why, Priority priority, const QString &what,
                 const QString &cleared);

private:
    // Writes `text` when `key` differs from what `topic` last had; an empty
    // key at the start (no problem yet) says nothing.
    void change(const QString &topic, const QString &key, Priority priority, const QString &text);
    void connectionChanged();

    AlarmPipeline *m_pipeline = nullptr;
    Sink m_sink;
    QHash<QString, QString> m_last;
    bool m_online = false;
    bool m_stateKnown = false;
};

} // namespace quillet::app
