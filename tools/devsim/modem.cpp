#include "modem.h"

#include "gsmtext.h"
#include "userdata.h"

#include <QRegularExpression>

namespace devsim {

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;

QString CmsText(int code)
{
    switch (code) {
    case 302:
        return QStringLiteral("operation not allowed");
    case 303:
        return QStringLiteral("operation not supported");
    case 304:
        return QStringLiteral("invalid text mode parameter");
    case 311:
        return QStringLiteral("SIM PIN required");
    case 314:
        return QStringLiteral("SIM busy");
    case 320:
        return QStringLiteral("memory failure");
    case 321:
        return QStringLiteral("invalid memory index");
    case 331:
        return QStringLiteral("no network service");
    case 515:
        return QStringLiteral("please wait, init or command processing in progress");
    default:
        return QStringLiteral("unknown error");
    }
}

QString CmeText(int code)
{
    switch (code) {
    case 3:
        return QStringLiteral("operation not allowed");
    case 4:
        return QStringLiteral("operation not supported");
    case 16:
        return QStringLiteral("incorrect password");
    default:
        return QStringLiteral("unknown");
    }
}

QString Quoted(const QString &text)
{
    return u'"' + text + u'"';
}

// A time stamp kept as "yy/MM/dd,hh:mm:ss+zz", as the modem spells it.
QString Spelled(const QString &stamp, Stamps how)
{
    if (how == Stamps::Standard || stamp.size() != 20)
        return stamp;
    const QString year = QStringLiteral("20") + stamp.left(2);
    if (how == Stamps::FourDigitYear)
        return year + u'/' + QString::number(stamp.mid(3, 2).toInt()) + u'/' +
               QString::number(stamp.mid(6, 2).toInt()) + u',' + stamp.mid(9, 8);
    return year + stamp.mid(2, 6) + u' ' + stamp.mid(9);
}

bool IsStorageName(const QString &name)
{
    const QString n = name.toUpper();
    return n == u"SM" || n == u"ME" || n == u"MT";
}

} // namespace

QStringList SplitArguments(const QString &text)
{
    QStringList args;
    if (text.isEmpty())
        return args;
    QString current;
    bool quoted = false;
    for (QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (c == u',' && !quoted) {
            args.append(current);
            current.clear();
        } else
            current += c;
    }
    args.append(current);
    return args;
}

Modem::Modem(SimStore &store, Clock clock) : m_store(store), m_clock(std::move(clock)) {}

void Modem::input(const QByteArray &bytes)
{
    m_answerStarted = false;
    for (const char b : bytes) {
        if (m_enteringText) {
            if (b == kCtrlZ || b == kEscape)
                finishMessage(b == kCtrlZ);
            else
                m_messageBytes += b;
            continue;
        }
        if (b == '\r') {
            const QString line = QString::fromUtf8(m_line).trimmed();
            m_line.clear();
            if (!line.isEmpty())
                execute(line);
        } else if (b == kEscape || b == kCtrlZ) {
            // A stray terminator (the second Ctrl-Z after a message, the ESC
            // that abandons one) cancels a half-typed line, as on a terminal.
            m_line.clear();
        } else if (b != '\n') {
            m_line += b;
        }
    }
}

QByteArray Modem::typedOutput() const
{
    if (m_settings.charsPerSecond <= 0 && m_settings.latencyMs <= 0)
        return m_answerGsm;
    const qint64 typing = m_clock() - m_answerStart - m_settings.latencyMs;
    if (typing < 0)
        return {};
    if (m_settings.charsPerSecond <= 0)
        return m_answerGsm;
    const qint64 count = typing * m_settings.charsPerSecond / 1000;
    return m_answerGsm.left(qsizetype(qMin<qint64>(count, m_answerGsm.size())));
}

void Modem::startAnswer()
{
    if (m_answerStarted)
        return;
    m_answerStarted = true;
    m_answer.clear();
    m_answerGsm.clear();
    m_answerStart = m_clock();
    ++m_answerNumber;
}

void Modem::cmsError(int code)
{
    if (m_settings.cmee == 1)
        info(QStringLiteral("+CMS ERROR: %1").arg(code));
    else if (m_settings.cmee == 2)
        info(QStringLiteral("+CMS ERROR: ") + CmsText(code));
    else
        error();
}

void Modem::cmeError(int code)
{
    if (m_settings.cmee == 1)
        info(QStringLiteral("+CME ERROR: %1").arg(code));
    else if (m_settings.cmee == 2)
        info(QStringLiteral("+CME ERROR: ") + CmeText(code));
    else
        error();
}

void Modem::storeChanged()
{
    if (onStoreChanged)
        onStoreChanged();
}

void Modem::execute(const QString &received)
{
    if (m_restartPending) {
        // Restarted since the last answer: the factory profile again.
        m_restartPending = false;
        m_echo = true;
        m_cmgf = 0;
        m_csdh = 0;
        m_settings.cmee = 0;
    }
    startAnswer();
    if (m_echo)
        reply(received + u'\r');
    const qsizetype answerStart = m_answer.size();
    // Whatever came before the "AT" prefix (noise, a frame meant for a
    // device) is passed by, as most modems look for the prefix; a strict one
    // answers such a line with ERROR.
    const qsizetype prefix = received.indexOf(QLatin1String("AT"), 0, Qt::CaseInsensitive);
    const QString line = prefix < 0 ? received : received.mid(prefix);
    if (prefix < 0 || (prefix > 0 && m_settings.strictPrefix)) {
        error();
    } else {
        const QString body = line.mid(2);
        const QString upper = body.toUpper();
        if (body.isEmpty()) {
            ok();
        } else if (upper == u"E0" || upper == u"E1") {
            m_echo = upper == u"E1";
            ok();
        } else if (upper == u"Z") {
            m_echo = false;
            m_settings.cmee = 0;
            ok();
        } else if (upper == u"I") {
            info(QStringLiteral("Quillet device simulator"));
            ok();
        } else if (upper.startsWith(u'+')) {
            // +NAME, +NAME?, +NAME=?, +NAME=args
            qsizetype end = 1;
            while (end < upper.size() && upper.at(end).isLetter())
                ++end;
            const QString name = upper.mid(1, end - 1);
            const QString rest = body.mid(end);
            Form form = Form::Run;
            QStringList args;
            if (rest == u"?")
                form = Form::Query;
            else if (rest == u"=?")
                form = Form::Test;
            else if (rest.startsWith(u'=')) {
                form = Form::Set;
                args = SplitArguments(rest.mid(1));
            } else if (!rest.isEmpty())
                form = Form::Malformed;
            executeExtended(name, form, args);
        } else {
            error();
        }
    }
    volunteerAround(answerStart, line.compare(QLatin1String("AT+CPMS?"), Qt::CaseInsensitive) == 0);
    m_answerGsm = ToGsm(m_answer);
}

QString Modem::nextVolunteered()
{
    // The codes modems send on their own, in turn.
    const QStringList codes{QStringLiteral("+CREG: 1"),       QStringLiteral("^RSSI: 17"),
                            QStringLiteral("RING"),           QStringLiteral("+CSQ: 20,99"),
                            QStringLiteral("^MODE: 5,4"),     QStringLiteral("+CDSI: \"SM\",2"),
                            QStringLiteral("^BOOT: 1,0,0,4"), QStringLiteral("+CMTI: \"SM\",1")};
    return codes.at(m_volunteered++ % codes.size());
}

void Modem::volunteerAround(qsizetype answerStart, bool storageQuery)
{
    const Volunteering v = m_volunteering;
    auto line = [this] {
        return QStringLiteral("\r\n") + nextVolunteered() + QStringLiteral("\r\n");
    };
    if (v == Volunteering::Inside) {
        const qsizetype final = m_answer.lastIndexOf(QLatin1String("\r\nOK\r\n"));
        if (storageQuery && final > answerStart)
            m_answer.insert(final, line());
        return;
    }
    if (v == Volunteering::Before || v == Volunteering::Around)
        m_answer.insert(answerStart, line());
    if (v == Volunteering::After || v == Volunteering::Around)
        m_answer += line();
}

void Modem::volunteer(const QString &line)
{
    m_answer += QStringLiteral("\r\n") + line + QStringLiteral("\r\n");
    m_answerGsm = ToGsm(m_answer);
}

void Modem::delivered(int slot)
{
    if (m_indicateDeliveries)
        volunteer(QStringLiteral("+CMTI: \"SM\",%1").arg(slot));
}

void Modem::factoryReset()
{
    m_echo = true;
    m_cmgf = 0;
    m_csdh = 0;
    m_settings.cmee = 0;
    m_line.clear();
    m_enteringText = false;
    m_answer.clear();
    m_answerGsm.clear();
    ++m_answerNumber;
}

void Modem::executeExtended(const QString &name, Form form, const QStringList &args)
{
    const bool smsCommand =
        name == u"CPMS" || name == u"CMGR" || name == u"CMGD" || name == u"CMGS" || name == u"CMGL";
    if (smsCommand && m_settings.pinWait && form != Form::Test) {
        cmsError(311);
        return;
    }
    if (form != Form::Malformed && executeNetwork(name, form, args))
        return;
    if (form == Form::Malformed) {
        error();
    } else if (name == u"CMEE") {
        if (form == Form::Query) {
            info(QStringLiteral("+CMEE: %1").arg(m_settings.cmee));
            ok();
        } else if (form == Form::Set && args.size() == 1 &&
                   QStringList{"0", "1", "2"}.contains(args[0])) {
            m_settings.cmee = args[0].toInt();
            ok();
        } else {
            error();
        }
    } else if (name == u"CPIN") {
        if (form == Form::Query) {
            info(m_settings.pinWait ? QStringLiteral("+CPIN: SIM PIN")
                                    : QStringLiteral("+CPIN: READY"));
            ok();
        } else if (form == Form::Set && !args.isEmpty()) {
            if (!m_settings.pinWait)
                cmeError(3);
            else if (args[0] != m_settings.pin)
                cmeError(16);
            else {
                m_settings.pinWait = false;
                ok();
            }
        } else {
            error();
        }
    } else if (name == u"CPMS") {
        selectStorage(form, args);
    } else if (name == u"CMGF") {
        if (form == Form::Query) {
            info(QStringLiteral("+CMGF: %1").arg(m_cmgf));
            ok();
        } else if (form == Form::Set && args.size() == 1 && (args[0] == u"0" || args[0] == u"1")) {
            m_cmgf = args[0].toInt();
            ok();
        } else {
            cmsError(303);
        }
    } else if (name == u"CSCS") {
        // Texts go out in the GSM alphabet; that is the one character set played.
        if (form == Form::Query) {
            info(QStringLiteral("+CSCS: \"GSM\""));
            ok();
        } else if (form == Form::Set && args == QStringList{QStringLiteral("GSM")}) {
            ok();
        } else {
            cmeError(4);
        }
    } else if (name == u"CSDH") {
        if (form == Form::Query) {
            info(QStringLiteral("+CSDH: %1").arg(m_csdh));
            ok();
        } else if (form == Form::Set && args.size() == 1 && (args[0] == u"0" || args[0] == u"1") &&
                   !(args[0] == u"1" && m_settings.headers == Headers::Refused)) {
            m_csdh = args[0].toInt();
            ok();
        } else {
            error();
        }
    } else if (name == u"CSMP") {
        if (form == Form::Query) {
            info(QStringLiteral("+CSMP: %1,%2,%3,%4")
                     .arg(m_csmp[0])
                     .arg(m_csmp[1])
                     .arg(m_csmp[2])
                     .arg(m_csmp[3]));
            ok();
        } else if (form == Form::Set && !args.isEmpty() && args.size() <= 4) {
            int values[4] = {m_csmp[0], m_csmp[1], m_csmp[2], m_csmp[3]};
            for (int i = 0; i < args.size(); ++i) {
                bool numeric = false;
                values[i] = args[i].toInt(&numeric);
                if (!numeric || values[i] < 0 || values[i] > 255) {
                    cmsError(304);
                    return;
                }
            }
            std::copy(std::begin(values), std::end(values), std::begin(m_csmp));
            ok();
        } else {
            error();
        }
    } else if (name == u"CMGR") {
        readMessage(args);
    } else if (name == u"CMGD") {
        deleteMessages(args);
    } else if (name == u"CMGS") {
        if (form != Form::Set || args.isEmpty() || args[0].isEmpty()) {
            cmsError(304);
            return;
        }
        m_destination = args[0];
        m_messageBytes.clear();
        m_enteringText = true;
        reply(QStringLiteral("\r\n> "));
    } else {
        error();
    }
}

void Modem::selectStorage(Form form, const QStringList &args)
{
    const int storages = m_settings.storages == 2 ? 2 : 3;
    const int used = m_store.used();
    const int total = m_store.capacity();
    if (form == Form::Query) {
        QStringList parts;
        for (int i = 0; i < storages; ++i)
            parts << Quoted(m_memories[i]) << QString::number(used) << QString::number(total);
        info(QStringLiteral("+CPMS: ") + parts.join(u','));
        if (m_settings.storageQueryOK)
            ok();
    } else if (form == Form::Test) {
        QStringList parts;
        for (int i = 0; i < storages; ++i)
            parts << QStringLiteral("(\"SM\",\"ME\",\"MT\")");
        info(QStringLiteral("+CPMS: ") + parts.join(u','));
        ok();
    } else if (form == Form::Set && !args.isEmpty() && args.size() <= m_settings.memories) {
        for (const QString &a : args) {
            if (!IsStorageName(a)) {
                cmsError(302);
                return;
            }
        }
        for (int i = 0; i < args.size(); ++i)
            m_memories[i] = args[i].toUpper();
        QStringList parts;
        for (int i = 0; i < storages; ++i)
            parts << QString::number(used) << QString::number(total);
        info(QStringLiteral("+CPMS: ") + parts.join(u','));
        ok();
    } else {
        error();
    }
}

QString Modem::cmgrReply(const StoredSms &sms) const
{
    const bool received = sms.status == SmsStatus::RecUnread || sms.status == SmsStatus::RecRead;
    if (m_cmgf == 0) {
        // PDU mode: the status as a number, the name, the TPDU's length.
        int length = 0;
        const QString pdu = Pdu(sms, m_settings.serviceCentre, length);
        return QStringLiteral("\r\n+CMGR: %1,%2,%3\r\n")
                   .arg(int(sms.status))
                   .arg(sms.hasName ? Quoted(sms.name) : QString())
                   .arg(length) +
               pdu + QStringLiteral("\r\n\r\nOK\r\n");
    }
    const QString lead = m_settings.spacing == Spacing::Tight ? QStringLiteral("\r\n+CMGR:")
                                                              : QStringLiteral("\r\n+CMGR: ");
    const QString comma =
        m_settings.spacing == Spacing::Wide ? QStringLiteral(", ") : QStringLiteral(",");
    const QString firstOctet = QString::number(FirstOctet(sms));
    if (sms.report) {
        // <stat>,<fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st>, whatever AT+CSDH says.
        const QStringList fields{Quoted(StatusWord(sms.status)),
                                 firstOctet,
                                 QString::number(sms.reference),
                                 Quoted(sms.number),
                                 QString::number(AddressType(sms.number)),
                                 Quoted(Spelled(sms.timeStamp, m_settings.stamps)),
                                 Quoted(Spelled(sms.discharge, m_settings.stamps)),
                                 QString::number(sms.reportStatus)};
        return lead + fields.join(comma) + QStringLiteral("\r\n\r\nOK\r\n");
    }
    int length = 0;
    const QString body = TextModeBody(sms, m_settings.septetLengths, length);
    if (sms.udh.isEmpty())
        length = qMax(0, length + m_settings.lengthSkew);
    const QString dcs = QString::number(SchemeOf(sms));
    const bool detailed = m_csdh && m_settings.headers == Headers::Detailed;

    QStringList fields{Quoted(StatusWord(sms.status)), Quoted(sms.number),
                       sms.hasName ? Quoted(sms.name) : QString()};
    if (received) {
        fields << Quoted(Spelled(sms.timeStamp, m_settings.stamps));
        if (detailed) {
            fields << QString::number(AddressType(sms.number)) << firstOctet << QStringLiteral("0")
                   << dcs << Quoted(m_settings.serviceCentre)
                   << QString::number(AddressType(m_settings.serviceCentre))
                   << QString::number(length);
        }
    } else if (detailed) {
        fields << QString::number(AddressType(sms.number)) << firstOctet << QStringLiteral("0")
               << dcs << QStringLiteral("167") << Quoted(m_settings.serviceCentre)
               << QString::number(AddressType(m_settings.serviceCentre)) << QString::number(length);
    }
    return lead + fields.join(comma) + QStringLiteral("\r\n") + body +
           QStringLiteral("\r\n\r\nOK\r\n");
}

void Modem::readMessage(const QStringList &args)
{
    bool numeric = false;
    const int slot = args.size() == 1 ? args[0].toInt(&numeric) : 0;
    if (!numeric || !m_store.inRange(slot)) {
        cmsError(321);
        return;
    }
    const auto busy = m_busy.find(slot);
    if (busy != m_busy.end()) {
        const int code = busy->code;
        if (--busy->reads <= 0)
            m_busy.erase(busy);
        cmsError(code);
        return;
    }
    StoredSms *sms = m_store.at(slot);
    if (!sms) {
        cmsError(321);
        return;
    }
    reply(cmgrReply(*sms));
    if (sms->status == SmsStatus::RecUnread) {
        sms->status = SmsStatus::RecRead;
        storeChanged();
    }
}

void Modem::setBusy(int slot, int reads, int code)
{
    if (reads <= 0)
        m_busy.remove(slot);
    else
        m_busy.insert(slot, Busy{reads, code});
}

void Modem::deleteMessages(const QStringList &args)
{
    if (m_settings.deleteRefusal > 0) {
        cmsError(m_settings.deleteRefusal);
        return;
    }
    bool numeric = false;
    const int slot = args.isEmpty() ? 0 : args[0].toInt(&numeric);
    int flag = 0;
    if (args.size() == 2) {
        bool flagNumeric = false;
        flag = args[1].toInt(&flagNumeric);
        if (!flagNumeric || flag < 0 || flag > 4) {
            cmsError(304);
            return;
        }
    }
    if (args.isEmpty() || args.size() > 2 || !numeric || !m_store.inRange(slot)) {
        cmsError(321);
        return;
    }
    if (flag == 0) {
        if (m_store.remove(slot))
            storeChanged();
        ok();
        return;
    }
    // Flags 1 to 4 widen the delete: read; read and sent; all but unread; all.
    QList<int> doomed;
    for (const auto &[index, sms] : m_store.messages()) {
        const bool hit = flag == 4 || sms.status == SmsStatus::RecRead ||
                         (flag >= 2 && sms.status == SmsStatus::StoSent) ||
                         (flag >= 3 && sms.status == SmsStatus::StoUnsent);
        if (hit)
            doomed << index;
    }
    for (int index : doomed)
        m_store.remove(index);
    if (!doomed.isEmpty())
        storeChanged();
    ok();
}

void Modem::finishMessage(bool send)
{
    m_enteringText = false;
    startAnswer();
    if (send && m_sendFailures > 0) {
        --m_sendFailures;
        cmsError(500);
    } else if (send) {
        SentSms sms;
        sms.number = m_destination;
        const QString typed = QString::fromUtf8(m_messageBytes);
        if (m_csmp[3] == 8) {
            sms.alphabet = SmsAlphabet::Ucs2;
            if (!FromUcs2Hex(typed, sms.text)) {
                cmsError(304);
                m_answerGsm = ToGsm(m_answer);
                return;
            }
        } else {
            sms.text = typed;
        }
        if (!registered()) {
            cmsError(331);
            m_answerGsm = ToGsm(m_answer);
            return;
        }
        sms.reference = m_nextReference;
        m_nextReference = m_nextReference % 255 + 1;
        m_sent.append(sms);
        info(QStringLiteral("+CMGS: %1").arg(sms.reference));
        ok();
        storeChanged();
        if (onSent)
            onSent(sms);
    }
    m_messageBytes.clear();
    m_answerGsm = ToGsm(m_answer);
}

bool Modem::registered() const
{
    // TS 27.007 <stat>: home, roaming, and their "SMS only" and "CSFB not
    // preferred" forms.
    return QList<int>{1, 5, 6, 7, 9, 10}.contains(m_settings.registration);
}

bool Modem::executeNetwork(const QString &name, Form form, const QStringList &args)
{
    if (name == u"CREG") {
        bool numeric = false;
        const int mode = args.value(0).toInt(&numeric);
        if (!m_settings.knowsRegistration) {
            error();
        } else if (form == Form::Query) {
            // +CREG: <n>,<stat>[,<lac>,<ci>[,<AcT>]]; area and cell only for n=2.
            QString line =
                QStringLiteral("+CREG: %1,%2").arg(m_cregMode).arg(m_settings.registration);
            if (m_cregMode == 2)
                line += QStringLiteral(",\"1A2B\",\"01C3D4E5\",0");
            info(line);
            ok();
        } else if (form == Form::Test) {
            info(QStringLiteral("+CREG: (0-2)"));
            ok();
        } else if (form == Form::Set && args.size() == 1 && numeric && mode >= 0 && mode <= 2) {
            m_cregMode = mode;
            ok();
        } else {
            cmeError(4);
        }
        return true;
    }
    if (name == u"CSQ") {
        if (!m_settings.knowsSignal || form == Form::Query || form == Form::Set) {
            error();
        } else if (form == Form::Test) {
            info(QStringLiteral("+CSQ: (0-31,99),(0-7,99)"));
            ok();
        } else {
            // <ber> 99: not known, as modems in idle report it.
            info(QStringLiteral("+CSQ: %1,99").arg(m_settings.rssi));
            ok();
        }
        return true;
    }
    if (name == u"CFUN") {
        if (form == Form::Query) {
            info(QStringLiteral("+CFUN: 1"));
            ok();
        } else if (form == Form::Test) {
            info(QStringLiteral("+CFUN: (0,1,4),(0,1)"));
            ok();
        } else if (form == Form::Set && !args.isEmpty() && args.size() <= 2 &&
                   QStringList{"0", "1", "4"}.contains(args[0]) &&
                   (args.size() == 1 || args[1] == u"0" || args[1] == u"1")) {
            ok();
            // <rst> 1: the modem restarts once it has answered, with its
            // factory profile.
            if (args.size() == 2 && args[1] == u"1") {
                m_restartPending = true;
                ++m_restarts;
            }
        } else {
            cmeError(4);
        }
        return true;
    }
    return false;
}

} // namespace devsim
