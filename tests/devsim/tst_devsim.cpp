// The simulator as a client sees it: raw frames over its pty, control
// commands over its socket, and a Modbus master we did not write.

#include "boxrecorder.h"
#include "commport.h"
#include "crc16.h"
#include "deviceprotocol.h"
#include "devsimclient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <fcntl.h>
#include <unistd.h>

using devsim::test::DevSimClient;
using devsim::test::ReplyData;

namespace {

QByteArray WithCRC(const QByteArray &frame)
{
    const quint16 crc =
        quillet::CRC16(0xFFFF, reinterpret_cast<const quint8 *>(frame.constData()), frame.size());
    return frame + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray Hex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QStringList SlotLines(const QString &dump)
{
    QStringList found;
    for (const QString &line : dump.split(u'\n')) {
        if (line.startsWith(QLatin1String("slot=")))
            found << line.section(u' ', 0, 0);
    }
    return found;
}

QString ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

const char *kStamp = "time=26/12/08,09:15:00+32";

} // namespace

class TestDevSim : public QObject
{
    Q_OBJECT
private slots:
    void registers_data();
    void registers();
    void answerGrowsWhileTyping();
    void cmgrLayout_data();
    void cmgrLayout();
    void cpmsListsStorages_data();
    void cpmsListsStorages();
    void deleteLeavesOtherSlots();
    void deliveryThroughFifoAndSocket();
    void controlRefusesBadMessages_data();
    void controlRefusesBadMessages();
    void sendWithPromptAndAbandon();
    void faults_data();
    void faults();
    void silentDeviceComesBack();
    void pinWait();
    void directModeIsAPlainModem();
    void badRequestsAreIgnored();
    void modbusMasterReadsSerialNumber();
    void loggerProtocolTalksToSimulator();
};

void TestDevSim::registers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected"); // without CRC
    QTest::addColumn<int>("length");

    QTest::newRow("device type") << Hex("f70400000001") << Hex("f704024041") << 7;
    QTest::newRow("serial number") << Hex("f70400020004") << Hex("f704080a0bfffe00017f80") << 13;
    QTest::newRow("link") << Hex("f70400060001") << Hex("f704020001") << 7;
    QTest::newRow("all seven") << Hex("f70400000007")
                               << Hex("f7040e"
                                      "4041"
                                      "0100"
                                      "0a0b"
                                      "fffe"
                                      "0001"
                                      "7f80"
                                      "0001")
                               << 19;
    QTest::newRow("past the last register") << Hex("f70400060002") << Hex("f78402") << 7;
    QTest::newRow("zero registers") << Hex("f70400000000") << Hex("f78403") << 7;
    QTest::newRow("unknown function") << Hex("f70300000001") << Hex("f78301") << 7;
    QTest::newRow("unknown sub-code") << Hex("f75067") << Hex("f7d001") << 5;
}

void TestDevSim::registers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QFETCH(int, length);
    DevSimClient sim;
    QVERIFY2(sim.start({"--serial", "0A0B:FFFE:0001:7F80", "--device-type", "4041"}),
             qPrintable(sim.error()));
    QCOMPARE(sim.exchange(request, length).toHex(), WithCRC(expected).toHex());
}

void TestDevSim::answerGrowsWhileTyping()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--type-rate", "40", "--latency", "500"}), qPrintable(sim.error()));
    QVERIFY(sim.sendAT("AT+CPIN?\r"));
    const QByteArray full = "\r\n+CPIN: READY\r\n\r\nOK\r\n";
    QList<QByteArray> seen;
    for (int i = 0; i < 400 && (seen.isEmpty() || seen.last() != full); ++i) {
        const QByteArray answer = sim.pollReply();
        QVERIFY2(answer == WithCRC(answer.left(answer.size() - 2)), "answer CRC");
        seen << ReplyData(answer);
        QThread::msleep(10);
    }
    QCOMPARE(seen.last(), full);
    QVERIFY2(seen.first().isEmpty(), "latency: nothing typed right after the command");
    bool partial = false;
    for (qsizetype i = 0; i < seen.size(); ++i) {
        QVERIFY2(full.startsWith(seen[i]), seen[i].constData());
        QVERIFY(i == 0 || seen[i].size() >= seen[i - 1].size());
        partial = partial || (!seen[i].isEmpty() && seen[i] != full);
    }
    QVERIFY2(partial, "the answer should be seen while it grows");

    // A new command starts a new answer.
    QCOMPARE(sim.command("AT\r"), QByteArray("\r\nOK\r\n"));
}

void TestDevSim::cmgrLayout_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("secondStatus");

    // Body bytes are GSM 03.38 codes written out by hand: @ 00, $ 02, _ 11,
    // { 1B 28, } 1B 29, line feed 0A.
    QTest::newRow("gsm with name")
        << QString("number=+85291234567 name=\"Site 7\" %1 text=\"Tank @ 5$_{1}\\n,x\"").arg(kStamp)
        << QByteArray(
               "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",\"Site 7\",\"26/12/08,09:15:00+32\","
               "145,4,0,0,\"+85290000000\",145,16\r\n") +
               Hex("54616e6b"
                   "20"
                   "00"
                   "20"
                   "35"
                   "02"
                   "11"
                   "1b28"
                   "31"
                   "1b29"
                   "0a"
                   "2c"
                   "78") +
               "\r\n\r\nOK\r\n"
        << QByteArray("REC READ");
    QTest::newRow("ucs2 without name")
        << QString("number=85291234567 %1 alphabet=ucs2 text=\"\\u4F60\\u597DA\"").arg(kStamp)
        << QByteArray("\r\n+CMGR: \"REC UNREAD\",\"85291234567\",,\"26/12/08,09:15:00+32\","
                      "129,4,0,8,\"+85290000000\",145,6\r\n4F60597D0041\r\n\r\nOK\r\n")
        << QByteArray("REC READ");
    QTest::newRow("chinese text picks ucs2 by itself")
        << QString("number=+8529 %1 text=\\u8B66").arg(kStamp)
        << QByteArray("\r\n+CMGR: \"REC UNREAD\",\"+8529\",,\"26/12/08,09:15:00+32\","
                      "145,4,0,8,\"+85290000000\",145,2\r\n8B66\r\n\r\nOK\r\n")
        << QByteArray("REC READ");
    QTest::newRow("read stays read")
        << QString("number=+8529 status=read %1 text=x").arg(kStamp)
        << QByteArray("\r\n+CMGR: \"REC READ\",\"+8529\",,\"26/12/08,09:15:00+32\","
                      "145,4,0,0,\"+85290000000\",145,1\r\nx\r\n\r\nOK\r\n")
        << QByteArray("REC READ");
    QTest::newRow("stored unsent")
        << QString("number=12345 status=unsent text=\"Hi \\\"you\\\"\"")
        << QByteArray("\r\n+CMGR: \"STO UNSENT\",\"12345\",,129,17,0,0,167,\"+85290000000\",145,8"
                      "\r\nHi \"you\"\r\n\r\nOK\r\n")
        << QByteArray("STO UNSENT");
    QTest::newRow("stored sent with name")
        << QString("number=+1 name=Me status=sent alphabet=ucs2 text=A")
        << QByteArray("\r\n+CMGR: \"STO SENT\",\"+1\",\"Me\",145,17,0,8,167,\"+85290000000\",145,2"
                      "\r\n0041\r\n\r\nOK\r\n")
        << QByteArray("STO SENT");
}

void TestDevSim::cmgrLayout()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, secondStatus);
    DevSimClient sim;
    QVERIFY2(sim.start({"--message", message + " slot=4"}), qPrintable(sim.error()));
    QCOMPARE(sim.command("AT+CMGR=4\r", "\r\nOK\r\n"), expected);
    QVERIFY(sim.command("AT+CMGR=4\r", "\r\nOK\r\n").startsWith("\r\n+CMGR: \"" + secondStatus));
}

void TestDevSim::cpmsListsStorages_data()
{
    QTest::addColumn<QString>("storages");
    QTest::addColumn<QByteArray>("select");
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("three") << "3" << QByteArray("\r\n+CPMS: 2,25,2,25,2,25\r\n\r\nOK\r\n")
                           << QByteArray(
                                  "\r\n+CPMS: \"MT\",2,25,\"MT\",2,25,\"MT\",2,25\r\n\r\nOK\r\n");
    QTest::newRow("two") << "2" << QByteArray("\r\n+CPMS: 2,25,2,25\r\n\r\nOK\r\n")
                         << QByteArray("\r\n+CPMS: \"MT\",2,25,\"MT\",2,25\r\n\r\nOK\r\n");
}

void TestDevSim::cpmsListsStorages()
{
    QFETCH(QString, storages);
    QFETCH(QByteArray, select);
    QFETCH(QByteArray, query);
    DevSimClient sim;
    QVERIFY2(sim.start({"--storages", storages, "--capacity", "25", "--message", "number=1 text=a",
                        "--message", "number=2 text=b slot=20"}),
             qPrintable(sim.error()));
    QCOMPARE(sim.command("AT+CPMS=\"MT\",\"MT\",\"MT\"\r"), select);
    QCOMPARE(sim.command("AT+CPMS?\r"), query);
}

void TestDevSim::deleteLeavesOtherSlots()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--first-slot", "0", "--capacity", "5", "--cmee", "1", "--message",
                        "number=1 text=a", "--message", "number=2 text=b", "--message",
                        "number=3 text=c"}),
             qPrintable(sim.error()));
    QCOMPARE(SlotLines(ReadFile(sim.stateFile())), QStringList({"slot=0", "slot=1", "slot=2"}));
    QCOMPARE(sim.command("AT+CMGD=1\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CMGR=1\r"), QByteArray("\r\n+CMS ERROR: 321\r\n"));
    QCOMPARE(sim.command("AT+CMGR=5\r"), QByteArray("\r\n+CMS ERROR: 321\r\n"));
    QCOMPARE(SlotLines(ReadFile(sim.stateFile())), QStringList({"slot=0", "slot=2"}));
    QCOMPARE(SlotLines(sim.control("dump")), QStringList({"slot=0", "slot=2"}));
    // Reading marks the message read in the store.
    QVERIFY(sim.command("AT+CMGR=2\r").contains("REC UNREAD"));
    QVERIFY(ReadFile(sim.stateFile()).contains("slot=2 status=read"));
    // Without numeric error reports the empty slot is a plain error.
    QCOMPARE(sim.command("AT+CMEE=0\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CMGR=1\r"), QByteArray("\r\nERROR\r\n"));
}

void TestDevSim::deliveryThroughFifoAndSocket()
{
    DevSimClient sim;
    QTemporaryDir dir;
    const QString fifo = dir.filePath("control.fifo");
    QVERIFY2(sim.start({"--control", fifo}), qPrintable(sim.error()));

    const QByteArray line = "deliver number=+85261234567 name=Pump "
                            "text=\"Level \\\"low\\\", tank 2\\r\\nsecond line\" " +
                            QByteArray(kStamp) + "\n";
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, line.constData(), size_t(line.size())), ssize_t(line.size()));
    ::close(fd);
    QVERIFY2(sim.waitForOutput("ok delivered to slot 1"), qPrintable(sim.output()));

    QCOMPARE(sim.control("deliver number=2 text=second"), QString("ok delivered to slot 2"));
    QVERIFY(sim.command("AT+CPMS?\r").startsWith("\r\n+CPMS: \"MT\",2,30,"));
    QCOMPARE(
        sim.command("AT+CMGR=1\r", "\r\nOK\r\n"),
        QByteArray("\r\n+CMGR: \"REC UNREAD\",\"+85261234567\",\"Pump\",\"26/12/08,09:15:00+32\","
                   "145,4,0,0,\"+85290000000\",145,32\r\n"
                   "Level \"low\", tank 2\r\nsecond line\r\n\r\nOK\r\n"));
    QCOMPARE(sim.control("delete 2"), QString("ok slot 2 deleted"));
    QCOMPARE(SlotLines(ReadFile(sim.stateFile())), QStringList({"slot=1"}));
}

void TestDevSim::controlRefusesBadMessages_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::newRow("no text") << "deliver number=1"
                             << "error: a message needs number= and either text= or data=";
    QTest::newRow("bad time") << "deliver number=1 text=a time=26-12-08"
                              << "error: time must look like yy/MM/dd,hh:mm:ss+zz, not 26-12-08";
    QTest::newRow("gsm cannot write it")
        << "deliver number=1 text=\\u4F60 alphabet=gsm"
        << "error: text has characters outside the GSM alphabet; use alphabet=ucs2";
    QTest::newRow("slot outside") << "deliver number=1 text=a slot=4"
                                  << "error: slot 4 is outside 1..3";
    QTest::newRow("store full") << "fill"
                                << "error: the store is full (3 slots)";
    QTest::newRow("open quote") << "deliver number=1 text=\"a"
                                << "error: unterminated double quote";
    QTest::newRow("unknown field") << "deliver number=1 text=a colour=red"
                                   << "error: unknown field colour=";
    QTest::newRow("scheme of another alphabet") << "deliver number=1 text=a dcs=8 alphabet=gsm"
                                                << "error: dcs 8 names another alphabet";
    QTest::newRow("parts beyond the store") << "deliver number=1 text=abcdef parts=3"
                                            << "error: the store has no room for 3 parts";
    QTest::newRow("share over 100") << "badcrc 101"
                                    << "error: badcrc takes a share from 0 to 100 (percent)";
    QTest::newRow("unknown command") << "explode"
                                     << "error: unknown command explode (try help)";
}

void TestDevSim::controlRefusesBadMessages()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    DevSimClient sim;
    QVERIFY2(sim.start({"--capacity", "3", "--message", "number=1 text=a slot=2"}),
             qPrintable(sim.error()));
    if (command == "fill") {
        QCOMPARE(sim.control("deliver number=1 text=a"), QString("ok delivered to slot 1"));
        QCOMPARE(sim.control("deliver number=1 text=a"), QString("ok delivered to slot 3"));
        command = "deliver number=1 text=a";
    }
    QCOMPARE(sim.control(command), answer);
}

void TestDevSim::sendWithPromptAndAbandon()
{
    DevSimClient sim;
    QVERIFY2(sim.start(), qPrintable(sim.error()));
    QCOMPARE(sim.command("AT+CMGF=1\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CSMP=1,167,0,8\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CMGS=\"+85291234567\"\r", ">"), QByteArray("\r\n> "));
    QCOMPARE(sim.command("00410042\x1a\x1a"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));

    QCOMPARE(sim.command("AT+CSMP=1,167,0,0\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CMGS=\"5\"\r", ">"), QByteArray("\r\n> "));
    QVERIFY(sim.sendAT("never sent\x1b\r")); // ESC abandons the message
    QCOMPARE(sim.command("AT+CMGS=\"6\"\r", ">"), QByteArray("\r\n> "));
    QCOMPARE(sim.command("Tank, \"3\"\x1a\x1a"), QByteArray("\r\n+CMGS: 2\r\n\r\nOK\r\n"));

    const QString dump = sim.control("dump");
    QVERIFY2(dump.contains("# sent reference=1 number=+85291234567 alphabet=ucs2 text=AB\n"),
             qPrintable(dump));
    QVERIFY2(dump.contains("# sent reference=2 number=6 alphabet=gsm text=\"Tank, \\\"3\\\"\"\n"),
             qPrintable(dump));
    QVERIFY(!dump.contains("never sent"));
}

void TestDevSim::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected"); // whole answer; "bad crc" marks a spoiled CRC

    const QByteArray serial = Hex("f70400020004");
    const QByteArray serialAnswer = WithCRC(Hex("f704080102030405060708"));
    QTest::newRow("bad crc on every answer")
        << "badcrc 100" << serial << 13 << QByteArray("bad crc");
    QTest::newRow("queue full") << "exception 160" << Hex("f75066") << 5 << WithCRC(Hex("f7d0a0"));
    QTest::newRow("memory short") << "exception 161" << Hex("f75066") << 5
                                  << WithCRC(Hex("f7d0a1"));
    QTest::newRow("illegal command")
        << "exception 4" << Hex("f75066") << 5 << WithCRC(Hex("f7d004"));
    QTest::newRow("exception spares registers") << "exception 1" << serial << 13 << serialAnswer;
    QTest::newRow("exception on registers too")
        << "exception 1 100 all" << serial << 13 << WithCRC(Hex("f78401"));
    QTest::newRow("answers dropped") << "drop 100" << serial << 13 << QByteArray();
    QTest::newRow("answers cut") << "truncate 100" << serial << 13 << QByteArray("prefix");
    QTest::newRow("silent") << "silent on" << serial << 13 << QByteArray();
    QTest::newRow("paced like the wire") << "baud on" << serial << 13 << serialAnswer;
}

void TestDevSim::faults()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(int, length);
    QFETCH(QByteArray, expected);
    DevSimClient sim;
    QVERIFY2(sim.start(), qPrintable(sim.error()));
    QCOMPARE(sim.control(fault), QString("ok"));
    const QByteArray answer = sim.exchange(request, length, 300);
    const QByteArray good = WithCRC(Hex("f704080102030405060708"));
    if (expected == "bad crc") {
        QCOMPARE(answer.size(), good.size());
        QCOMPARE(answer.left(11), good.left(11));
        QVERIFY(answer.right(2) != good.right(2));
    } else if (expected == "prefix") {
        QVERIFY(!answer.isEmpty() && answer.size() < good.size());
        QVERIFY(good.startsWith(answer));
    } else {
        QCOMPARE(answer.toHex(), expected.toHex());
    }
}

void TestDevSim::silentDeviceComesBack()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--silent"}), qPrintable(sim.error()));
    const QByteArray link = Hex("f70400060001");
    QCOMPARE(sim.exchange(link, 7, 200), QByteArray());
    QCOMPARE(sim.control("silent off"), QString("ok"));
    QCOMPARE(sim.exchange(link, 7), WithCRC(Hex("f704020001")));
    QCOMPARE(sim.control("silent 2"), QString("ok silent for 2 s"));
    QCOMPARE(sim.exchange(link, 7, 100), QByteArray());
    QByteArray answer;
    for (int i = 0; i < 80 && answer.isEmpty(); ++i)
        answer = sim.exchange(link, 7, 100);
    QCOMPARE(answer, WithCRC(Hex("f704020001")));
}

void TestDevSim::directModeIsAPlainModem()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--direct", "--message", QString("number=+1 text=hi ") + kStamp}),
             qPrintable(sim.error()));
    // A device frame is noise to a plain modem: nothing comes back, and
    // the "AT" behind it is still found.
    sim.sendRaw(WithCRC(Hex("f70400000001")));
    QCOMPARE(sim.read(1, 300), QByteArray());
    sim.sendRaw("AT\r");
    QCOMPARE(sim.read(6), QByteArray("\r\nOK\r\n"));
    sim.sendRaw("AT+CMGR=1\r");
    const QByteArray expected =
        "\r\n+CMGR: \"REC UNREAD\",\"+1\",,\"26/12/08,09:15:00+32\",145,4,0,0,"
        "\"+85290000000\",145,2\r\nhi\r\n\r\nOK\r\n";
    QCOMPARE(sim.read(int(expected.size())), expected);
    // What the modem volunteers goes out on the line at once.
    QVERIFY(sim.control("urc say RING").startsWith(QLatin1String("ok")));
    QCOMPARE(sim.read(8), QByteArray("\r\nRING\r\n"));
}

void TestDevSim::pinWait()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--pin-wait", "--pin", "1234", "--cmee", "1"}), qPrintable(sim.error()));
    QCOMPARE(sim.command("AT+CPIN?\r"), QByteArray("\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CPMS?\r"), QByteArray("\r\n+CMS ERROR: 311\r\n"));
    QCOMPARE(sim.command("AT+CPIN=\"0000\"\r"), QByteArray("\r\n+CME ERROR: 16\r\n"));
    QCOMPARE(sim.command("AT+CPIN=\"1234\"\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.command("AT+CPIN?\r"), QByteArray("\r\n+CPIN: READY\r\n\r\nOK\r\n"));
    QCOMPARE(sim.control("pin on"), QString("ok"));
    QVERIFY(sim.command("AT+CPIN?\r").contains("SIM PIN"));
}

void TestDevSim::badRequestsAreIgnored()
{
    DevSimClient sim;
    QVERIFY2(sim.start({"--gap", "300"}), qPrintable(sim.error()));
    const QByteArray good = WithCRC(Hex("f70400060001"));
    const QByteArray answer = WithCRC(Hex("f704020001"));
    QByteArray spoiled = good;
    spoiled[7] = char(spoiled[7] ^ 1);
    sim.sendRaw(spoiled);
    QCOMPARE(sim.read(7, 300), QByteArray());
    // Another station's request gets no answer either.
    sim.send(Hex("010400060001"));
    QCOMPARE(sim.read(7, 300), QByteArray());
    // Noise before a request, and a request arriving in two pieces.
    sim.sendRaw(Hex("00ff") + good.left(3));
    QThread::msleep(10);
    sim.sendRaw(good.mid(3));
    QCOMPARE(sim.read(7), answer);
    // Half a request and then silence: dropped, the next request is served.
    sim.sendRaw(good.left(4));
    QThread::msleep(600);
    QCOMPARE(sim.exchange(Hex("f70400060001"), 7), answer);
}

void TestDevSim::modbusMasterReadsSerialNumber()
{
    const QString mbpoll = QStandardPaths::findExecutable("mbpoll");
    if (mbpoll.isEmpty())
        QSKIP("mbpoll is not installed");
    DevSimClient sim;
    QVERIFY2(sim.start({"--serial", "1234:ABCD:0001:FFFF", "--baud", "9600"}),
             qPrintable(sim.error()));
    QProcess master;
    // -r is 1-based: reference 3 is register address 2.
    master.start(mbpoll, {"-m", "rtu", "-a", "247", "-t", "3:hex", "-r", "3", "-c", "4", "-b",
                          "9600", "-P", "none", "-1", "-o", "2", sim.ptyPath()});
    QVERIFY(master.waitForFinished(20000));
    const QString out = QString::fromUtf8(master.readAllStandardOutput());
    QCOMPARE(master.exitCode(), 0);
    QVERIFY2(out.contains("[3]: \t0x1234"), qPrintable(out));
    QVERIFY2(out.contains("[4]: \t0xABCD"), qPrintable(out));
    QVERIFY2(out.contains("[5]: \t0x0001"), qPrintable(out));
    QVERIFY2(out.contains("[6]: \t0xFFFF"), qPrintable(out));
}

void TestDevSim::loggerProtocolTalksToSimulator()
{
    quillet::test::BoxRecorder boxes;
    DevSimClient sim;
    QVERIFY2(sim.start({"--type-rate", "500"}), qPrintable(sim.error()));
    quillet::CommPort port;
    port.setPortName(sim.ptyPath());
    QVERIFY(quillet::OpenComm(port));

    QByteArray request = quillet::ProductSNRequest();
    QByteArray response;
    QVERIFY(quillet::SendDeviceCommand(port, request, int(request.size()), response,
                                       quillet::kProductSNResponseLength, 1, 0));
    QCOMPARE(quillet::ProductSNFromResponse(response), QString("07-08-0506-030401-02"));

    // AT text in, the growing answer polled until it is complete.
    request = quillet::ATPassthroughRequest("AT+CPMS?\r");
    QVERIFY(quillet::SendDeviceCommand(port, request, int(request.size()), response,
                                       quillet::kATPassthroughResponseLength, 1, 0));
    QByteArray reply;
    QDeadlineTimer deadline(5000);
    while (!reply.endsWith("OK\r\n") && !deadline.hasExpired()) {
        request = quillet::ReadATReplyRequest();
        int count = 0;
        QVERIFY(
            quillet::SendDeviceQuery(port, request, int(request.size()), response, count, 1, 0));
        reply = quillet::ATReplyData(response, count);
    }
    QCOMPARE(reply, QByteArray("\r\n+CPMS: \"MT\",0,30,\"MT\",0,30,\"MT\",0,30\r\n\r\nOK\r\n"));

    // Exception answers fail every attempt.
    QCOMPARE(sim.control("exception 160"), QString("ok"));
    request = quillet::ReadATReplyRequest();
    int count = 0;
    QVERIFY(!quillet::SendDeviceQuery(port, request, int(request.size()), response, count, 0, 1));
    QCOMPARE(boxes.count(), 0);
    quillet::CloseComm(port);
}

QTEST_GUILESS_MAIN(TestDevSim)
#include "tst_devsim.moc"
