#pragma once
// A stored message as the network delivered it: its user data (with a header
// for the parts of a longer message), the body and length field a modem in
// text mode shows for it, and the PDU it shows in PDU mode.

#include "simstore.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace devsim {

struct UserData
{
    QByteArray octets; // TP-UD: the header, its fill bits and the packed septets, or octets
    int length = 0;    // TP-UDL: septets for the GSM alphabet, octets otherwise
};

UserData EncodeUserData(const StoredSms &sms);

// The body as a modem in text mode writes it: GSM text, or hexadecimal for
// UCS2, 8-bit data and any message with a header (the whole user data). The
// length field counts characters, or septets when `septetLengths` (TP-UDL,
// as some modems write it); octets for UCS2 and data.
QString TextModeBody(const StoredSms &sms, bool septetLengths, int &length);

// The first octet: SMS-DELIVER for received messages, SMS-SUBMIT with a
// relative validity period for stored ones, SMS-STATUS-REPORT for a report;
// TP-UDHI when a header is there.
int FirstOctet(const StoredSms &sms);

// The PDU a modem in PDU mode shows (service centre address, then the
// TPDU) in hexadecimal, and the TPDU's length in octets.
QString Pdu(const StoredSms &sms, const QString &serviceCentre, int &tpduLength);

// Type of address: 145 international ("+"), 129 national (digits), 208
// alphanumeric (anything else).
int AddressType(const QString &number);

// A long message cut into `parts` parts with concatenation headers (8-bit
// reference, element 0x00, or 16-bit, element 0x08), in part order. Text is
// cut between septets (never inside an escape) or UCS2 code units, data
// between octets. False with a message when it cannot be cut so.
bool SplitIntoParts(const StoredSms &whole, int parts, int reference, bool wideReference,
                    QList<StoredSms> &result, QString &error);

} // namespace devsim
