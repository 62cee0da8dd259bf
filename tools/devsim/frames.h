#pragma once
// Device frames on the wire: station, function, data, CRC-16 (low byte first).
// The assembler finds requests in the byte stream the way an RTU slave does:
// by the length a frame's function announces, or, for a function it does not
// know, by the first length whose CRC fits; a pause on the line ends any
// half-received frame.

#include <QByteArray>
#include <QList>
#include <initializer_list>

namespace devsim {

constexpr quint8 kStation = 247;
constexpr quint8 kReadInputRegisters = 0x04;
constexpr quint8 kPassthrough = 0x50;
constexpr quint8 kSubSendAT = 0x65;
constexpr quint8 kSubReadReply = 0x66;

// A byte array from byte values: Bytes({0xF7, 0x04}).
QByteArray Bytes(std::initializer_list<int> values);

// Appends the CRC of all bytes so far, low byte first.
QByteArray WithCRC(QByteArray frame);
// True when the last two bytes are the CRC of the ones before.
bool HasGoodCRC(const QByteArray &frame);

class FrameAssembler
{
public:
    explicit FrameAssembler(quint8 station = kStation) : m_station(station) {}

    // Takes received bytes; returns the complete requests for our station
    // whose CRC is good, in order. Anything else is skipped and counted.
    QList<QByteArray> feed(const QByteArray &bytes);
    // The line went quiet: a frame still incomplete now never will be.
    QList<QByteArray> gap();

    bool pending() const { return !m_buffer.isEmpty(); }
    // Bytes skipped because they did not begin a good frame for us.
    int skippedBytes() const { return m_skipped; }

private:
    QList<QByteArray> extract(bool atGap);
    // Total length the frame at the buffer start announces; -1 while too few
    // bytes are in to tell, 0 for a function whose length is not known.
    qsizetype announcedLength() const;

    quint8 m_station;
    QByteArray m_buffer;
    int m_skipped = 0;
};

} // namespace devsim
