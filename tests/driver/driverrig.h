#pragma once
// A CommSMS driver on a FakeDevice, its port open and its clock the
// device's, with the trace lines it writes collected.

#include "commsms.h"
#include "fakedevice.h"
#include "hostservices.h"

#include <QStringList>

namespace quillet::test {

class TraceRecorder
{
public:
    TraceRecorder()
    {
        m_previous = SetTraceHandler([this](const QString &line) { lines << line; });
    }
    ~TraceRecorder() { SetTraceHandler(m_previous); }
    TraceRecorder(const TraceRecorder &) = delete;
    TraceRecorder &operator=(const TraceRecorder &) = delete;
    QStringList lines;

private:
    TraceHandler m_previous;
};

struct DriverRig
{
    explicit DriverRig(bool open = true,
                       const QString &codeMap = QStringLiteral(QUILLET_GSMCODEMAP_FILE))
    {
        auto transport = std::make_unique<FakeDevice>();
        dev = transport.get();
        sms = std::make_unique<CommSMS>(std::move(transport), codeMap);
        FakeDevice *raw = dev;
        sms->port().setClock([raw] { return raw->clockMs; });
        if (open)
            OpenComm(sms->port());
    }
    FakeDevice *dev = nullptr;
    std::unique_ptr<CommSMS> sms;
};

} // namespace quillet::test
