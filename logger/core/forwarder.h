#pragma once
// FORWARD: alarms texted on to on-call staff through the logger's own modem.
// Each alarm that matches a rule's prefix is queued for the rule's number as
// "site: text" in a file beside the settings, in the step that commits its
// record. The poll sends at most one of them after its reads, so a burst of
// alarms never slows the reading of the SIM. A send that fails is tried again
// at a later poll, after a pause that doubles up to five minutes; the pause
// holds back that number's texts only, so one number the network refuses
// does not keep the others' alarms from them.

#include "alarms.h"
#include "durablequeue.h"
#include "globals.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>

namespace quillet {

class CommSMS;

class AlarmForwarder
{
public:
    // The numbers and their prefixes; a rule without a number is left out.
    void configure(const QList<ForwardEntry> &rules);
    void load(const QString &queuePath);
    // One entry per matching rule, on disk when this returns.
    void enqueue(const AlarmRecord &record);
    // Sends the oldest waiting message whose number is not in a pause.
    void sendOne(CommSMS &device);
    qsizetype waiting() const { return m_queue.size(); }
    void setRetryDelays(int firstMs, int longestMs);

private:
    struct Pause
    {
        QDeadlineTimer until;
        int delayMs = 0; // the last pause's length
    };

    QList<ForwardEntry> m_rules;
    DurableQueue m_queue;
    QHash<QString, Pause> m_pauses; // by number, after a failed send
    int m_firstDelayMs = 5000;
    int m_longestDelayMs = 300000;
};

} // namespace quillet
