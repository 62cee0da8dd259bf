#pragma once
// The SMS device at frame level, scripted, on a make-believe clock: it checks
// every request's CRC, answers register reads from its registers,
// acknowledges pass-through frames and answers reply polls with the modem
// output scripted for the last AT text. Each request costs `exchangeMs` of
// line time, so a wait loop that polls it sees the clock move as on a wire.
// In direct mode it is a bare modem: written bytes are the AT text and the
// scripted output arrives as raw bytes.

#include "crc16.h"
#include "serialtransport.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <array>
#include <functional>

namespace quillet::test {

class FakeDevice : public SerialTransport
{
public:
    // The modem's output for one sending of `atText` (terminator included),
    // one stage per reply poll as the output grows; the last stage stays.
    // Several scripts for the same text are used in turn, the last one for
    // every later sending. A text without a script gets no output at all.
    void script(const QByteArray &atText, QList<QByteArray> stages)
    {
        m_scripts[atText].enqueue(std::move(stages));
    }
    void script(const QByteArray &atText, const QByteArray &output)
    {
        script(atText, QList<QByteArray>{output});
    }

    bool openResult = true;
    bool ackPassthrough = true;
    bool answerPolls = true;
    bool answerRegisters = true;
    bool direct = false;
    qint64 clockMs = 500;
    int exchangeMs = 100;
    // Input registers 0 to 7, big-endian on the wire.
    std::array<quint16, 8> registers{0x4000, 0, 0x0102, 0x0304, 0x0506, 0x0708, 0x0001, 0};
    // Called with every request as it is written, before the answer.
    std::function<void(const QByteArray &)> onWrite;

    QList<QByteArray> written; // every write, whole
    QList<QByteArray> atTexts; // pass-through texts (or direct writes), in order
    QStringList openedPaths;
    QList<LineSettings> openedSettings;
    int polls = 0;
    int registerReads = 0;
    int closeCount = 0;

    int pollsSince(int mark) const { return polls - mark; }

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
    qint64 bytesAvailable() override { return m_input.size(); }
    QByteArray read(qint64 maxCount) override
    {
        const QByteArray out = m_input.left(maxCount);
        m_input.remove(0, out.size());
        return out;
    }
    bool discardInput() override
    {
        m_input.clear();
        return m_open;
    }
    bool write(const QByteArray &data) override
    {
        written << data;
        if (onWrite)
            onWrite(data);
        clockMs += exchangeMs;
        if (direct)
            handleDirect(data);
        else
            handleFrame(data);
        return true;
    }
    void waitForReadyRead(int msecs) override
    {
        if (m_input.isEmpty())
            clockMs += msecs;
    }
    QString errorSource() const override { return QStringLiteral("FakeDevice"); }
    QString errorString() const override { return QStringLiteral("scripted failure"); }

    static QByteArray withCRC(QByteArray frame)
    {
        const quint16 crc = DeviceCRC(frame, frame.size());
        frame.append(char(crc & 0xFF));
        frame.append(char(crc >> 8));
        return frame;
    }

private:
    void startOutput(const QByteArray &atText)
    {
        atTexts << atText;
        m_stage = 0;
        m_stages.clear();
        auto it = m_scripts.find(atText);
        if (it == m_scripts.end() || it->isEmpty())
            return;
        m_stages = it->size() > 1 ? it->dequeue() : it->head();
    }

    QByteArray currentOutput()
    {
        if (m_stages.isEmpty())
            return {};
        return m_stages.at(qMin<qsizetype>(m_stage++, m_stages.size() - 1));
    }

    void handleDirect(const QByteArray &data)
    {
        startOutput(data);
        m_input += m_stages.isEmpty() ? QByteArray() : m_stages.last();
    }

    void handleFrame(const QByteArray &frame)
    {
        if (frame.size() < 4 || DeviceCRC(frame, frame.size() - 2) !=
                                    quint16(quint8(frame.at(frame.size() - 2)) |
                                            (quint8(frame.at(frame.size() - 1)) << 8)))
            return;
        const quint8 station = quint8(frame.at(0));
        const quint8 function = quint8(frame.at(1));
        QByteArray answer;
        answer.append(char(station));
        answer.append(char(function));
        if (function == 0x04 && frame.size() == 8) {
            ++registerReads;
            if (!answerRegisters)
                return;
            const int start = quint8(frame.at(3));
            const int count = quint8(frame.at(5));
            answer.append(char(count * 2));
            for (int r = start; r < start + count; ++r) {
                const quint16 v = r < int(registers.size()) ? registers[size_t(r)] : 0;
                answer.append(char(v >> 8));
                answer.append(char(v & 0xFF));
            }
        } else if (function == 0x50 && frame.size() >= 7 && quint8(frame.at(2)) == 0x65) {
            const int length = quint8(frame.at(3)) * 256 + quint8(frame.at(4));
            if (frame.size() != length + 7)
                return;
            startOutput(frame.mid(5, length));
            if (!ackPassthrough)
                return;
            answer.append('\0');
        } else if (function == 0x50 && frame.size() == 5 && quint8(frame.at(2)) == 0x66) {
            ++polls;
            if (!answerPolls)
                return;
            const QByteArray output = currentOutput();
            answer.append(char(0x66));
            answer.append(char(output.size() >> 8));
            answer.append(char(output.size() & 0xFF));
            answer.append(output);
        } else {
            return;
        }
        m_input += withCRC(answer);
    }

    bool m_open = false;
    QByteArray m_input;
    QHash<QByteArray, QQueue<QList<QByteArray>>> m_scripts;
    QList<QByteArray> m_stages;
    qsizetype m_stage = 0;
};

} // namespace quillet::test
