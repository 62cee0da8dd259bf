#include "device.h"

#include "frames.h"

namespace devsim {

namespace {
constexpr quint8 kIllegalFunction = 1;
constexpr quint8 kIllegalAddress = 2;
constexpr quint8 kIllegalValue = 3;
} // namespace

Device::Device(Modem &modem) : m_modem(modem) {}

bool Device::roll(int percent)
{
    if (percent <= 0)
        return false;
    if (percent >= 100)
        return true;
    return int(m_random() % 100) < percent;
}

QByteArray Device::exception(quint8 function, quint8 code)
{
    return WithCRC(Bytes({kStation, function | 0x80, code}));
}

QByteArray Device::answer(const QByteArray &request, QString &note)
{
    if (m_faults.silent) {
        note = QStringLiteral("silent");
        return {};
    }
    const quint8 function = quint8(request[1]);
    QByteArray reply;
    if (m_faults.exceptionCode && (m_faults.exceptionAllFunctions || function == kPassthrough) &&
        roll(m_faults.exceptionPercent)) {
        note = QStringLiteral("exception %1 on request").arg(m_faults.exceptionCode);
        reply = exception(function, quint8(m_faults.exceptionCode));
    } else {
        reply = serve(request, note);
    }
    if (roll(m_faults.dropPercent)) {
        note += QStringLiteral(", answer dropped");
        return {};
    }
    if (reply.size() > 1 && roll(m_faults.truncatePercent)) {
        reply.truncate(qsizetype(1 + m_random() % quint32(reply.size() - 1)));
        note += QStringLiteral(", answer cut to %1 bytes").arg(reply.size());
        return reply;
    }
    if (roll(m_faults.badCrcPercent)) {
        reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x5A);
        note += QStringLiteral(", CRC spoiled");
    }
    return reply;
}

QByteArray Device::serve(const QByteArray &request, QString &note)
{
    const quint8 function = quint8(request[1]);
    if (function == kReadInputRegisters) {
        const int start = quint8(request[2]) << 8 | quint8(request[3]);
        const int count = quint8(request[4]) << 8 | quint8(request[5]);
        if (count < 1 || count > 125) {
            note = QStringLiteral("register count %1 refused").arg(count);
            return exception(function, kIllegalValue);
        }
        if (start + count > RegisterCount) {
            note =
                QStringLiteral("registers %1..%2 do not exist").arg(start).arg(start + count - 1);
            return exception(function, kIllegalAddress);
        }
        QByteArray reply = Bytes({kStation, function, count * 2});
        for (int r = start; r < start + count; ++r) {
            reply.append(char(m_registers[size_t(r)] >> 8));
            reply.append(char(m_registers[size_t(r)] & 0xFF));
        }
        note = QStringLiteral("read registers %1..%2").arg(start).arg(start + count - 1);
        return WithCRC(reply);
    }
    if (function == kPassthrough && quint8(request[2]) == kSubSendAT) {
        const QByteArray text = request.mid(5, request.size() - 7);
        m_modem.input(text);
        note =
            QStringLiteral("AT text %1").arg(QString::fromUtf8(text.toPercentEncoding(" +=?,\"")));
        return WithCRC(Bytes({kStation, kPassthrough, kSubSendAT}));
    }
    if (function == kPassthrough && quint8(request[2]) == kSubReadReply) {
        const QByteArray typed = m_modem.typedOutput();
        QByteArray reply = Bytes({kStation, kPassthrough, kSubReadReply, int(typed.size() >> 8),
                                  int(typed.size() & 0xFF)});
        reply += typed;
        note = QStringLiteral("reply read, %1 of %2 bytes typed")
                   .arg(typed.size())
                   .arg(m_modem.answerBytes());
        return WithCRC(reply);
    }
    note = QStringLiteral("function %1 not supported").arg(function);
    return exception(function, kIllegalFunction);
}

} // namespace devsim
