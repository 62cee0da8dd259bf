// Device frames and the two exchanges, driven through a scripted transport:
// every answer check, the retry count, length-prefixed answers, the
// diagnostic and CRC boxes, and the passthrough guard.
#include "boxrecorder.h"
#include "crc16.h"
#include "deviceprotocol.h"
#include "faketransport.h"

#include <QTest>

using namespace quillet;
using quillet::test::FakeTransport;

namespace {

// Hex bytes with their CRC appended (low byte first).
QByteArray framed(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    AppendDeviceCRC(frame, frame.size());
    return frame;
}

struct DiagnosticsOn
{
    DiagnosticsOn() { SetCommDiagnostics(true); }
    ~DiagnosticsOn() { SetCommDiagnostics(false); }
};

// The refusals the exchanges write to the debug trace, while it lives.
struct RefusalTrace
{
    QStringList lines;
    TraceHandler previous = SetTraceHandler([this](const QString &line) {
        if (line.startsWith(QLatin1String("Device answer refused: ")))
            lines << line;
    });
    ~RefusalTrace() { SetTraceHandler(previous); }
    bool shows(const QByteArray &bytes) const
    {
        return !lines.filter(FrameHex(bytes)).isEmpty();
    }
};

QStringList texts(const test::BoxRecorder &boxes)
{
    QStringList out;
    for (const BoxRequest &b : boxes.boxes())
        out << b.title + " | " + b.text;
    return out;
}

} // namespace

class TestDeviceProtocol : public QObject
{
    Q_OBJECT
private slots:
    void requestFrames_data();
    void requestFrames();
    void passthroughLengthLimit();
    void fixedChecks_data();
    void fixedChecks();
    void answerCheck_data();
    void answerCheck();
    void answerMeanings();
    void commandAttempts_data();
    void commandAttempts();
    void commandDiagnostics_data();
    void commandDiagnostics();
    void commandStopsOnFailedWriteOrOpen();
    void queryAttempts_data();
    void queryAttempts();
    void queryCrcBoxDoesNotBlock();
    void queryRefusesOversizedReply();
    void queryDiagnostics_data();
    void queryDiagnostics();
    void passable_data();
    void passable();
};

void TestDeviceProtocol::requestFrames_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("frame");
    // The three register reads as a Debian Modbus master (mbpoll) sends them.
    QTest::newRow("device type") << DeviceTypeRequest() << QByteArray::fromHex("F70400000001255C");
    QTest::newRow("link") << LinkQueryRequest() << QByteArray::fromHex("F70400060001C55D");
    QTest::newRow("serial number") << ProductSNRequest() << QByteArray::fromHex("F70400020004449F");
    QByteArray reply = QByteArray::fromHex("F75066");
    const quint16 crc = CRC16(0xFFFF, reinterpret_cast<const quint8 *>(reply.constData()), 3);
    reply.append(char(crc & 0xFF)).append(char(crc >> 8));
    QTest::newRow("read AT reply") << ReadATReplyRequest() << reply;
    QByteArray at = QByteArray::fromHex("F75065000A41542B434D47523D310D");
    const quint16 atCrc =
        CRC16(0xFFFF, reinterpret_cast<const quint8 *>(at.constData()), at.size());
    at.append(char(atCrc & 0xFF)).append(char(atCrc >> 8));
    QTest::newRow("AT passthrough") << ATPassthroughRequest("AT+CMGR=1\r") << at;
}

void TestDeviceProtocol::requestFrames()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, frame);
    // The exchange stores the CRC itself; check the bytes it puts on the wire.
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    port->setPortNumber(1);
    QByteArray response;
    const int length = int(request.size());
    SendDeviceCommand(*port, request, length, response, 5, 0, 0);
    QCOMPARE(fake->written.size(), 1);
    QCOMPARE(fake->written.first().toHex(' '), frame.toHex(' '));
    QCOMPARE(request.toHex(' '), frame.toHex(' '));
}

void TestDeviceProtocol::passthroughLengthLimit()
{
    QCOMPARE(ATPassthroughRequest(QByteArray(32762, 'A')).size(), 32762 + 5);
    QVERIFY(ATPassthroughRequest(QByteArray(32763, 'A')).isEmpty());
    const QByteArray request = ATPassthroughRequest(QByteArray(300, 'A'));
    QCOMPARE(quint8(request.at(3)), quint8(0x01)); // length high byte first
    QCOMPARE(quint8(request.at(4)), quint8(0x2C));
}

void TestDeviceProtocol::fixedChecks_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("length");
    QTest::addColumn<ResponseCheck>("verdict");

    // Modbus RTU reference exchange: read 3 holding registers of slave 17.
    const QByteArray modbusRequest = QByteArray::fromHex("1103006B0003");
    const QByteArray modbusAnswer = QByteArray::fromHex("110306AE415652434049AD");
    QTest::newRow("modbus example answer")
        << modbusRequest << modbusAnswer << 11 << ResponseCheck::Ok;
    // Modbus RTU reference exception: function 3, illegal data address.
    QTest::newRow("modbus example exception")
        << QByteArray::fromHex("010300000001") << QByteArray::fromHex("018302C0F1") << 7
        << ResponseCheck::Exception;

    const QByteArray type = DeviceTypeRequest();
    QTest::newRow("device type") << type << framed("F7040240 01") << 7 << ResponseCheck::Ok;
    QTest::newRow("exception, 5 bytes")
        << type << framed("F78404") << 7 << ResponseCheck::Exception;
    // Not 5 bytes, so not taken as an exception; the function code then fails.
    QTest::newRow("exception code, 7 bytes")
        << type << framed("F7840240 01") << 7 << ResponseCheck::WrongFunction;
    QTest::newRow("short answer") << type << framed("F704024001").left(6) << 7
                                  << ResponseCheck::Incomplete;
    QTest::newRow("silence") << type << QByteArray() << 7 << ResponseCheck::Incomplete;
    QTest::newRow("wrong station, good CRC")
        << type << framed("01040240 01") << 7 << ResponseCheck::WrongStation;
    QTest::newRow("wrong function, good CRC")
        << type << framed("F7030240 01") << 7 << ResponseCheck::WrongFunction;
    QByteArray badCrc = framed("F704024001");
    badCrc[6] = char(badCrc.at(6) ^ 0x01);
    QTest::newRow("bad CRC") << type << badCrc << 7 << ResponseCheck::BadCRC;
    QByteArray swapped = framed("F704024001");
    std::swap(swapped[5], swapped[6]);
    QTest::newRow("CRC bytes swapped") << type << swapped << 7 << ResponseCheck::BadCRC;

    const QByteArray at = ATPassthroughRequest("AT\r");
    QTest::newRow("passthrough answer") << at << framed("F75000") << 5 << ResponseCheck::Ok;
    // Same length as a good answer, but an exception all the same.
    QTest::newRow("passthrough exception")
        << at << framed("F7D0A0") << 5 << ResponseCheck::Exception;
}

void TestDeviceProtocol::fixedChecks()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, response);
    QFETCH(int, length);
    QFETCH(ResponseCheck, verdict);
    QCOMPARE(CheckFixedResponse(request, response, length), verdict);
}

void TestDeviceProtocol::answerCheck_data()
{
    // `prefixed` picks the read-AT-reply request (length-prefixed answer),
    // else the device type query (7 bytes). `size` is the bytes still
    // wanted (more) or the frame's length (whole).
    QTest::addColumn<bool>("prefixed");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("problem");

    using V = FrameCheck::Verdict;
    QByteArray badCrc = framed("F704024001");
    badCrc[5] = char(badCrc.at(5) ^ 0x01);
    QTest::newRow("fixed: nothing yet") << false << QByteArray() << int(V::More) << 7 << 0;
    QTest::newRow("fixed: head") << false << QByteArray::fromHex("F70402") << int(V::More) << 4
                                 << 0;
    QTest::newRow("fixed: whole") << false << framed("F704024001") << int(V::Whole) << 7 << 0;
    QTest::newRow("fixed: exception, two bytes in")
        << false << QByteArray::fromHex("F784") << int(V::More) << 3 << 0;
    QTest::newRow("fixed: exception whole")
        << false << framed("F78404") << int(V::Refused) << 0 << int(ResponseCheck::Exception);
    QTest::newRow("fixed: another station, first byte")
        << false << QByteArray::fromHex("F6") << int(V::Refused) << 0
        << int(ResponseCheck::WrongStation);
    QTest::newRow("fixed: another function")
        << false << QByteArray::fromHex("F703") << int(V::Refused) << 0
        << int(ResponseCheck::WrongFunction);
    QTest::newRow("fixed: bad CRC") << false << badCrc << int(V::Refused) << 0
                                    << int(ResponseCheck::BadCRC);

    QTest::newRow("prefixed: header part")
        << true << QByteArray::fromHex("F750") << int(V::More) << 3 << 0;
    QTest::newRow("prefixed: header announces 2")
        << true << QByteArray::fromHex("F750660002") << int(V::More) << 4 << 0;
    QTest::newRow("prefixed: whole") << true << framed("F7506600024F4B") << int(V::Whole) << 9
                                     << 0;
    QTest::newRow("prefixed: M = 0") << true << framed("F750660000") << int(V::Whole) << 7 << 0;
    QTest::newRow("prefixed: above the reply buffer")
        << true << QByteArray::fromHex("F7506603E2") << int(V::Refused) << 0
        << int(ResponseCheck::TooLong);
    QTest::newRow("prefixed: exception")
        << true << framed("F7D001") << int(V::Refused) << 0 << int(ResponseCheck::Exception);
    QByteArray prefixedBad = framed("F7506600024F4B");
    prefixedBad[8] = char(prefixedBad.at(8) ^ 0x01);
    QTest::newRow("prefixed: bad CRC")
        << true << prefixedBad << int(V::Refused) << 0 << int(ResponseCheck::BadCRC);
}

void TestDeviceProtocol::answerCheck()
{
    QFETCH(bool, prefixed);
    QFETCH(QByteArray, received);
    QFETCH(int, verdict);
    QFETCH(int, size);
    QFETCH(int, problem);
    const FrameCheck check = prefixed
                                 ? CheckPrefixedAnswer(ReadATReplyRequest(), received)
                                 : CheckFixedAnswer(DeviceTypeRequest(), received, 7);
    QCOMPARE(int(check.verdict), verdict);
    switch (FrameCheck::Verdict(verdict)) {
    case FrameCheck::Verdict::More:
        QCOMPARE(check.more, size);
        break;
    case FrameCheck::Verdict::Whole:
        QCOMPARE(check.length, size);
        break;
    case FrameCheck::Verdict::Refused:
        QCOMPARE(int(check.problem), problem);
        // The bytes refused, as the trace shows them (at most the header of
        // an answer too long to read on).
        QVERIFY2(check.reason.endsWith(FrameHex(received.left(9))), qPrintable(check.reason));
        break;
    }
}

void TestDeviceProtocol::answerMeanings()
{
    QCOMPARE(DeviceTypeFromResponse(framed("F704024001")), QStringLiteral("40"));
    QCOMPARE(DeviceTypeFromResponse(framed("F7040241FF")), QStringLiteral("41"));
    QCOMPARE(DeviceTypeFromResponse(framed("F704024240")), QStringLiteral("UNKNOWN"));
    QCOMPARE(ProductSNFromResponse(framed("F704080102030405060708")),
             QStringLiteral("07-08-0506-030401-02"));
    QCOMPARE(ProductSNFromResponse(framed("F704080A0B0C0D0E0F00AB")),
             QStringLiteral("00-AB-0E0F-0C0D0A-0B"));

    QCOMPARE(ATReplyData(framed("F750000000"), 5), QByteArray());
    QCOMPARE(ATReplyData(framed("F75000000141"), 6), QByteArray());
    QCOMPARE(ATReplyData(framed("F7500000024F4B"), 7), QByteArray("OK"));
}

void TestDeviceProtocol::commandAttempts_data()
{
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("writes");

    using L = QList<QByteArray>;
    const QByteArray good = framed("F704024001");
    const QByteArray exception = framed("F78401");
    QTest::newRow("first answer good") << L{good} << 3 << true << 1;
    QTest::newRow("exception every time, 3 retries") << L{} << 3 << false << 4;
    QTest::newRow("exception every time, no retries") << L{} << 0 << false << 1;
    QTest::newRow("negative retries still try once") << L{} << -1 << false << 1;
    QTest::newRow("good on the last try")
        << L{exception, exception, exception, good} << 3 << true << 4;
    QTest::newRow("good one try too late") << L{exception, exception, good} << 1 << false << 2;
    QTest::newRow("silence then good") << L{QByteArray(), good} << 1 << true << 2;
}

void TestDeviceProtocol::commandAttempts()
{
    QFETCH(QList<QByteArray>, replies);
    QFETCH(int, retries);
    QFETCH(bool, result);
    QFETCH(int, writes);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    if (replies.isEmpty())
        replies = QList<QByteArray>(10, framed("F78401"));
    for (const QByteArray &r : replies)
        fake->addReply(r);
    test::BoxRecorder boxes;
    QByteArray request = DeviceTypeRequest();
    QByteArray response;
    QCOMPARE(SendDeviceCommand(*port, request, 6, response, 7, 1, retries), result);
    QCOMPARE(fake->written.size(), writes);
    for (const QByteArray &w : std::as_const(fake->written))
        QCOMPARE(w.toHex(), QByteArray("f70400000001255c"));
    if (result)
        QCOMPARE(response, framed("F704024001"));
    QCOMPARE(boxes.count(), 0); // the diagnostic switch is off
}

void TestDeviceProtocol::commandDiagnostics_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("boxes");

    const QString t = "Send Command Error | ";
    QTest::newRow("exception with text")
        << framed("F7D0A0")
        << QStringList{t + "Send command response error.\r\nCommand function no=208",
                       t + QString::fromUtf8("簡訊傳送等待區已滿.")};
    QTest::newRow("exception code 4")
        << framed("F7D004")
        << QStringList{t + "Send command response error.\r\n"
                           "Command function no=208",
                       t + QString::fromUtf8("這是一個不合法的命令.")};
    QTest::newRow("exception without text")
        << framed("F7D002")
        << QStringList{t + "Send command response error.\r\nCommand function no=208"};
    QTest::newRow("incomplete") << framed("F750").left(3)
                                << QStringList{t + "Send command timeOut!! Incomplete response "
                                                   "data. nWord = 3\r\nRequest response data. "
                                                   "nRspData= 5",
                                               "Silent timeout error! | Communication silent "
                                               "timeout error in receiving  data!\r\nExpected "
                                               "data length=5\r\nReceived data length=3\r\n"
                                               "Silent time out(sec)=1"};
    QTest::newRow("station") << framed("F65000") << QStringList{t + "Station ID is Error."};
    QTest::newRow("function") << framed("F75100")
                              << QStringList{t + "Response data with wrong function code.\r\n"
                                                 "Send command function code=80\r\n"
                                                 "Response data function code=81"};
    QByteArray badCrc = framed("F75000");
    badCrc[4] = char(badCrc.at(4) ^ 0x80);
    QTest::newRow("crc") << badCrc << QStringList{t + "CRC Error."};
}

void TestDeviceProtocol::commandDiagnostics()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, boxes);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    fake->addReply(reply);
    DiagnosticsOn diagnostics;
    test::BoxRecorder recorder;
    RefusalTrace trace;
    QByteArray request = ATPassthroughRequest("AT\r");
    QByteArray response;
    QVERIFY(!SendDeviceCommand(*port, request, int(request.size()), response, 5, 1, 0));
    QVERIFY2(trace.shows(reply), qPrintable(trace.lines.join('\n')));
    // The silence box comes from the read, before the check's own box.
    QStringList got = texts(recorder);
    if (got.size() == 2 && got.first().startsWith("Silent"))
        got.swapItemsAt(0, 1);
    QCOMPARE(got, boxes);
    for (const BoxRequest &b : recorder.boxes()) {
        QCOMPARE(b.icon, BoxIcon::Critical);
        QVERIFY(b.blocking);
    }
}

void TestDeviceProtocol::commandStopsOnFailedWriteOrOpen()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    fake->writeResult = false;
    QByteArray request = LinkQueryRequest();
    QByteArray response;
    QVERIFY(!SendDeviceCommand(*port, request, 6, response, 7, 1, 3));
    QCOMPARE(fake->written.size(), 1);

    auto closed = FakeTransport::makePort(&fake);
    fake->openResult = false;
    QVERIFY(!SendDeviceCommand(*closed, request, 6, response, 7, 1, 3));
    int count = 0;
    QVERIFY(!SendDeviceQuery(*closed, request, 6, response, count, 1, 3));
    QCOMPARE(fake->written.size(), 0);
    QCOMPARE(fake->openedPaths.size(), 2);
}

void TestDeviceProtocol::queryAttempts_data()
{
    QTest::addColumn<QList<QList<FakeTransport::Piece>>>("replies");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QByteArray>("response");

    using Pieces = QList<FakeTransport::Piece>;
    using R = QList<Pieces>;
    const QByteArray ok = framed("F750660002 4F4B");
    const QByteArray empty = framed("F75066 0000");
    QTest::newRow("data") << R{{{0, ok}}} << 3 << true << 1 << ok;
    QTest::newRow("M = 0") << R{{{0, empty}}} << 3 << true << 1 << empty;
    QTest::newRow("answer in pieces")
        << R{{{0, ok.left(2)}, {600, ok.mid(2, 4)}, {1200, ok.mid(6)}}} << 0 << true << 1 << ok;
    const QByteArray exception = framed("F7D001");
    QTest::newRow("exception every time")
        << R(4, {{0, exception}}) << 3 << false << 4 << QByteArray();
    QTest::newRow("exception then good") << R{{{0, exception}}, {{0, ok}}} << 1 << true << 2 << ok;
    QTest::newRow("wrong station, good CRC")
        << R{{{0, framed("F6506600024F4B")}}} << 0 << false << 1 << QByteArray();
    QTest::newRow("short header") << R{{{0, ok.left(4)}}} << 0 << false << 1 << QByteArray();
    QTest::newRow("silence") << R{} << 2 << false << 3 << QByteArray();
    QTest::newRow("CRC missing") << R{{{0, ok.left(7)}}} << 0 << false << 1 << QByteArray();
    // The data stops one byte short; the two bytes that come after the pause
    // match the CRC of the header alone, and must still not pass.
    QByteArray header = QByteArray::fromHex("F750660003");
    AppendDeviceCRC(header, 5);
    QTest::newRow("data short of M, CRC after")
        << R{{{0, header.left(5) + "OK"}, {3000, header.mid(5)}}} << 0 << false << 1
        << QByteArray();
    QTest::newRow("one byte of data")
        << R{{{0, framed("F7506600 0141")}}} << 0 << true << 1 << framed("F750660001 41");
}

void TestDeviceProtocol::queryAttempts()
{
    QFETCH(QList<QList<FakeTransport::Piece>>, replies);
    QFETCH(int, retries);
    QFETCH(bool, result);
    QFETCH(int, writes);
    QFETCH(QByteArray, response);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    for (const auto &r : replies)
        fake->addReply(r);
    test::BoxRecorder boxes;
    QByteArray request = ReadATReplyRequest();
    QByteArray got;
    int count = -1;
    QCOMPARE(SendDeviceQuery(*port, request, 3, got, count, 1, retries), result);
    QCOMPARE(fake->written.size(), writes);
    QCOMPARE(request.size(), 5);
    QCOMPARE(fake->written.first(), request);
    if (result) {
        QCOMPARE(got.toHex(' '), response.toHex(' '));
        QCOMPARE(count, int(response.size()) - 2);
    }
    // With the diagnostic switch off only the CRC box may appear (after a
    // wrong station, the two bytes read on are compared as a CRC), and it
    // never holds the exchange up.
    for (const BoxRequest &b : boxes.boxes()) {
        QVERIFY(!b.blocking);
        QVERIFY(b.text.startsWith("CRC is Error."));
    }
}

void TestDeviceProtocol::queryCrcBoxDoesNotBlock()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    fake->addReply(QByteArray::fromHex("F7506600020A4F0102"));
    fake->addReply(framed("F7506600024F4B"));
    test::BoxRecorder boxes;
    RefusalTrace trace;
    QByteArray request = ReadATReplyRequest();
    QByteArray response;
    int count = 0;
    // The box appears once, is not waited for, and the next attempt succeeds.
    QVERIFY(SendDeviceQuery(*port, request, 3, response, count, 1, 1));
    QCOMPARE(fake->written.size(), 2);
    QCOMPARE(boxes.count(), 1);
    const BoxRequest &box = boxes.last();
    QVERIFY(!box.blocking);
    QCOMPARE(box.icon, BoxIcon::Critical);
    QCOMPARE(box.title, QStringLiteral("Receive Command Error"));
    QByteArray head = QByteArray::fromHex("F7506600020A4F");
    const quint16 computed = DeviceCRC(head, head.size());
    QCOMPARE(box.text,
             QStringLiteral("CRC is Error.CRC1=%1,CRC2=513str=,F7,50,66,0,2,A,4F").arg(computed));
    // The trace keeps the whole frame refused.
    QVERIFY(trace.shows(QByteArray::fromHex("F7506600020A4F0102")));
}

void TestDeviceProtocol::queryRefusesOversizedReply()
{
    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    // 994 announced: the attempt fails on the header, leaving the rest unread.
    fake->addReply(QByteArray::fromHex("F75066 03E2") + QByteArray(994 + 2, 'x'));
    QByteArray request = ReadATReplyRequest();
    QByteArray response;
    int count = 0;
    QVERIFY(!SendDeviceQuery(*port, request, 3, response, count, 1, 0));
    QCOMPARE(fake->unread(), 996);

    // 993 is the most the reply buffer takes.
    QByteArray biggest = QByteArray::fromHex("F7506603E1") + QByteArray(993, 'x');
    AppendDeviceCRC(biggest, biggest.size());
    fake->addReply(biggest);
    QVERIFY(SendDeviceQuery(*port, request, 3, response, count, 1, 0));
    QCOMPARE(count, 998);
}

void TestDeviceProtocol::queryDiagnostics_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("traced"); // the reply's bytes the trace shows

    QTest::newRow("exception") << framed("F7D0A1")
                               << "Send Command Error | Send command response error.\r\n"
                                  "Command function no=208"
                               << 5;
    QTest::newRow("short header") << QByteArray::fromHex("F75066")
                                  << "Send Command Error | Send command timeOut!! Incomplete "
                                     "response data. nWord = 3\r\nRequest response data. "
                                     "nRspData= 5"
                                  << 3;
    QTest::newRow("station") << framed("01506600024F4B")
                             << "Send Command Error | Station ID is Error." << 5;
    QTest::newRow("data short") << QByteArray::fromHex("F7506600034F4B")
                                << "Receive Command Error | TimeOut!! No Response Data. nWord = 2"
                                << 7;
    QTest::newRow("CRC short") << QByteArray::fromHex("F7506600024F4B01")
                               << "Receive Command Error | TimeOut!! No Response Data. nWord = 1"
                               << 8;
}

void TestDeviceProtocol::queryDiagnostics()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, box);
    QFETCH(int, traced);

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    fake->addReply(reply);
    DiagnosticsOn diagnostics;
    test::BoxRecorder recorder;
    RefusalTrace trace;
    QByteArray request = ReadATReplyRequest();
    QByteArray response;
    int count = 0;
    QVERIFY(!SendDeviceQuery(*port, request, 3, response, count, 1, 0));
    const QStringList got = texts(recorder);
    QVERIFY2(got.contains(box), qPrintable(got.join("\n")));
    QVERIFY2(trace.shows(reply.left(traced)), qPrintable(trace.lines.join('\n')));
}

void TestDeviceProtocol::passable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passable");
    QTest::newRow("plain command") << "AT+CMGF=1" << true;
    QTest::newRow("atz lower case") << "atz" << false;
    QTest::newRow("ATZ") << "ATZ" << false;
    QTest::newRow("ATE1") << "ATE1" << false;
    QTest::newRow("Ate1") << "Ate1" << false;
    QTest::newRow("ATZ and CR") << "ATZ\r" << true;
    QTest::newRow("ATZ after a blank") << " ATZ" << true;
    QTest::newRow("ATZ before a blank") << "ATZ " << true;
    QTest::newRow("ATE0") << "ATE0" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks") << "   " << false;
    QTest::newRow("CR only") << "\r" << true;
}

void TestDeviceProtocol::passable()
{
    QFETCH(QString, text);
    QFETCH(bool, passable);
    QCOMPARE(IsATCommandPassable(text), passable);
}

QTEST_GUILESS_MAIN(TestDeviceProtocol)
#include "tst_deviceprotocol.moc"
