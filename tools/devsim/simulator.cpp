#include "simulator.h"

#include "control.h"
#include "messageline.h"

#include <QSaveFile>
#include <cstdio>

namespace devsim {

namespace {

bool ToNumber(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < low || v > high)
        return false;
    value = v;
    return true;
}

QString Ok(const QString &what = QString())
{
    return what.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok ") + what;
}

QString Error(const QString &what)
{
    return QStringLiteral("error: ") + what;
}

} // namespace

Simulator::Simulator(int capacity, int firstSlot, QObject *parent)
    : QObject(parent), m_store(capacity, firstSlot),
      m_modem(m_store, [this] { return m_clock.elapsed(); }), m_device(m_modem)
{
    m_clock.start();
    m_modem.onStoreChanged = [this] { storeChanged(); };
    m_gap.setSingleShot(true);
    m_gap.setInterval(50);
    connect(&m_gap, &QTimer::timeout, this, [this] { serve(m_assembler.gap()); });
    m_silentEnd.setSingleShot(true);
    connect(&m_silentEnd, &QTimer::timeout, this, [this] {
        m_device.faults().silent = false;
        log(QStringLiteral("silence over"));
    });
    connect(&m_port, &PtyPort::received, this, &Simulator::onReceived);
}

void Simulator::log(const QString &text) const
{
    if (m_verbose) {
        const QByteArray line = QStringLiteral("devsim: %1\n").arg(text).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
}

void Simulator::onReceived(const QByteArray &bytes)
{
    log(QStringLiteral("in  %1").arg(QString::fromLatin1(bytes.toHex(' '))));
    serve(m_assembler.feed(bytes));
    if (m_assembler.pending())
        m_gap.start();
    else
        m_gap.stop();
}

void Simulator::serve(const QList<QByteArray> &requests)
{
    for (const QByteArray &request : requests) {
        QString note;
        const QByteArray reply = m_device.answer(request, note);
        log(note);
        if (!reply.isEmpty()) {
            log(QStringLiteral("out %1").arg(QString::fromLatin1(reply.toHex(' '))));
            m_port.write(reply);
        }
    }
}

void Simulator::storeChanged()
{
    if (m_stateFile.isEmpty())
        return;
    QString error;
    if (!writeDump(m_stateFile, error))
        std::fprintf(stderr, "devsim: %s\n", qPrintable(error));
}

QString Simulator::dump() const
{
    QStringList lines;
    lines << QStringLiteral("# store capacity=%1 first=%2 used=%3")
                 .arg(m_store.capacity())
                 .arg(m_store.firstSlot())
                 .arg(m_store.used());
    for (const auto &[slot, sms] : m_store.messages())
        lines << MessageToLine(slot, sms);
    for (const SentSms &sent : m_modem.sent()) {
        lines << QStringLiteral("# sent reference=%1 number=%2 alphabet=%3 text=%4")
                     .arg(sent.reference)
                     .arg(QuoteValue(sent.number),
                          sent.alphabet == SmsAlphabet::Ucs2 ? QStringLiteral("ucs2")
                                                             : QStringLiteral("gsm"),
                          QuoteValue(sent.text));
    }
    lines << QStringLiteral("# end");
    return lines.join(u'\n') + u'\n';
}

bool Simulator::writeDump(const QString &path, QString &error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(dump().toUtf8()) < 0 || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool Simulator::deliver(const QString &line, QString &answer)
{
    QList<Word> words;
    StoredSms sms;
    int slot = -1;
    if (!ParseWords(line, words, answer) || !MessageFromWords(words, sms, slot, answer))
        return false;
    if (slot < 0) {
        slot = m_store.firstFree();
        if (slot < 0) {
            answer = QStringLiteral("the store is full (%1 slots)").arg(m_store.capacity());
            return false;
        }
    } else if (!m_store.inRange(slot)) {
        answer = QStringLiteral("slot %1 is outside %2..%3")
                     .arg(slot)
                     .arg(m_store.firstSlot())
                     .arg(m_store.lastSlot());
        return false;
    }
    m_store.put(slot, sms);
    answer = QStringLiteral("delivered to slot %1").arg(slot);
    storeChanged();
    return true;
}

QString Simulator::faultSummary() const
{
    const DeviceFaults &f = m_device.faults();
    const ModemSettings &m = m_modem.settings();
    return QStringLiteral("latency=%1 typerate=%2 baud=%3 badcrc=%4 drop=%5 truncate=%6 "
                          "exception=%7 exception-share=%8 exception-scope=%9 pin=%10 silent=%11 "
                          "storages=%12 cmee=%13")
        .arg(m.latencyMs)
        .arg(m.charsPerSecond)
        .arg(m_port.baud())
        .arg(f.badCrcPercent)
        .arg(f.dropPercent)
        .arg(f.truncatePercent)
        .arg(f.exceptionCode)
        .arg(f.exceptionPercent)
        .arg(f.exceptionAllFunctions ? QStringLiteral("all") : QStringLiteral("at"))
        .arg(m.pinWait ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(f.silent ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(m.storages)
        .arg(m.cmee);
}

QString Simulator::execute(const QString &line)
{
    QList<Word> words;
    QString error;
    if (!ParseWords(line, words, error))
        return Error(error);
    if (words.isEmpty())
        return Ok();
    const QString command = words[0].key.isEmpty() ? words[0].value.toLower() : QString();
    const QStringList args = [&] {
        QStringList a;
        for (qsizetype i = 1; i < words.size(); ++i)
            a << (words[i].key.isEmpty() ? words[i].value : words[i].key + u'=' + words[i].value);
        return a;
    }();
    const QString arg = args.value(0).toLower();
    int value = 0;
    DeviceFaults &faults = m_device.faults();
    ModemSettings &modem = m_modem.settings();

    auto percent = [&](int &target) {
        if (args.size() != 1 || !ToNumber(args[0], 0, 100, value))
            return Error(command + QStringLiteral(" takes a share from 0 to 100 (percent)"));
        target = value;
        return Ok();
    };
    auto onOff = [&](bool &target) {
        if (args.size() != 1 || (arg != u"on" && arg != u"off"))
            return Error(command + QStringLiteral(" takes on or off"));
        target = arg == u"on";
        return Ok();
    };

    if (command == u"deliver") {
        QString answer;
        const QString rest = line.trimmed().mid(command.size());
        return deliver(rest, answer) ? Ok(answer) : Error(answer);
    }
    if (command == u"delete") {
        if (arg == u"all" && args.size() == 1) {
            m_store.clear();
            storeChanged();
            return Ok(QStringLiteral("store emptied"));
        }
        if (args.size() != 1 || !ToNumber(args[0], 0, 1 << 30, value))
            return Error(QStringLiteral("delete takes a slot number or all"));
        if (!m_store.remove(value))
            return Error(QStringLiteral("slot %1 is empty").arg(value));
        storeChanged();
        return Ok(QStringLiteral("slot %1 deleted").arg(value));
    }
    if (command == u"dump") {
        if (args.isEmpty())
            return dump();
        if (!writeDump(args[0], error))
            return Error(error);
        return Ok(QStringLiteral("dumped to %1").arg(args[0]));
    }
    if (command == u"latency") {
        if (args.size() != 1 || !ToNumber(args[0], 0, 600000, value))
            return Error(QStringLiteral("latency takes milliseconds"));
        modem.latencyMs = value;
        return Ok();
    }
    if (command == u"typerate") {
        if (args.size() != 1 || !ToNumber(args[0], 0, 10000000, value))
            return Error(QStringLiteral("typerate takes characters per second (0: at once)"));
        modem.charsPerSecond = value;
        return Ok();
    }
    if (command == u"baud") {
        if (arg == u"off")
            value = 0;
        else if (arg == u"on")
            value = 9600; // the device's own line speed
        else if (args.size() != 1 || !ToNumber(args[0], 50, 4000000, value))
            return Error(QStringLiteral("baud takes a rate such as 4800, on (9600) or off"));
        m_port.setBaud(value);
        return Ok();
    }
    if (command == u"badcrc")
        return percent(faults.badCrcPercent);
    if (command == u"drop")
        return percent(faults.dropPercent);
    if (command == u"truncate")
        return percent(faults.truncatePercent);
    if (command == u"exception") {
        if (arg == u"off" && args.size() == 1) {
            faults.exceptionCode = 0;
            return Ok();
        }
        int share = 100;
        bool all = false;
        if (args.isEmpty() || !ToNumber(args[0], 1, 255, value) || args.size() > 3 ||
            (args.size() >= 2 && !ToNumber(args[1], 0, 100, share)) ||
            (args.size() == 3 && args[2].toLower() != u"all" && args[2].toLower() != u"at"))
            return Error(QStringLiteral("exception takes CODE [PERCENT] [at|all], or off"));
        all = args.size() == 3 && args[2].toLower() == u"all";
        faults.exceptionCode = value;
        faults.exceptionPercent = share;
        faults.exceptionAllFunctions = all;
        return Ok();
    }
    if (command == u"busy") {
        int slot = 0;
        int code = 314;
        if (args.size() < 2 || args.size() > 3 || !ToNumber(args[0], 0, 1 << 30, slot) ||
            !ToNumber(args[1], 0, 1 << 30, value) ||
            (args.size() == 3 && !ToNumber(args[2], 1, 999, code)))
            return Error(QStringLiteral("busy takes SLOT READS [CODE]"));
        m_modem.setBusy(slot, value, code);
        return Ok(QStringLiteral("slot %1 busy for %2 reads (+CMS ERROR: %3)")
                      .arg(slot)
                      .arg(value)
                      .arg(code));
    }
    if (command == u"pin")
        return onOff(modem.pinWait);
    if (command == u"silent") {
        if (args.size() == 1 && ToNumber(args[0], 1, 3600, value)) {
            faults.silent = true;
            m_silentEnd.start(value * 1000);
            return Ok(QStringLiteral("silent for %1 s").arg(value));
        }
        m_silentEnd.stop();
        return onOff(faults.silent);
    }
    if (command == u"storages") {
        if (args.size() != 1 || !ToNumber(args[0], 2, 3, value))
            return Error(QStringLiteral("storages takes 2 or 3"));
        modem.storages = value;
        return Ok();
    }
    if (command == u"cmee") {
        if (args.size() != 1 || !ToNumber(args[0], 0, 2, value))
            return Error(QStringLiteral("cmee takes 0, 1 or 2"));
        modem.cmee = value;
        return Ok();
    }
    if (command == u"faults")
        return Ok(faultSummary());
    if (command == u"help")
        return CommandHelp();
    if (command == u"quit") {
        emit quitRequested();
        return Ok(QStringLiteral("bye"));
    }
    return Error(QStringLiteral("unknown command %1 (try help)").arg(line.trimmed()));
}

QString Simulator::CommandHelp()
{
    return QStringLiteral(
        "Control commands, one per line:\n"
        "  deliver number=N text=T [name=S] [alphabet=auto|gsm|ucs2]\n"
        "          [time=yy/MM/dd,hh:mm:ss+zz] [status=unread|read|unsent|sent] [slot=N]\n"
        "                      store a message (first free slot unless slot= is given)\n"
        "  delete SLOT | delete all\n"
        "                      empty one slot or the whole store\n"
        "  dump [FILE]         the store as message lines (to FILE when given)\n"
        "  latency MS          silence before the modem starts an answer\n"
        "  typerate CPS        characters the modem types per second (0: at once)\n"
        "  baud N|on|off       pace answers like a serial line at N baud (on: 9600)\n"
        "  badcrc PCT          share of answers sent with a wrong CRC\n"
        "  drop PCT            share of answers never sent\n"
        "  truncate PCT        share of answers cut short\n"
        "  exception CODE [PCT] [at|all] | exception off\n"
        "                      answer pass-through (at) or all requests with an exception\n"
        "  busy SLOT READS [CODE]\n"
        "                      the next READS reads of SLOT answer +CMS ERROR: CODE (314)\n"
        "  pin on|off          the SIM waits for its PIN\n"
        "  silent on|off|SECONDS\n"
        "                      the device stops answering (for SECONDS, then comes back)\n"
        "  storages 2|3        storages listed by AT+CPMS?\n"
        "  cmee 0|1|2          the modem's error report mode\n"
        "  faults              show the fault settings\n"
        "  help                this text\n"
        "  quit                end the simulator\n"
        "Values with blanks go in double quotes; \\n \\r \\t \\\" \\\\ \\xHH \\uHHHH escape.\n");
}

} // namespace devsim
