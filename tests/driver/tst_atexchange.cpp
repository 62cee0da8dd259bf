// The AT exchange through a scripted device: what goes on the wire, when a
// reply counts as complete, how many attempts are made and how long each one
// waits, and the trace lines an exchange leaves.
#include "boxrecorder.h"
#include "driverrig.h"

#include <QTest>

using namespace quillet;
using quillet::test::DriverRig;
using quillet::test::TraceRecorder;

namespace {

struct Call
{
    QString command = QStringLiteral("AT+TEST");
    qint16 retryMax = 3;
    qint32 timeout = 1;
    QString eol = QStringLiteral("\r");
    bool needReply = true;
    QString ending1 = QStringLiteral("\r\nOK\r\n");
    QString ending2;
    qint16 numCRLF = 0;
    bool byError = true;
    QString modemType = QStringLiteral("ModBus");
};

struct Outcome
{
    bool result = false;
    QString reply;
    qint16 retryCount = -1;
    QByteArray source;
};

Outcome run(CommSMS &sms, const Call &c)
{
    Outcome o;
    o.result =
        sms.SendATCommand(c.command, o.reply, o.retryCount, c.retryMax, o.source, c.timeout, c.eol,
                          c.needReply, c.ending1, c.ending2, c.numCRLF, c.byError, c.modemType);
    return o;
}

} // namespace

class TestATExchange : public QObject
{
    Q_OBJECT
private slots:
    void endingsAndAttempts_data();
    void endingsAndAttempts();
    void unacknowledgedFrameCountsAsAttempt();
    void timeoutCountsWholeSeconds_data();
    void timeoutCountsWholeSeconds();
    void failedPollInsideWait();
    void framesOnTheWire();
    void passthroughGuard_data();
    void passthroughGuard();
    void passthroughLengthBytes();
    void traceLines();
    void directMode();
    void sourceResultKeepsRawBytes();
};

void TestATExchange::endingsAndAttempts_data()
{
    QTest::addColumn<QList<QByteArray>>("stages");
    QTest::addColumn<QString>("ending2");
    QTest::addColumn<int>("numCRLF");
    QTest::addColumn<bool>("byError");
    QTest::addColumn<bool>("needReply");
    QTest::addColumn<int>("retryMax");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("retryCount");
    QTest::addColumn<int>("sends");
    QTest::addColumn<QString>("reply");

    using L = QList<QByteArray>;
    const QString ok = QStringLiteral("\r\nOK\r\n");
    QTest::newRow("OK in the first poll")
        << L{"\r\nOK\r\n"} << "" << 0 << true << true << 3 << true << 1 << 1 << ok;
    QTest::newRow("OK as the output grows") << L{"\r\n", "\r\nO", "\r\nOK", "\r\nOK\r\n"} << "" << 0
                                            << true << true << 3 << true << 1 << 1 << ok;
    QTest::newRow("no reply wanted")
        << L{"\r\nOK\r\n"} << "" << 0 << true << false << 3 << true << 0 << 1 << "";
    QTest::newRow("no attempt allowed")
        << L{"\r\nOK\r\n"} << "" << 0 << true << true << 0 << false << 0 << 0 << "";
    QTest::newRow("silent modem") << L{} << "" << 0 << true << true << 3 << false << 3 << 3 << "";
    QTest::newRow("extended error line") << L{"\r\n+CME ERROR: 10\r\n"} << "" << 0 << true << true
                                         << 3 << true << 1 << 1 << "\r\n+CME ERROR: 10\r\n";
    QTest::newRow("message service error")
        << L{"\r\n+CMS ERROR: 321\r\n"} << "" << 0 << true << true << 3 << true << 1 << 1
        << "\r\n+CMS ERROR: 321\r\n";
    QTest::newRow("ERROR without its line end")
        << L{"\r\nERROR"} << "" << 0 << true << true << 2 << false << 2 << 2 << "\r\nERROR";
    QTest::newRow("ERROR when errors do not end it")
        << L{"\r\nERROR\r\n"} << "" << 0 << false << true << 2 << false << 2 << 2
        << "\r\nERROR\r\n";
    QTest::newRow("ERROR inside a text line") << L{"\r\nPUMP ERROR\r\n"} << "" << 0 << true << true
                                              << 2 << false << 2 << 2 << "\r\nPUMP ERROR\r\n";
    QTest::newRow("second ending text")
        << L{"\r\n> "} << ">" << 0 << true << true << 3 << true << 1 << 1 << "\r\n> ";
    QTest::newRow("enough line ends") << L{"\r\nA\r\nB\r\n"} << "" << 3 << true << true << 3 << true
                                      << 1 << 1 << "\r\nA\r\nB\r\n";
    QTest::newRow("too few line ends") << L{"\r\nA\r\nB\r\n"} << "" << 4 << true << true << 2
                                       << false << 2 << 2 << "\r\nA\r\nB\r\n";
    QTest::newRow("endings are case-sensitive")
        << L{"\r\nok\r\n"} << "" << 0 << true << true << 2 << false << 2 << 2 << "\r\nok\r\n";
    QTest::newRow("a shorter later poll replaces the text")
        << L{"\r\nOK", "\r\n"} << "" << 0 << true << true << 1 << false << 1 << 1 << "\r\n";
}

void TestATExchange::endingsAndAttempts()
{
    QFETCH(QList<QByteArray>, stages);
    QFETCH(QString, ending2);
    QFETCH(int, numCRLF);
    QFETCH(bool, byError);
    QFETCH(bool, needReply);
    QFETCH(int, retryMax);

    DriverRig rig;
    rig.dev->script("AT+TEST\r", stages);
    Call c;
    c.ending2 = ending2;
    c.numCRLF = qint16(numCRLF);
    c.byError = byError;
    c.needReply = needReply;
    c.retryMax = qint16(retryMax);
    const Outcome o = run(*rig.sms, c);

    QTEST(o.result, "result");
    QTEST(int(o.retryCount), "retryCount");
    QTEST(int(rig.dev->atTexts.size()), "sends");
    QTEST(o.reply, "reply");
    for (const QByteArray &text : std::as_const(rig.dev->atTexts))
        QCOMPARE(text, QByteArray("AT+TEST\r"));
    if (!needReply)
        QCOMPARE(rig.dev->polls, 0);
    QVERIFY(!rig.sms->IsBusy());
}

void TestATExchange::unacknowledgedFrameCountsAsAttempt()
{
    DriverRig rig;
    rig.dev->ackPassthrough = false;
    rig.dev->script("AT+TEST\r", "\r\nOK\r\n");
    Call c;
    c.retryMax = 2;
    const Outcome o = run(*rig.sms, c);
    QVERIFY(!o.result);
    QCOMPARE(o.retryCount, qint16(2));
    // Each attempt's frame goes out CommRetry + 1 times; no poll follows.
    QCOMPARE(rig.dev->written.size(), 2 * (rig.sms->CommRetry() + 1));
    QCOMPARE(rig.dev->polls, 0);
    QCOMPARE(rig.sms->ErrorCode(), qint16(1));
}

void TestATExchange::timeoutCountsWholeSeconds_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("startMs");
    QTest::addColumn<int>("polls");
    QTest::addColumn<int>("elapsed");

    // Every device exchange takes 100 ms and the pause after it 10 ms; the
    // wait ends in the first pass after more than `timeout` second
    // boundaries have passed.
    QTest::newRow("0 s from mid-second") << 0 << 500 << 4 << 1;
    QTest::newRow("1 s from mid-second") << 1 << 500 << 13 << 2;
    QTest::newRow("3 s from mid-second") << 3 << 500 << 31 << 4;
    QTest::newRow("1 s from late in a second") << 1 << 950 << 18 << 2;
    QTest::newRow("1 s from a second's start") << 1 << 0 << 18 << 2;
}

void TestATExchange::timeoutCountsWholeSeconds()
{
    QFETCH(int, timeout);
    QFETCH(int, startMs);

    DriverRig rig;
    rig.dev->clockMs = startMs;
    TraceRecorder trace;
    Call c;
    c.retryMax = 1;
    c.timeout = timeout;
    const Outcome o = run(*rig.sms, c);
    QVERIFY(!o.result);
    QTEST(rig.dev->polls, "polls");
    QFETCH(int, elapsed);
    QVERIFY(trace.lines.contains(QStringLiteral("ATCommandResult=, ElapseTime =%1").arg(elapsed)));
}

void TestATExchange::failedPollInsideWait()
{
    DriverRig rig;
    rig.dev->answerPolls = false;
    Call c;
    c.retryMax = 1;
    const Outcome o = run(*rig.sms, c);
    QVERIFY(!o.result);
    QCOMPARE(rig.sms->ErrorCode(), qint16(1));

    // A later good poll sets the code back.
    rig.dev->answerPolls = true;
    rig.dev->script("AT+TEST\r", "\r\nOK\r\n");
    QVERIFY(run(*rig.sms, c).result);
    QCOMPARE(rig.sms->ErrorCode(), qint16(0));
}

void TestATExchange::framesOnTheWire()
{
    DriverRig rig;
    rig.dev->script("AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    QCOMPARE(rig.sms->Status(), qint16(0));
    QCOMPARE(rig.dev->written,
             (QList<QByteArray>{QByteArray::fromHex("f75065000941542b4350494e3f0d0ada"),
                                QByteArray::fromHex("f750667c18")}));

    rig.dev->written.clear();
    QVERIFY(rig.sms->BreakATCommand());
    QCOMPARE(rig.dev->written, QList<QByteArray>{QByteArray::fromHex("f7506500021b0db762")});
}

void TestATExchange::passthroughGuard_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("passes");

    QTest::newRow("ATZ") << "ATZ" << false;
    QTest::newRow("lower-case atz") << "atz" << false;
    QTest::newRow("ATE1") << "ATE1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks") << "   " << false;
    QTest::newRow("ATZ with its terminator") << "ATZ\r" << true;
    QTest::newRow("ATZ after a blank") << " ATZ" << true;
    QTest::newRow("ordinary command") << "AT+CSQ\r" << true;
}

void TestATExchange::passthroughGuard()
{
    QFETCH(QString, text);
    QFETCH(bool, passes);

    DriverRig rig;
    // A failed link query leaves code 1, which a refusal must not touch.
    rig.dev->answerRegisters = false;
    QVERIFY(!rig.sms->IsConnected());
    rig.dev->written.clear();

    QCOMPARE(rig.sms->ATCommandPassthrough(text), passes);
    QCOMPARE(rig.dev->atTexts.size(), passes ? 1 : 0);
    QCOMPARE(rig.sms->ErrorCode(), qint16(passes ? 0 : 1));
    if (passes)
        QCOMPARE(rig.dev->atTexts.first(), text.toUtf8());
    else
        QVERIFY(rig.dev->written.isEmpty());
}

void TestATExchange::passthroughLengthBytes()
{
    DriverRig rig;
    QVERIFY(rig.sms->ATCommandPassthrough(QString(300, u'A')));
    const QByteArray frame = rig.dev->written.first();
    QCOMPARE(frame.size(), 307);
    QCOMPARE(quint8(frame.at(3)), quint8(1));
    QCOMPARE(quint8(frame.at(4)), quint8(44));

    // Beyond what the frame's signed count can carry: refused, nothing sent.
    rig.dev->written.clear();
    QVERIFY(!rig.sms->ATCommandPassthrough(QString(32763, u'A')));
    QVERIFY(rig.dev->written.isEmpty());
    QCOMPARE(rig.sms->ErrorCode(), qint16(1));
}

void TestATExchange::traceLines()
{
    DriverRig rig;
    rig.dev->script("AT+TEST\r", QList<QByteArray>{"", "\r\nOK\r\n"});
    rig.dev->script("AT+TEST\r", QList<QByteArray>{});
    TraceRecorder trace;
    Call c;
    c.retryMax = 2;
    QVERIFY(run(*rig.sms, c).result);
    QCOMPARE(trace.lines,
             (QStringList{"ATCommand=AT+TEST", "ATCommandResult=\r\nOK\r\n, ElapseTime =0",
                          "Retry Count=1"}));

    trace.lines.clear();
    QVERIFY(!run(*rig.sms, c).result);
    QCOMPARE(trace.lines, (QStringList{"ATCommand=AT+TEST", "ATCommandResult=, ElapseTime =2",
                                       "Retry Count=1", "ATCommand=AT+TEST",
                                       "ATCommandResult=, ElapseTime =2", "Retry Count=2"}));

    // Send only: no result lines.
    trace.lines.clear();
    c.needReply = false;
    QVERIFY(run(*rig.sms, c).result);
    QCOMPARE(trace.lines, QStringList{"ATCommand=AT+TEST"});
}

void TestATExchange::directMode()
{
    test::BoxRecorder boxes;
    DriverRig rig(true, QStringLiteral("no-such-folder/GSMCodeMap.cod"));
    QCOMPARE(rig.sms->ModemType(), QString());
    rig.dev->direct = true;
    rig.dev->script("AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n");
    TraceRecorder trace;
    QCOMPARE(rig.sms->Status(), qint16(0));
    QCOMPARE(rig.dev->written, QList<QByteArray>{"AT+CPIN?\r"});
    QVERIFY(!trace.lines.contains(QStringLiteral("ATCommand=AT+CPIN?")));

    // A caller may also choose the direct way for one exchange. A plain
    // modem writes GSM bytes as the device passes them on: the raw bytes are
    // kept for the +CMGR reader and the text is decoded the same way.
    DriverRig device;
    device.dev->direct = true;
    device.dev->script("AT+TEST\r", QByteArray("\r\n\x00\x02\r\nOK\r\n", 10));
    Call c;
    c.modemType.clear();
    const Outcome o = run(*device.sms, c);
    QVERIFY(o.result);
    QCOMPARE(o.reply, QStringLiteral("\r\n@$\r\nOK\r\n"));
    QCOMPARE(o.source, QByteArray("\r\n\x00\x02\r\nOK\r\n", 10));
    QCOMPARE(device.sms->ModemType(), QStringLiteral("ModBus"));
}

void TestATExchange::sourceResultKeepsRawBytes()
{
    DriverRig rig;
    // GSM 0x00 is "@" and 0x02 is "$": the text is converted, the source is not.
    rig.dev->script("AT+TEST\r", QByteArray("\r\n\x00\x02\r\nOK\r\n", 10));
    const Outcome o = run(*rig.sms, Call{});
    QVERIFY(o.result);
    QCOMPARE(o.source, QByteArray("\r\n\x00\x02\r\nOK\r\n", 10));
    QCOMPARE(o.reply, QStringLiteral("\r\n@$\r\nOK\r\n"));
}

QTEST_GUILESS_MAIN(TestATExchange)
#include "tst_atexchange.moc"
