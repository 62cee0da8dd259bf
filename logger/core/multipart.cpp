#include "multipart.h"

#include "atreply.h"
#include "commsms.h"
#include "hostservices.h"
#include "receivedstore.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <QSaveFile>
#include <algorithm>
#include <climits>

namespace quillet {

namespace {

constexpr int kUnreadablePolls = 3;
constexpr qint64 kMissingPartsSeconds = 600;
constexpr qint64 kRereadSeconds = 60;
const QString kGap = QStringLiteral("[...]");

struct Part
{
    qint16 slot = 0;
    SIMMessage message;
};

// One message whose parts are waiting, or were recorded and are being
// cleared from the SIM.
struct Group
{
    QDateTime firstSeen;      // when its first part was seen (UTC)
    QString recordedKey;      // set once recorded
    QSet<int> recordedParts;  // the parts that record holds
    QMap<int, Part> seen;     // part number -> the part in its lowest slot
    QList<qint16> duplicates; // further slots holding a part already seen
};

// A slot known to hold a part, as it was last read.
struct Held
{
    QString id; // its group; empty for a message that is no part
    SIMMessage message;
    QDateTime lastRead; // UTC
};

struct Unreadable
{
    QString raw;
    int polls = 0;
    QDateTime firstSeen;
};

// The part count first: the sender may hold any character.
QString groupId(const SIMMessage &m)
{
    const Concatenation &c = m.concatenation;
    return QStringLiteral("%1|%2|%3|%4")
        .arg(c.parts)
        .arg(c.wideReference ? 16 : 8)
        .arg(c.reference)
        .arg(m.phoneNo);
}

int partCount(const QString &id)
{
    return id.section(u'|', 0, 0).toInt();
}

QString hex(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toHex());
}

QString unhex(const QString &text)
{
    return QString::fromUtf8(QByteArray::fromHex(text.toLatin1()));
}

} // namespace

struct PartJoiner::State
{
    QString path;
    QHash<QString, Group> groups; // by sender, reference and part count
    QHash<qint16, Unreadable> unreadable;
    QMap<qint16, Held> held; // slot -> the part it holds; what the groups see
    bool incomplete = false; // a slot could not be read in this poll
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
};

PartJoiner::PartJoiner() : m_state(std::make_unique<State>()) {}
PartJoiner::~PartJoiner() = default;

// One line per message: "waiting ID FIRST-SEEN" or "recorded ID FIRST-SEEN
// KEY PARTS", the texts in hexadecimal so no byte of them breaks the layout.
void PartJoiner::save()
{
    State &s = *m_state;
    if (s.path.isEmpty())
        return;
    QByteArray bytes;
    for (auto it = s.groups.cbegin(); it != s.groups.cend(); ++it) {
        const Group &g = it.value();
        const QString stamp = g.firstSeen.toString(Qt::ISODate);
        if (g.recordedKey.isEmpty()) {
            bytes += QStringLiteral("waiting %1 %2\n").arg(hex(it.key()), stamp).toUtf8();
            continue;
        }
        QStringList parts;
        for (int p : g.recordedParts)
            parts << QString::number(p);
        bytes += QStringLiteral("recorded %1 %2 %3 %4\n")
                     .arg(hex(it.key()), stamp, hex(g.recordedKey), parts.join(u','))
                     .toUtf8();
    }
    QSaveFile file(s.path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        WriteDebugTrace(QStringLiteral("Cannot write %1").arg(s.path));
}

namespace {

// The parts in order, one "[...]" for each run of missing ones.
QString joined(const Group &g, int parts)
{
    const bool data = g.seen.first().message.scheme.alphabet == SMSAlphabet::EightBit;
    QString text = data ? QStringLiteral("[8-bit] ") : QString();
    bool gap = false;
    for (int p = 1; p <= parts; ++p) {
        const auto it = g.seen.constFind(p);
        if (it == g.seen.cend()) {
            if (!gap)
                text += kGap;
            gap = true;
            continue;
        }
        gap = false;
        const SIMMessage &m = it->message;
        text += data && m.scheme.alphabet == SMSAlphabet::EightBit
                    ? QString::fromLatin1(m.data.toHex().toUpper())
                    : m.text;
    }
    return text;
}

void deleteParts(const Group &g, const PartJoiner::Road &road, QMap<qint16, Held> &held)
{
    if (!road.deleteSlot)
        return;
    QList<qint16> doomed = g.duplicates;
    for (const Part &p : g.seen)
        doomed << p.slot;
    for (qint16 slot : doomed) {
        if (road.deleteSlot(slot))
            held.remove(slot);
    }
}

} // namespace

void PartJoiner::SetPartsClock(std::function<QDateTime()> now)
{
    m_state->now = std::move(now);
}

void PartJoiner::LoadWaitingParts(const QString &path)
{
    State &s = *m_state;
    s.path = path;
    s.groups.clear();
    s.unreadable.clear();
    s.held.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QStringList f = QString::fromUtf8(file.readLine()).trimmed().split(u' ');
        const bool waiting = f.size() == 3 && f[0] == u"waiting";
        const bool recorded = f.size() == 5 && f[0] == u"recorded";
        const QDateTime firstSeen =
            f.size() >= 3 ? QDateTime::fromString(f[2], Qt::ISODate) : QDateTime();
        if ((!waiting && !recorded) || !firstSeen.isValid())
            continue;
        Group &g = s.groups[unhex(f[1])];
        g.firstSeen = firstSeen;
        if (recorded) {
            g.recordedKey = unhex(f[3]);
            for (const QString &p : f[4].split(u',', Qt::SkipEmptyParts))
                g.recordedParts.insert(p.toInt());
        }
    }
}

void PartJoiner::BeginPoll()
{
    m_state->incomplete = false;
}

void PartJoiner::ForgetHeldSlots()
{
    m_state->held.clear();
}

QList<qint16> PartJoiner::HeldSlots() const
{
    return m_state->held.keys();
}

QList<qint16> PartJoiner::DueSlots(int count) const
{
    const State &s = *m_state;
    const QDateTime now = s.now();
    QList<QPair<QDateTime, qint16>> byLastRead;
    for (auto it = s.held.cbegin(); it != s.held.cend(); ++it) {
        if (it->lastRead.secsTo(now) >= kRereadSeconds)
            byLastRead.append({it->lastRead, it.key()});
    }
    std::sort(byLastRead.begin(), byLastRead.end());
    QList<qint16> due;
    for (qsizetype i = 0; i < byLastRead.size() && i < count; ++i)
        due << byLastRead.at(i).second;
    return due;
}

bool PartJoiner::SawEverySlot() const
{
    return !m_state->incomplete;
}

SlotRead PartJoiner::ReadSlot(CommSMS &device, qint16 index, QDateTime &smsDate, QString &phoneNo,
                              QString &sms, QString &smsStatus, QString &key)
{
    State &s = *m_state;
    SIMMessage m;
    const bool read = device.ReadSIMMessage(index, m);
    // What the slot held before is history once it answered; a read that
    // failed proves nothing about it.
    if (read || device.ErrorCode() == 3 || device.ErrorCode() == 11)
        s.held.remove(index);
    if (m.status == QLatin1String("UNSENT") || m.status == QLatin1String("SENT")) {
        // Stored by a person or another program and never received: no
        // alarm, and not ours to delete. It stays for good, so it waits
        // like a part instead of being read at every poll.
        s.unreadable.remove(index);
        s.held.insert(index, Held{QString(), m, s.now()});
        return SlotRead::Held;
    }
    if (!read) {
        const qint16 error = device.ErrorCode();
        if (error != 11) {
            if (error != 3)
                s.incomplete = true;
            else
                s.unreadable.remove(index);
            return SlotRead::Empty;
        }
        // Whole but unreadable: counted, and recorded as it came at the third
        // poll. Its status turns from unread to read at the first reading.
        const QString raw = m.rawHeader.section(u',', 1) + u'\n' + m.rawBody;
        Unreadable &u = s.unreadable[index];
        if (u.raw != raw)
            u = Unreadable{raw, 0, s.now()};
        if (++u.polls < kUnreadablePolls)
            return SlotRead::Held;
        const bool dated = m.date.isValid() && m.date != ZeroDate();
        smsStatus = QStringLiteral("UNREAD");
        phoneNo = m.phoneNo.isEmpty() ? QStringLiteral("unknown") : m.phoneNo;
        sms = QStringLiteral("[unreadable] ") + m.rawHeader +
              (m.rawBody.isEmpty() ? QString() : QStringLiteral("\r\n") + m.rawBody);
        smsDate = dated ? m.date : u.firstSeen.toLocalTime();
        // The key holds nothing that changes between polls or runs.
        key = ReceivedStore::Key(index, dated ? m.date : ZeroDate(), phoneNo, sms);
        WriteDebugTrace(QStringLiteral("Slot %1 unreadable at %2 polls: recorded as received")
                            .arg(index)
                            .arg(u.polls));
        return SlotRead::Message;
    }
    s.unreadable.remove(index);
    const bool received = m.status == QLatin1String("UNREAD") || m.status == QLatin1String("READ");
    if (received && m.concatenation.isPart()) {
        const int part = m.concatenation.part;
        QString id = groupId(m);
        // A part that comes after its message was recorded without it waits
        // as a message of its own.
        for (auto r = s.groups.constFind(id);
             r != s.groups.cend() && !r->recordedKey.isEmpty() && !r->recordedParts.contains(part);
             r = s.groups.constFind(id))
            id += QStringLiteral("|late");
        const bool known = s.groups.contains(id);
        Group &g = s.groups[id];
        if (!known) {
            g.firstSeen = s.now();
            save();
        }
        s.held.insert(index, Held{id, m, s.now()});
        return SlotRead::Held;
    }
    smsDate = m.date;
    phoneNo = m.phoneNo;
    sms = m.text;
    smsStatus = SlotStatus(m); // a status report is no alarm: deleted as configured
    key = ReceivedStore::Key(index, smsDate, phoneNo, sms);
    return SlotRead::Message;
}

void PartJoiner::FinishParts(const Road &road)
{
    State &s = *m_state;
    const QDateTime now = s.now();
    bool changed = false;
    // What each message has on the SIM, read in this poll or before.
    for (Group &g : s.groups) {
        g.seen.clear();
        g.duplicates.clear();
    }
    for (auto it = s.held.cbegin(); it != s.held.cend(); ++it) {
        if (it->id.isEmpty())
            continue;
        Group &g = s.groups[it->id];
        const int part = it->message.concatenation.part;
        if (g.seen.contains(part))
            g.duplicates << it.key();
        else
            g.seen.insert(part, Part{it.key(), it->message});
    }
    // Messages in the order of their first slots, as single ones are read.
    QList<QPair<qint16, QString>> order;
    for (auto it = s.groups.cbegin(); it != s.groups.cend(); ++it) {
        qint16 first = SHRT_MAX;
        for (const Part &p : it->seen)
            first = qMin(first, p.slot);
        order.append({first, it.key()});
    }
    std::sort(order.begin(), order.end());
    for (const auto &[firstSlot, id] : order) {
        Group &g = s.groups[id];
        const int parts = partCount(id);
        if (g.seen.isEmpty() && g.duplicates.isEmpty()) {
            // None of its parts is on the SIM any more.
            if (!s.incomplete) {
                s.groups.remove(id);
                changed = true;
            }
            continue;
        }
        if (!g.recordedKey.isEmpty()) {
            // Recorded: what is left of it is cleared, never recorded again.
            deleteParts(g, road, s.held);
            continue;
        }
        const bool whole = g.seen.size() == parts;
        const bool overdue = g.firstSeen.secsTo(now) >= kMissingPartsSeconds;
        if (!whole && !overdue)
            continue;
        const SIMMessage &first = g.seen.first().message;
        const QString text = joined(g, parts);
        const QString key =
            ReceivedStore::Key(g.seen.first().slot, first.date, first.phoneNo, text);
        WriteDebugTrace(QStringLiteral("Message of %1 parts from %2: %3 of them")
                            .arg(parts)
                            .arg(first.phoneNo)
                            .arg(g.seen.size()));
        if (road.record(key, first.date, first.phoneNo, text)) {
            g.recordedKey = key;
            g.recordedParts = QSet<int>(g.seen.keyBegin(), g.seen.keyEnd());
            changed = true;
            save(); // before any part leaves the SIM
            deleteParts(g, road, s.held);
        }
    }
    if (changed)
        save();
}

} // namespace quillet
