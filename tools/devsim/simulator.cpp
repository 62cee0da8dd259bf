#include "simulator.h"

#include "control.h"
#include "messageline.h"
#include "userdata.h"

#include <QSaveFile>
#include <cstdio>

namespace devsim {

namespace {

const QStringList kLengths{"characters", "septets", "longer", "shorter"};
const QStringList kHeaders{"detailed", "short", "refused"};
const QStringList kStamps{"standard", "four-digit-year", "blank"};
const QStringList kSpacings{"standard", "wide", "tight"};
const QStringList kPrefixes{"skip", "strict"};

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
    m_modem.onSent = [this](const SentSms &sent) {
        if (m_loopbackMs >= 0)
            QTimer::singleShot(m_loopbackMs, this, [this, sent] { loopBack(sent); });
    };
    m_gap.setSingleShot(true);
    m_gap.setInterval(50);
    connect(&m_gap, &QTimer::timeout, this, [this] { serve(m_assembler.gap()); });
    m_silentEnd.setSingleShot(true);
    connect(&m_silentEnd, &QTimer::timeout, this, [this] {
        m_device.faults().silent = false;
        log(QStringLiteral("silence over"));
    });
    connect(&m_port, &PtyPort::received, this, &Simulator::onReceived);
    m_typing.setInterval(5);
    connect(&m_typing, &QTimer::timeout, this, &Simulator::pumpTyped);
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
    if (m_direct) {
        if (m_device.faults().silent)
            return;
        m_modem.input(bytes);
        pumpTyped();
        return;
    }
    serve(m_assembler.feed(bytes));
    if (m_assembler.pending())
        m_gap.start();
    else
        m_gap.stop();
}

void Simulator::pumpTyped()
{
    if (!m_direct)
        return;
    if (m_modem.answerNumber() != m_pumpedAnswer) {
        m_pumpedAnswer = m_modem.answerNumber();
        m_pumped = 0;
    }
    const QByteArray typed = m_modem.typedOutput();
    if (typed.size() > m_pumped && !m_device.faults().silent) {
        log(QStringLiteral("out %1").arg(QString::fromLatin1(typed.mid(m_pumped).toHex(' '))));
        m_port.write(typed.mid(m_pumped));
        m_pumped = typed.size();
    }
    if (m_pumped < m_modem.answerBytes())
        m_typing.start();
    else
        m_typing.stop();
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
    if (!ParseWords(line, words, answer))
        return false;
    QList<Word> partWords;
    for (qsizetype i = words.size() - 1; i >= 0; --i) {
        const QString &key = words[i].key;
        if (key == u"parts" || key == u"ref" || key == u"refbits" || key == u"slots")
            partWords.prepend(words.takeAt(i));
    }
    if (!MessageFromWords(words, sms, slot, answer))
        return false;
    if (!partWords.isEmpty()) {
        if (slot >= 0) {
            answer = QStringLiteral("the parts take slots=, not slot=");
            return false;
        }
        return storeParts(sms, partWords, answer);
    }
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
    m_modem.delivered(slot);
    pumpTyped();
    storeChanged();
    return true;
}

bool Simulator::storeParts(const StoredSms &whole, const QList<Word> &partWords, QString &answer)
{
    int parts = 0;
    int reference = 0;
    int bits = 8;
    QStringList slotList;
    for (const Word &w : partWords) {
        bool ok = true;
        if (w.key == u"parts")
            ok = ToNumber(w.value, 2, 255, parts);
        else if (w.key == u"ref")
            ok = ToNumber(w.value, 0, 0xFFFF, reference);
        else if (w.key == u"refbits")
            ok = (w.value == u"8" || w.value == u"16") && ToNumber(w.value, 8, 16, bits);
        else
            slotList = w.value.split(u',');
        if (!ok) {
            answer = QStringLiteral("%1=%2 is not allowed").arg(w.key, w.value);
            return false;
        }
    }
    if (parts == 0) {
        answer = QStringLiteral("ref=, refbits= and slots= go with parts=N");
        return false;
    }
    QList<StoredSms> pieces;
    if (!SplitIntoParts(whole, parts, reference, bits == 16, pieces, answer))
        return false;
    if (!slotList.isEmpty() && slotList.size() != parts) {
        answer =
            QStringLiteral("slots= names %1 slots for %2 parts").arg(slotList.size()).arg(parts);
        return false;
    }
    // Every slot is checked before anything is stored.
    QList<int> targets;
    for (int i = 0; i < parts; ++i) {
        int target = -1;
        if (slotList.isEmpty()) {
            for (int s = m_store.firstSlot(); s <= m_store.lastSlot() && target < 0; ++s) {
                if (!m_store.at(s) && !targets.contains(s))
                    target = s;
            }
            if (target < 0) {
                answer = QStringLiteral("the store has no room for %1 parts").arg(parts);
                return false;
            }
        } else if (slotList[i] != u"-" && (!ToNumber(slotList[i], 0, 1 << 30, target) ||
                                           !m_store.inRange(target) || targets.contains(target))) {
            answer = QStringLiteral("slot %1 is not a free choice in %2..%3")
                         .arg(slotList[i])
                         .arg(m_store.firstSlot())
                         .arg(m_store.lastSlot());
            return false;
        }
        targets << target;
    }
    QStringList placed;
    for (int i = 0; i < parts; ++i) {
        if (targets[i] < 0)
            continue;
        m_store.put(targets[i], pieces[i]);
        m_modem.delivered(targets[i]);
        placed << QStringLiteral("%1:%2").arg(i + 1).arg(targets[i]);
    }
    pumpTyped();
    storeChanged();
    answer = QStringLiteral("delivered parts %1").arg(placed.join(u' '));
    return true;
}

QString Simulator::faultSummary() const
{
    const DeviceFaults &f = m_device.faults();
    const ModemSettings &m = m_modem.settings();
    return QStringLiteral("latency=%1 typerate=%2 baud=%3 badcrc=%4 drop=%5 truncate=%6 "
                          "exception=%7 exception-share=%8 exception-scope=%9 pin=%10 silent=%11 "
                          "storages=%12 cmee=%13 lengths=%14 urc-answers=%15 urc-delivery=%16 "
                          "direct=%17")
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
               .arg(m.cmee)
               .arg(kLengths.at(m.lengthSkew > 0   ? 2
                                : m.lengthSkew < 0 ? 3
                                                   : (m.septetLengths ? 1 : 0)))
               .arg(QStringList{"off", "before", "after", "around", "inside"}.at(
                   int(m_modem.volunteering())))
               .arg(m_modem.indicatesDeliveries() ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(m_direct ? QStringLiteral("on") : QStringLiteral("off")) +
           QStringLiteral(" headers=%1 stamps=%2 spacing=%3 cpms-ok=%4 memories=%5 prefix=%6")
               .arg(kHeaders.at(int(m.headers)), kStamps.at(int(m.stamps)),
                    kSpacings.at(int(m.spacing)),
                    m.storageQueryOK ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(m.memories)
               .arg(kPrefixes.at(m.strictPrefix ? 1 : 0));
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

    if (const QString answer = executeNetwork(command, args); !answer.isEmpty())
        return answer;
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
    if (command == u"sendfail") {
        if (args.size() != 1 || !ToNumber(args[0], 0, 1000, value))
            return Error(QStringLiteral("sendfail takes TEXTS"));
        m_modem.setSendFailures(value);
        return Ok();
    }
    if (command == u"reset") {
        m_modem.factoryReset();
        return Ok(QStringLiteral("the modem restarted with its factory profile"));
    }
    if (command == u"urc") {
        const QString what = args.value(1).toLower();
        if (arg == u"delivery" && args.size() == 2 && (what == u"on" || what == u"off")) {
            m_modem.setIndicateDeliveries(what == u"on");
            return Ok();
        }
        static const QStringList places{"off", "before", "after", "around", "inside"};
        if (arg == u"answers" && args.size() == 2 && places.contains(what)) {
            m_modem.setVolunteering(Volunteering(places.indexOf(what)));
            return Ok();
        }
        if (arg == u"say" && args.size() == 2) {
            m_modem.volunteer(args[1]);
            pumpTyped();
            return Ok();
        }
        return Error(QStringLiteral(
            "urc takes delivery on|off, answers off|before|after|around|inside, or say TEXT"));
    }
    // One of a few named ways; the index in `names` is the setting.
    auto choose = [&](const QStringList &names, auto &target) {
        if (args.size() != 1 || !names.contains(arg))
            return Error(command + QStringLiteral(" takes ") + names.join(u'|'));
        target = std::remove_reference_t<decltype(target)>(names.indexOf(arg));
        return Ok();
    };
    if (command == u"lengths") {
        int way = 0;
        const QString answer = choose(kLengths, way);
        if (answer == Ok()) {
            modem.septetLengths = way == 1;
            modem.lengthSkew = way == 2 ? 1 : way == 3 ? -1 : 0;
        }
        return answer;
    }
    if (command == u"headers")
        return choose(kHeaders, modem.headers);
    if (command == u"stamps")
        return choose(kStamps, modem.stamps);
    if (command == u"spacing")
        return choose(kSpacings, modem.spacing);
    if (command == u"prefix")
        return choose(kPrefixes, modem.strictPrefix);
    if (command == u"cpms-ok")
        return onOff(modem.storageQueryOK);
    if (command == u"memories") {
        if (args.size() != 1 || !ToNumber(args[0], 1, 3, value))
            return Error(QStringLiteral("memories takes 1, 2 or 3"));
        modem.memories = value;
        return Ok();
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
    if (command == u"counts")
        return Ok(QStringLiteral("commands=%1").arg(m_modem.answerNumber()));
    if (command == u"help")
        return CommandHelp();
    if (command == u"quit") {
        emit quitRequested();
        return Ok(QStringLiteral("bye"));
    }
    return Error(QStringLiteral("unknown command %1 (try help)").arg(line.trimmed()));
}

void Simulator::loopBack(const SentSms &sent)
{
    // The network holds a message while the modem is not registered or its
    // store is full, and tries again.
    const int slot = m_store.firstFree();
    if (slot < 0 || !m_modem.registered()) {
        QTimer::singleShot(500, this, [this, sent] { loopBack(sent); });
        return;
    }
    StoredSms sms;
    sms.number = sent.number;
    sms.alphabet = sent.alphabet;
    sms.text = sent.text;
    sms.timeStamp = CurrentTimeStamp();
    m_store.put(slot, sms);
    log(QStringLiteral("sent message %1 back in slot %2").arg(sent.reference).arg(slot));
    m_modem.delivered(slot);
    pumpTyped();
    storeChanged();
}

QString Simulator::executeNetwork(const QString &command, const QStringList &args)
{
    ModemSettings &modem = m_modem.settings();
    const QString arg = args.value(0).toLower();
    int value = 0;
    if (command == u"registration") {
        if (args.size() == 1 && arg == u"unsupported") {
            modem.knowsRegistration = false;
            return Ok();
        }
        if (args.size() != 1 || !ToNumber(args[0], 0, 11, value))
            return Error(QStringLiteral("registration takes a state 0..11 (1 home, 2 searching, "
                                        "5 roaming) or unsupported"));
        modem.knowsRegistration = true;
        modem.registration = value;
        return Ok();
    }
    if (command == u"signal") {
        if (args.size() == 1 && arg == u"unsupported") {
            modem.knowsSignal = false;
            return Ok();
        }
        if (args.size() != 1 || !ToNumber(args[0], 0, 199, value) ||
            (value > 31 && value != 99 && value < 100))
            return Error(QStringLiteral("signal takes an rssi 0..31 (-113 to -51 dBm), 99 (not "
                                        "known), 100..191, 199, or unsupported"));
        modem.knowsSignal = true;
        modem.rssi = value;
        return Ok();
    }
    if (command == u"deletes") {
        if (args.size() == 1 && arg == u"accept") {
            modem.deleteRefusal = 0;
            return Ok();
        }
        value = 320;
        if (arg != u"refuse" || args.size() > 2 ||
            (args.size() == 2 && !ToNumber(args[1], 1, 999, value)))
            return Error(QStringLiteral("deletes takes accept, or refuse [CODE] (320)"));
        modem.deleteRefusal = value;
        return Ok(QStringLiteral("AT+CMGD answers +CMS ERROR: %1").arg(value));
    }
    if (command == u"loopback") {
        if (args.size() == 1 && (arg == u"off" || arg == u"never")) {
            m_loopbackMs = -1;
            return Ok();
        }
        if (args.size() != 1 || !ToNumber(args[0], 0, 86400000, value))
            return Error(QStringLiteral("loopback takes milliseconds, or off"));
        m_loopbackMs = value;
        return Ok(QStringLiteral("sent messages come back after %1 ms").arg(value));
    }
    if (command == u"restarts")
        return Ok(QStringLiteral("restarts=%1").arg(m_modem.restarts()));
    return QString();
}

QString Simulator::CommandHelp()
{
    return QStringLiteral(
        "Control commands, one per line:\n"
        "  deliver number=N text=T|data=HEX [name=S] [alphabet=auto|gsm|ucs2|8bit]\n"
        "          [dcs=N] [udh=HEX] [time=yy/MM/dd,hh:mm:ss+zz]\n"
        "          [status=unread|read|unsent|sent] [slot=N]\n"
        "          [parts=N [ref=R] [refbits=8|16] [slots=S1,S2,..|-]]\n"
        "                      store a message (first free slot unless slot= is given);\n"
        "                      dcs= shows another coding scheme (0x10 flash, 0x11, 0xF1,\n"
        "                      0x18 ...); parts= cuts it into a concatenated message, part i\n"
        "                      into slot Si (- leaves it out); a number that is no telephone\n"
        "                      number is an alphanumeric sender\n"
        "  deliver number=N kind=report [mr=N] [st=N] [time=...] [discharge=...] [slot=N]\n"
        "                      a status report about a message sent to N\n"
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
        "  sendfail TEXTS      the next TEXTS messages sent are refused (+CMS ERROR: 500)\n"
        "  reset               the modem restarts with its factory profile (echo on,\n"
        "                      PDU mode, short headers, no error codes)\n"
        "  urc delivery on|off +CMTI for every message delivered\n"
        "  urc answers off|before|after|around|inside\n"
        "                      volunteered lines (+CREG, ^RSSI, RING ...) around every\n"
        "                      answer, or inside AT+CPMS? answers\n"
        "  urc say TEXT        the modem volunteers TEXT now\n"
        "  lengths characters|septets|longer|shorter\n"
        "                      what the length field of a GSM text counts (longer and\n"
        "                      shorter: characters, miscounted by one)\n"
        "  headers detailed|short|refused\n"
        "                      AT+CSDH=1 taken; taken but short headers all the same;\n"
        "                      answered ERROR\n"
        "  stamps standard|four-digit-year|blank\n"
        "                      time stamps as yy/MM/dd,hh:mm:ss+zz; yyyy/M/d,hh:mm:ss;\n"
        "                      yyyy/MM/dd hh:mm:ss+zz\n"
        "  spacing standard|wide|tight\n"
        "                      +CMGR headers as written; a blank after every comma; no\n"
        "                      blank after the colon\n"
        "  cpms-ok on|off      AT+CPMS? ends with OK, or with its line alone\n"
        "  memories 1|2|3      memories AT+CPMS= takes (more get ERROR)\n"
        "  prefix skip|strict  whether the modem looks past what comes before AT\n"
        "  pin on|off          the SIM waits for its PIN\n"
        "  silent on|off|SECONDS\n"
        "                      the device stops answering (for SECONDS, then comes back)\n"
        "  storages 2|3        storages listed by AT+CPMS?\n"
        "  cmee 0|1|2          the modem's error report mode\n"
        "  registration STAT|unsupported\n"
        "                      the network state AT+CREG? reports (0 not registered,\n"
        "                      1 home, 2 searching, 3 denied, 5 roaming); no AT+CREG at all\n"
        "  signal RSSI|unsupported\n"
        "                      what AT+CSQ reports (0..31: -113 to -51 dBm, 99 not known)\n"
        "  deletes accept|refuse [CODE]\n"
        "                      AT+CMGD deletes, or answers +CMS ERROR: CODE (320)\n"
        "  loopback MS|off     messages sent with AT+CMGS come back into the store after MS\n"
        "                      (held while not registered), or never (a hung path)\n"
        "  restarts            how often AT+CFUN=..,1 restarted the modem\n"
        "  faults              show the fault settings\n"
        "  counts              AT commands the modem has answered so far\n"
        "  help                this text\n"
        "  quit                end the simulator\n"
        "Values with blanks go in double quotes; \\n \\r \\t \\\" \\\\ \\xHH \\uHHHH escape.\n");
}

} // namespace devsim
