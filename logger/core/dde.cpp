#include "dde.h"

#include "hostservices.h"
#include "settings.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLocale>

namespace quillet {

namespace {

bool isNameChar(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The locale's long time form without its time-zone field: the alarm carries
// the time the SIM stamped, which has no zone of its own.
QString timeFormatWithoutZone(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('t')) {
            continue;
        } else if (!quoted && c == QLatin1Char('B')) {
            // A day period that Qt does not know would show as a bare "B".
            out += QStringLiteral("AP");
            continue;
        }
        out += c;
    }
    out.remove(QStringLiteral("[]"));
    out.remove(QStringLiteral("()"));
    return out.trimmed();
}

bool pokeOnce(const QString &service, const QString &topic, const QString &item,
              const QString &value)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        WriteDebugTrace(QStringLiteral("DDE: no session bus: ") + bus.lastError().message());
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, kDDEObjectPath, kDDEInterface, kDDEMethod);
    call << topic << item << value;
    const QDBusMessage reply = bus.call(call, QDBus::Block, DDECallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        WriteDebugTrace(QStringLiteral("DDE: poke of %1 at %2 failed: %3")
                            .arg(item, service, reply.errorMessage()));
        return false;
    }
    const QList<QVariant> answer = reply.arguments();
    const bool accepted = answer.size() == 1 && answer.first().metaType().id() == QMetaType::Bool &&
                          answer.first().toBool();
    if (!accepted)
        WriteDebugTrace(QStringLiteral("DDE: poke of %1 at %2 refused").arg(item, service));
    return accepted;
}

} // namespace

bool IsValidDDEBusName(const QString &name)
{
    if (name.isEmpty() || name.size() > 255 || name.startsWith(QLatin1Char(':')))
        return false;
    const QStringList elements = name.split(QLatin1Char('.'));
    if (elements.size() < 2)
        return false;
    for (const QString &element : elements) {
        if (element.isEmpty() || isDigit(element.front()))
            return false;
        for (const QChar c : element) {
            if (!isNameChar(c.unicode()) && c != QLatin1Char('-'))
                return false;
        }
    }
    return true;
}

QString DDEBusName(const QString &application)
{
    if (IsValidDDEBusName(application))
        return application;
    QString element;
    for (const char32_t c : application.toUcs4())
        element += isNameChar(c) ? QChar(c) : QLatin1Char('_');
    if (element.isEmpty() || isDigit(element.front()))
        element.prepend(QLatin1Char('_'));
    return kDDEInterface + QLatin1Char('.') + element;
}

QString DDETopic()
{
    return G.APPLICATION + QLatin1Char('|') + G.TOPIC;
}

bool FindDDEMap(const QString &sms, DDEEntry &entry)
{
    for (int i = 0; i < G.DDEMapCount; ++i) {
        if (sms.startsWith(G.DDEMap[i].MessagePrefix, Qt::CaseSensitive)) {
            entry = G.DDEMap[i];
            return true;
        }
    }
    return false;
}

bool PokeDDE(const DDEEntry &entry, const QString &text)
{
    const QString service = DDEBusName(G.APPLICATION);
    if (!IsValidDDEBusName(service)) {
        WriteDebugTrace(QStringLiteral("DDE: no bus name can be made of ") + G.APPLICATION);
        return false;
    }
    const QString topic = DDETopic();
    return pokeOnce(service, topic, entry.DDEItem, DDEValueText(entry.DDEValue)) &&
           pokeOnce(service, topic, entry.DDEItem + QStringLiteral(".Message"), text);
}

QString DDEDateTimeText(const QDateTime &smsDate)
{
    const QLocale locale;
    return locale.toString(smsDate.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(smsDate.time(), timeFormatWithoutZone(locale));
}

bool ForwardAlarmToDDE(const QString &receivedText, const QDateTime &smsDate,
                       const QString &callerID, const QString &message)
{
    DDEEntry entry;
    if (!FindDDEMap(receivedText, entry))
        return false;
    return PokeDDE(entry, DDEDateTimeText(smsDate) + QLatin1Char(' ') + callerID +
                              QLatin1Char(' ') + message);
}

} // namespace quillet
