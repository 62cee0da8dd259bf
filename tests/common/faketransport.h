#pragma once
// A scripted serial transport on a make-believe clock, so link and protocol
// code can be driven through silences and slow answers without waiting. Each
// write takes the next scripted reply; its pieces arrive at their offsets
// from the write. Waits move the clock instead of sleeping.

#include "commport.h"

#include <QList>
#include <QQueue>

namespace quillet::test {

class FakeTransport : public SerialTransport
{
public:
    struct Piece
    {
        qint64 afterMs = 0; // from the write that starts the reply
        QByteArray bytes;
    };

    // Installs a fake on a new port and points the port's clock at it.
    static std::unique_ptr<CommPort> makePort(FakeTransport **fake);

    // The reply to the next write not yet given one; an empty list is silence.
    void addReply(QList<Piece> pieces) { m_replies.enqueue(std::move(pieces)); }
    void addReply(const QByteArray &bytes) { addReply(QList<Piece>{{0, bytes}}); }
    // Bytes that arrive now, with no write (a late or unsolicited answer).
    void inject(const QByteArray &bytes) { m_input += bytes; }

    bool openResult = true;
    bool writeResult = true;
    QList<QByteArray> written;
    QStringList openedPaths;
    QList<LineSettings> openedSettings;
    int closeCount = 0;
    qint64 clockMs = 500; // mid-second, as a real clock usually is

    // Bytes delivered but not read, and bytes still scheduled.
    qint64 unread() const { return m_input.size(); }
    qint64 scheduled() const
    {
        qint64 n = 0;
        for (const Pending &p : m_pending)
            n += p.bytes.size();
        return n;
    }

    bool open(const QString &devicePath, const LineSettings &settings) override
    {
        openedPaths << devicePath;
        openedSettings << settings;
        m_open = openResult;
        return m_open;
    }
    void close() override
    {
        ++closeCount;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    qint64 bytesAvailable() override
    {
        deliverDue();
        return m_input.size();
    }
    QByteArray read(qint64 maxCount) override
    {
        deliverDue();
        const QByteArray out = m_input.left(maxCount);
        m_input.remove(0, out.size());
        return out;
    }
    bool discardInput() override
    {
        deliverDue();
        m_input.clear();
        return m_open;
    }
    bool write(const QByteArray &data) override
    {
        written << data;
        if (!writeResult)
            return false;
        // A new request cuts off whatever was still coming for the last one.
        m_pending.clear();
        if (!m_replies.isEmpty()) {
            for (const Piece &p : m_replies.dequeue())
                m_pending.append({clockMs + p.afterMs, p.bytes});
        }
        deliverDue();
        return true;
    }
    void waitForReadyRead(int msecs) override
    {
        ++waits;
        const qint64 until = clockMs + msecs;
        qint64 next = until;
        for (const Pending &p : m_pending)
            next = qMin(next, qMax(p.dueMs, clockMs));
        clockMs = next;
        deliverDue();
    }
    QString errorSource() const override { return QStringLiteral("FakeTransport"); }
    QString errorString() const override { return QStringLiteral("scripted failure"); }

    int waits = 0;

private:
    struct Pending
    {
        qint64 dueMs;
        QByteArray bytes;
    };

    void deliverDue()
    {
        while (!m_pending.isEmpty() && m_pending.first().dueMs <= clockMs)
            m_input += m_pending.takeFirst().bytes;
    }

    bool m_open = false;
    QByteArray m_input;
    QList<Pending> m_pending;
    QQueue<QList<Piece>> m_replies;
};

inline std::unique_ptr<CommPort> FakeTransport::makePort(FakeTransport **fake)
{
    auto transport = std::make_unique<FakeTransport>();
    FakeTransport *raw = transport.get();
    auto port = std::make_unique<CommPort>(std::move(transport));
    port->setClock([raw] { return raw->clockMs; });
    *fake = raw;
    return port;
}

} // namespace quillet::test
