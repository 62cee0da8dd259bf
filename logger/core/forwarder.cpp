#include "forwarder.h"

#include "commsms.h"
#include "hostservices.h"

#include <cstdio>

namespace quillet {

namespace {

// Said to the journal too: standard error with its syslog priority.
void tell(int priority, const QString &line)
{
    WriteDebugTrace(line);
    const QByteArray entry = JournalLine(priority, line);
    std::fwrite(entry.constData(), 1, size_t(entry.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void AlarmForwarder::configure(const QList<ForwardEntry> &rules)
{
    m_rules.clear();
    for (const ForwardEntry &rule : rules)
        if (!rule.PhoneNo.trimmed().isEmpty())
            m_rules << rule;
}

void AlarmForwarder::load(const QString &queuePath)
{
    m_queue.load(queuePath);
    m_pauses.clear();
}

void AlarmForwarder::setRetryDelays(int firstMs, int longestMs)
{
    m_firstDelayMs = firstMs;
    m_longestDelayMs = longestMs;
}

void AlarmForwarder::enqueue(const AlarmRecord &r)
{
    for (const ForwardEntry &rule : std::as_const(m_rules)) {
        if (!r.message.startsWith(rule.MessagePrefix))
            continue;
        // Named by alarm and number: an alarm recorded again after a crash
        // finds its message waiting.
        const QString name = r.key.isEmpty() ? QString() : r.key + u'\t' + rule.PhoneNo;
        m_queue.append({name, rule.PhoneNo, r.callerID + QStringLiteral(": ") + r.message});
    }
}

void AlarmForwarder::sendOne(CommSMS &device)
{
    qsizetype i = 0;
    for (; i < m_queue.size(); ++i) {
        const auto pause = m_pauses.constFind(m_queue.at(i).value(1));
        if (pause == m_pauses.cend() || pause->until.hasExpired())
            break;
    }
    if (i == m_queue.size())
        return;
    const QString number = m_queue.at(i).value(1);
    bool unicode = false;
    const QString text = device.OneMessage(m_queue.at(i).value(2), unicode);
    if (device.SendSMS(number, text, unicode)) {
        m_queue.removeAt(i);
        m_pauses.remove(number);
        tell(6, QStringLiteral("Forwarded to %1: %2").arg(number, text));
        return;
    }
    Pause &pause = m_pauses[number];
    pause.delayMs = pause.delayMs ? qMin(pause.delayMs * 2, m_longestDelayMs) : m_firstDelayMs;
    pause.until = QDeadlineTimer(pause.delayMs);
    tell(4, QStringLiteral("Forwarding to %1 failed (ErrorCode=%2); tried again in %3 s")
                .arg(number)
                .arg(device.ErrorCode())
                .arg(pause.delayMs / 1000.0));
}

} // namespace quillet
