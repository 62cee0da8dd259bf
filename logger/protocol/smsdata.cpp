#include "smsdata.h"

namespace quillet {

namespace {

SMSAlphabet alphabetBits(quint8 dcs)
{
    switch ((dcs >> 2) & 0x03) {
    case 1:
        return SMSAlphabet::EightBit;
    case 2:
        return SMSAlphabet::UCS2;
    default:
        return SMSAlphabet::GSM7; // 11 is reserved: the default alphabet
    }
}

} // namespace

CodingScheme DecodeCodingScheme(quint8 dcs)
{
    CodingScheme scheme;
    switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:
        scheme.compressed = (dcs & 0x20) != 0;
        scheme.alphabet = alphabetBits(dcs);
        if (dcs & 0x10)
            scheme.messageClass = dcs & 0x03;
        break;
    case 0x9:
        scheme.alphabet = alphabetBits(dcs);
        scheme.messageClass = dcs & 0x03;
        break;
    case 0xC:
    case 0xD:
        break;
    case 0xE:
        scheme.alphabet = SMSAlphabet::UCS2;
        break;
    case 0xF:
        scheme.alphabet = (dcs & 0x04) ? SMSAlphabet::EightBit : SMSAlphabet::GSM7;
        scheme.messageClass = dcs & 0x03;
        break;
    default:
        break; // reserved coding groups
    }
    return scheme;
}

bool ParseUserDataHeader(const QByteArray &userData, UserDataHeader &header)
{
    header = UserDataHeader{};
    if (userData.isEmpty())
        return false;
    const int length = quint8(userData.at(0)) + 1;
    if (length > userData.size())
        return false;
    UserDataHeader read;
    read.length = length;
    int at = 1;
    while (at < length) {
        if (at + 2 > length)
            return false;
        const quint8 id = quint8(userData.at(at));
        const int size = quint8(userData.at(at + 1));
        const int data = at + 2;
        if (data + size > length)
            return false;
        auto octet = [&](int i) { return quint8(userData.at(data + i)); };
        Concatenation c;
        if (id == 0x00 && size == 3) {
            c.reference = octet(0);
            c.parts = octet(1);
            c.part = octet(2);
        } else if (id == 0x08 && size == 4) {
            c.reference = quint16(octet(0) << 8 | octet(1));
            c.wideReference = true;
            c.parts = octet(2);
            c.part = octet(3);
        }
        if (c.parts > 0 && c.part >= 1 && c.part <= c.parts)
            read.concatenation = c;
        at = data + size;
    }
    header = read;
    return true;
}

bool UnpackSeptets(const QByteArray &octets, int count, QByteArray &septets)
{
    septets.clear();
    if (count < 0 || octets.size() != (qsizetype(count) * 7 + 7) / 8)
        return false;
    septets.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int bit = i * 7;
        const int index = bit / 8;
        const int shift = bit % 8;
        int value = quint8(octets.at(index)) >> shift;
        if (shift > 1)
            value |= quint8(octets.at(index + 1)) << (8 - shift);
        septets.append(char(value & 0x7F));
    }
    return true;
}

int HeaderSeptets(int headerOctets)
{
    return (headerOctets * 8 + 6) / 7;
}

} // namespace quillet
