#pragma once
// The SMS device's framed command protocol on the serial link: the two
// exchanges that send a request, read its answer as the frame check asks for
// it, and retry. Every answer refused reaches the debug trace with its bytes.
// The frames themselves are deviceframes.h's.

#include "commport.h"
#include "deviceframes.h"

#include <QByteArray>
#include <QString>

namespace quillet {

// Sends a request of `requestLength` bytes (its CRC is stored behind them in
// `request`) and expects a fixed-length answer of `responseLength` bytes in
// `response`. At most retries + 1 attempts; false when all fail.
bool SendDeviceCommand(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                       int responseLength, int silentTimeout, int retries);

// As SendDeviceCommand for a length-prefixed answer. On success
// `responseCount` is 5 + M and `response` holds header, data and the two CRC
// bytes behind them.
bool SendDeviceQuery(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                     int &responseCount, int silentTimeout, int retries);

} // namespace quillet
