#pragma once
// The pipeline's watch over its own alarm path. The poll feeds it what it
// saw (the SIM's fill, deletes refused, the sites heard, loop test texts
// coming back); between two polls it takes one action on the device: a
// health check of one exchange (AT+CREG? or AT+CSQ), a loop test text, or
// the modem's re-initialization after a loop that failed. From these it
// decides when a condition begins and ends, and hands each change to the
// alarm road as one record.
//
// What must outlive a restart is kept beside the settings in Quillet.sup,
// replaced whole at every change: the conditions on, the records not yet on
// the road, when each supervised site was last heard, and the loop test's
// texts. So a restart neither forgets a condition (its end is still
// recorded) nor begins it a second time, and a silent site's clock runs on.

#include "supervision.h"

#include <QHash>
#include <QObject>
#include <functional>

namespace quillet {

struct GlobalState;
class CommSMS;

class Supervisor : public QObject
{
    Q_OBJECT
public:
    // The local time now; tests give their own.
    using Clock = std::function<QDateTime()>;
    // Takes one record (its date and text) down the alarm road: true once it
    // is committed or was already; false to be tried again later.
    using RecordRoad = std::function<bool(const QDateTime &date, const QString &text)>;

    explicit Supervisor(const GlobalState &settings, QObject *parent = nullptr);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setRecordRoad(RecordRoad road) { m_road = std::move(road); }
    // The modem was told to restart: the pipeline opens it anew, with `why`.
    std::function<void(const QString &why)> onModemReset;

    // Reads what a previous run kept (a missing file: nothing; an empty
    // path: kept in memory only).
    void load(const QString &path);
    const SupervisionState &state() const { return m_state; }
    const QString &path() const { return m_path; }

    // ---- fed by the poll
    // A received message from `phoneNo` was recorded (or dropped on
    // purpose): its site is heard from, and back when it was silent.
    void heard(const QString &phoneNo);
    // A delete of `slot` in poll number `poll`: refused with `refusal`, or done.
    void deleteTried(qint16 slot, quint64 poll, bool refused, const QString &refusal);
    // `slot` was read and holds nothing.
    void slotEmptied(qint16 slot);
    // True when `text` is a loop test text this logger sent: it must be
    // deleted from the SIM and not recorded.
    bool takeLoopText(const QString &phoneNo, const QString &text);
    // After a poll that counted the store: the messages it left on the SIM
    // and the SIM's capacity. Silent sites are judged only after a poll that
    // read every message (a site's message may wait in the store).
    void pollDone(int simUsed, int simTotal, bool sawWholeStore);
    // One action on the device between two polls. The health checks take one
    // exchange each, so a poll waits at most that long for them.
    void deviceStep(CommSMS &device);
    // Takes the records waiting for the road down it, in order; false while
    // one cannot be recorded (it is tried again after the next poll).
    bool recordPending();
    // The device was opened anew: a question it refused is asked again.
    void deviceOpened();

    // The longest one health check held the device, in milliseconds.
    qint64 longestCheckMs() const { return m_longestCheckMs; }
    // The loop test's text for `token`.
    static QString LoopText(const QString &token);

signals:
    void healthChanged(const quillet::HealthFigures &figures);
    void conditionBegan(const quillet::SupervisionCondition &condition);
    void conditionEnded(const quillet::SupervisionCondition &condition, const QString &detail);

private:
    struct Site
    {
        QDateTime heard;
    };
    struct SentLoop
    {
        QString token;
        QDateTime sent;
        bool open = true; // waited for: neither back nor given up
        bool back = false;
    };
    struct PendingRecord
    {
        QDateTime date;
        QString text;
    };
    enum class Check
    {
        Idle,
        Registration,
        Signal,
    };

    QDateTime now() const;
    bool healthChecksOn() const;
    const SupervisionCondition *active(ConditionKind kind, const QString &subject = {}) const;
    void begin(ConditionKind kind, const QString &subject, const QDateTime &since,
               const QString &detail);
    void end(ConditionKind kind, const QString &subject, const QString &detail);
    void queueRecord(const QString &text);
    void setFigures(const HealthFigures &figures);
    void registrationChecked(int stat);
    void signalChecked(std::optional<int> dbm);
    void judgeSites();
    void loopFailed(const QString &detail);
    void sendLoop(CommSMS &device);
    void reinitialize(CommSMS &device);
    bool loopDue() const;
    QString siteLabel(const QString &suffix) const;
    void forgetStale();
    void save();
    void noteRefusal(int which, const QString &command);

    const GlobalState &m_settings;
    Clock m_clock;
    RecordRoad m_road;
    QString m_path;
    SupervisionState m_state;
    QList<PendingRecord> m_pending;

    // Health checks: the next one due, and where the running one stands.
    QDateTime m_nextCheck;
    Check m_check = Check::Idle;
    bool m_registrationRefused = false;
    bool m_signalRefused = false;
    bool m_refusalTraced[2] = {false, false};
    QDateTime m_notRegisteredSince;
    QDateTime m_weakSince;
    qint64 m_longestCheckMs = 0;

    // Deletes refused, per slot: polls in a row, the last poll, since when.
    struct Refusals
    {
        int polls = 0;
        quint64 lastPoll = 0;
        QDateTime since;
        QString refusal;
    };
    QHash<qint16, Refusals> m_refusals;

    // Supervised sites by their number suffix.
    QHash<QString, Site> m_sites;

    // The loop test: the texts sent lately (the newest last), when the last
    // went out, when the modem was last restarted, and whether it is to be
    // set up again.
    QList<SentLoop> m_loops;
    QDateTime m_lastLoop;
    QDateTime m_lastReset;
    bool m_reinitDue = false;
};

} // namespace quillet
