// The serial link on a real pseudo-terminal through QSerialPort: bytes pass
// unchanged both ways, answers in pieces, stale input, leftovers.
#include "boxrecorder.h"
#include "commport.h"
#include "ptypair.h"

#include <QTest>
#include <QThread>
#include <QTimer>

using namespace quillet;
using quillet::test::PtyPair;

class TestCommPty : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void bytesPassUnchanged();
    void answerInPiecesIsReadWhole();
    void pauseLongerThanTimeoutEndsRead();
    void moreThanExpectedStays();
    void staleBytesDiscardedByWrite();
    void expectedZeroReturnsAtOnce();
    void missingDeviceFailsQuietly();

private:
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<CommPort> m_port;
};

void TestCommPty::init()
{
    m_pty = std::make_unique<PtyPair>();
    if (!m_pty->isValid())
        QSKIP("no pseudo-terminal available");
    m_port = std::make_unique<CommPort>();
    m_port->setPortName(m_pty->slavePath());
    m_port->setSettings(QStringLiteral("9600,N,8,1"));
    QVERIFY(OpenComm(*m_port));
}

void TestCommPty::cleanup()
{
    m_port.reset();
    m_pty.reset();
}

void TestCommPty::bytesPassUnchanged()
{
    // Every byte value, CR, LF, XON/XOFF and interrupt characters included:
    // any line discipline processing left on would change some of them.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QVERIFY(WriteComm(*m_port, all, all.size()));
    QCOMPARE(m_pty->receive(256).toHex(), all.toHex());

    QVERIFY(m_pty->send(all));
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, 256, 1), 256);
    QCOMPARE(buffer.toHex(), all.toHex());
}

void TestCommPty::answerInPiecesIsReadWhole()
{
    QVERIFY(WriteComm(*m_port, "Q", 1));
    QCOMPARE(m_pty->receive(1), QByteArray("Q"));
    // Six pieces 300 ms apart: the whole answer takes longer than the one
    // second timeout, but no pause comes near it. The timers only fire if the
    // read lets events run while it waits.
    const QByteArray answer = "+CPMS: 3,30,3,30,3,30\r\n\r\nOK\r\n";
    const qsizetype piece = (answer.size() + 5) / 6;
    QObject timers; // ends any timer still pending when the test returns
    for (int i = 0; i < 6; ++i) {
        QTimer::singleShot(300 * i, &timers,
                           [this, answer, piece, i] { m_pty->send(answer.mid(piece * i, piece)); });
    }
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, int(answer.size()), 1), int(answer.size()));
    QCOMPARE(buffer, answer);
}

void TestCommPty::pauseLongerThanTimeoutEndsRead()
{
    QVERIFY(m_pty->send("abc"));
    QObject timers;
    QTimer::singleShot(2500, &timers, [this] { m_pty->send("def"); });
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, 6, 0), 3);
    QCOMPARE(buffer, QByteArray("abc"));
}

void TestCommPty::moreThanExpectedStays()
{
    QVERIFY(WriteComm(*m_port, "Q", 1));
    QVERIFY(m_pty->send("0123456789"));
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, 4, 1), 4);
    QCOMPARE(buffer, QByteArray("0123"));
    QCOMPARE(ReadComm(*m_port, buffer, 6, 1), 6);
    QCOMPARE(buffer, QByteArray("456789"));
}

void TestCommPty::staleBytesDiscardedByWrite()
{
    // A late answer, part of it already taken in by the port, part still
    // waiting in the system below it.
    QVERIFY(m_pty->send("late-1"));
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, 1, 1), 1);
    QVERIFY(m_pty->send("+CMTI: \"MT\",2\r\n"));
    // Sleep, not an event wait: the port must not have seen these bytes yet.
    QThread::msleep(200);

    QVERIFY(WriteComm(*m_port, "AT\r", 3));
    QCOMPARE(m_pty->receive(3), QByteArray("AT\r"));
    QVERIFY(m_pty->send("OK"));
    QCOMPARE(ReadComm(*m_port, buffer, 2, 1), 2);
    QCOMPARE(buffer, QByteArray("OK"));
}

void TestCommPty::expectedZeroReturnsAtOnce()
{
    QVERIFY(m_pty->send("xyz"));
    QByteArray buffer;
    QCOMPARE(ReadComm(*m_port, buffer, 0, 30), 0); // a 30 s wait would time the test out
    QCOMPARE(ReadComm(*m_port, buffer, 3, 1), 3);
    QCOMPARE(buffer, QByteArray("xyz"));
}

void TestCommPty::missingDeviceFailsQuietly()
{
    CommPort port;
    port.setPortName(m_pty->slavePath() + QStringLiteral("-missing"));
    test::BoxRecorder boxes;
    QVERIFY(!OpenComm(port));
    QVERIFY(!port.isOpen());
    QCOMPARE(boxes.count(), 0);
    QVERIFY(!WriteComm(port, "AT", 2));
}

QTEST_GUILESS_MAIN(TestCommPty)
#include "tst_commpty.moc"
