#pragma once
// The SMS device as the serial line sees it: station 247 answering
//   0x04        read input registers 0..6 (type, version, serial number, link)
//   0x50 0x65   hand AT text to the modem          -> 5-byte acknowledgement
//   0x50 0x66   read the modem's answer so far     -> length-prefixed answer
// and the faults a test can ask for: silence, exception answers, lost,
// truncated and corrupted answers.

#include "modem.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <random>

namespace devsim {

enum Register
{
    RegDeviceType = 0,
    RegVersion = 1,
    RegSerial = 2,
    RegLink = 6,
    RegisterCount = 7
};

struct DeviceFaults
{
    bool silent = false;   // no answer at all; requests are not acted on
    int exceptionCode = 0; // 0: none; else answer function|0x80 with this code
    int exceptionPercent = 100;
    bool exceptionAllFunctions = false; // else only the pass-through function 0x50
    int dropPercent = 0;                // share of answers never sent
    int truncatePercent = 0;            // share of answers cut short
    int badCrcPercent = 0;              // share of answers with a wrong CRC
};

class Device
{
public:
    explicit Device(Modem &modem);

    std::array<quint16, RegisterCount> &registers() { return m_registers; }
    DeviceFaults &faults() { return m_faults; }
    const DeviceFaults &faults() const { return m_faults; }
    void seed(quint32 value) { m_random.seed(value); }

    // Answers one request whose station and CRC were already checked. An
    // empty result means nothing goes on the line. `note` tells what happened.
    QByteArray answer(const QByteArray &request, QString &note);

private:
    QByteArray serve(const QByteArray &request, QString &note);
    static QByteArray exception(quint8 function, quint8 code);
    bool roll(int percent);

    Modem &m_modem;
    std::array<quint16, RegisterCount> m_registers{0x4000, 0x0100, 0x0102, 0x0304,
                                                   0x0506, 0x0708, 0x0001};
    DeviceFaults m_faults;
    std::mt19937 m_random{20261208};
};

} // namespace devsim
