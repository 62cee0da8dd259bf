// The device simulator on arbitrary input: bytes from the line go through
// the frame finder, the device and its modem; text goes through the control
// line syntax. A result, never a crash; every answer carries a good CRC, and
// a quoted value reads back as itself.
#include "device.h"
#include "frames.h"
#include "messageline.h"
#include "modem.h"
#include "simstore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace devsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    SimStore store(4, 1);
    store.put(1, StoredSms{SmsStatus::RecUnread, "+1", "n", true, "26/12/08,09:15:00+32",
                           SmsAlphabet::Gsm, "a,\"b\""});
    store.put(2, StoredSms{SmsStatus::StoSent, "2", {}, false, {}, SmsAlphabet::Ucs2, "x"});
    StoredSms report{SmsStatus::RecRead, "+1", {}, false, "26/12/08,09:15:00+32"};
    report.report = true;
    report.discharge = report.timeStamp;
    store.put(3, report);
    qint64 now = 0;
    Modem modem(store, [&now] { return now; });
    modem.settings().charsPerSecond = 1000;
    Device device(modem);

    // As AT text straight into the modem, and as a stream of requests.
    modem.input(bytes);
    now += 50;
    modem.typedOutput();
    FrameAssembler assembler;
    QList<QByteArray> requests = assembler.feed(bytes);
    requests += assembler.gap();
    // The same bytes wrapped as a pass-through frame always reach the modem.
    QByteArray at = Bytes({kStation, kPassthrough, kSubSendAT, int(bytes.size() >> 8) & 0xFF,
                           int(bytes.size() & 0xFF)});
    requests << WithCRC(at + bytes.left(0xFFFF)) << WithCRC(Bytes({kStation, 0x50, 0x66}));
    for (const QByteArray &request : requests) {
        QString note;
        const QByteArray answer = device.answer(request, note);
        if (!answer.isEmpty() && !HasGoodCRC(answer))
            std::abort();
    }

    const QString text = QString::fromUtf8(bytes);
    QList<Word> words;
    QString error;
    if (ParseWords(text, words, error)) {
        StoredSms sms;
        int slot = 0;
        MessageFromWords(words, sms, slot, error);
    }
    if (!ParseWords(QStringLiteral("k=") + QuoteValue(text), words, error) || words.size() != 1 ||
        words[0].value != text)
        std::abort();
    return 0;
}
