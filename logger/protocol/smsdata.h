#pragma once
// The user data of a short message as the network delivers it: the coding
// scheme octet (TP-DCS), the user data header (TP-UDH) with its
// concatenation elements, and GSM 7-bit septets packed into octets. Pure
// functions over bytes; how the modem showed them is atreply's business.

#include <QByteArray>
#include <QtGlobal>

namespace quillet {

enum class SMSAlphabet
{
    GSM7,     // the GSM 7-bit default alphabet, the extension table behind 0x1B
    EightBit, // octets the sender meant for a machine
    UCS2,     // 16-bit code units, high octet first
};

struct CodingScheme
{
    SMSAlphabet alphabet = SMSAlphabet::GSM7;
    int messageClass = -1;   // 0 (flash) to 3, -1 when the scheme names none
    bool compressed = false; // compressed text: these octets are not the text itself
};

// TP-DCS by its coding groups: 00xx general data coding and 01xx the same
// marked for automatic deletion (bit 5 compressed, bit 4 class present, bits
// 3-2 alphabet, bits 1-0 class); 1001 with a header structure (alphabet and
// class likewise); 1100 and 1101 message waiting, GSM 7-bit; 1110 message
// waiting, UCS2; 1111 data coding and class (bit 2 8-bit, bits 1-0 class).
// Reserved groups and the reserved alphabet value are read as the default
// alphabet, as a receiving entity must.
CodingScheme DecodeCodingScheme(quint8 dcs);

// Where the parts of a concatenated message say they belong.
struct Concatenation
{
    quint16 reference = 0;
    bool wideReference = false; // element 0x08 (16-bit reference), else 0x00
    int parts = 0;              // 0: not a part of a longer message
    int part = 0;               // 1 to parts

    bool isPart() const { return parts > 0; }
};

struct UserDataHeader
{
    int length = 0; // octets the header takes, its own length octet included
    Concatenation concatenation;
};

// The header at the start of TP-UD when TP-UDHI is set: its length octet
// (UDHL), then information elements, each an identifier, a length and that
// many octets. Concatenation elements (0x00: 8-bit reference, 0x08: 16-bit)
// are read, the last one winning; one that names part 0 or a part beyond the
// count is ignored as the element must be. Every other element is skipped.
// False when the header or one of its elements runs past the user data.
bool ParseUserDataHeader(const QByteArray &userData, UserDataHeader &header);

// `count` septets packed into `octets` from the first octet's lowest bit on,
// one septet value (0 to 127) per byte of the result. False when the octets
// hold fewer than `count` septets or more octets than `count` septets need.
bool UnpackSeptets(const QByteArray &octets, int count, QByteArray &septets);

// Septets a header of `headerOctets` octets takes with its fill bits, so that
// the text after it starts on a septet boundary.
int HeaderSeptets(int headerOctets);

} // namespace quillet
