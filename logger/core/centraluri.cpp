#include "centraluri.h"

#include <QByteArray>
#include <QRegularExpression>
#include <algorithm>
#include <cctype>

namespace quillet {

namespace {

const QString kSchemes[] = {QStringLiteral("postgresql://"), QStringLiteral("postgres://")};

// The time-outs that keep a dead network from holding the sender (and so the
// logger's exit) for minutes: the connect, and a connection that stops
// answering in the middle of a batch.
const QPair<QString, QString> kDefaults[] = {
    {QStringLiteral("connect_timeout"), QStringLiteral("10")},
    {QStringLiteral("keepalives_idle"), QStringLiteral("10")},
    {QStringLiteral("keepalives_interval"), QStringLiteral("5")},
    {QStringLiteral("keepalives_count"), QStringLiteral("3")},
    {QStringLiteral("tcp_user_timeout"), QStringLiteral("20000")},
    {QStringLiteral("fallback_application_name"), QStringLiteral("quillet")},
};

// %XX escapes to bytes, read as UTF-8.
bool decode(const QString &text, QString &out, QString &error)
{
    QByteArray bytes;
    const QByteArray raw = text.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.at(i) != '%') {
            bytes += raw.at(i);
            continue;
        }
        const auto hex = [&](qsizetype k) {
            return k < raw.size() && std::isxdigit(static_cast<unsigned char>(raw.at(k)));
        };
        if (!hex(i + 1) || !hex(i + 2)) {
            error = QStringLiteral("\"%1\" holds a bad %-escape").arg(text);
            return false;
        }
        bytes += char(raw.mid(i + 1, 2).toInt(nullptr, 16));
        i += 2;
    }
    if (bytes.contains('\0')) {
        error = QStringLiteral("\"%1\" holds a NUL").arg(text);
        return false;
    }
    out = QString::fromUtf8(bytes);
    return true;
}

void setOption(QList<QPair<QString, QString>> &options, const QString &key, const QString &value)
{
    for (auto &option : options) {
        if (option.first == key) {
            option.second = value;
            return;
        }
    }
    options.append({key, value});
}

const QString kPasswordAdvice =
    QStringLiteral("put it in ~/.pgpass (or the file PGPASSFILE names), never in Quillet.set");

} // namespace

bool IsCentralURI(const QString &value)
{
    const QString v = value.trimmed();
    for (const QString &scheme : kSchemes)
        if (v.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    return false;
}

QString CentralTarget::value(const QString &keyword) const
{
    for (const auto &option : options)
        if (option.first == keyword)
            return option.second;
    return QString();
}

QString CentralTarget::connectOptions() const
{
    QStringList parts;
    for (const auto &[key, value] : options) {
        QString quoted = value;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        quoted.replace(QLatin1Char('\''), QStringLiteral("\\'"));
        parts << key + QStringLiteral("='") + quoted + QLatin1Char('\'');
    }
    return parts.join(QLatin1Char(' '));
}

QString CentralTarget::describe() const
{
    const QString user = value(QStringLiteral("user"));
    QString host = value(QStringLiteral("host"));
    if (host.isEmpty())
        host = QStringLiteral("(default socket)");
    const QString port = value(QStringLiteral("port"));
    const QString db = value(QStringLiteral("dbname"));
    return (user.isEmpty() ? QString() : user + QLatin1Char('@')) + host +
           (port.isEmpty() ? QString() : QLatin1Char(':') + port) + QLatin1Char('/') + db;
}

bool ParseCentralURI(const QString &uri, CentralTarget &target, QString &error)
{
    target = CentralTarget{};
    const QString text = uri.trimmed();
    QString rest;
    for (const QString &scheme : kSchemes)
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            rest = text.mid(scheme.size());
    if (rest.isNull()) {
        error = QStringLiteral("the URI does not begin with postgresql://");
        return false;
    }
    if (rest.contains(QLatin1Char('#'))) {
        error = QStringLiteral("the URI holds a '#'");
        return false;
    }
    if (rest.contains(QLatin1Char(' '))) {
        error = QStringLiteral("the URI holds a blank (write it as %20)");
        return false;
    }
    const qsizetype q = rest.indexOf(QLatin1Char('?'));
    const QString query = q < 0 ? QString() : rest.mid(q + 1);
    const QString front = q < 0 ? rest : rest.left(q);
    const qsizetype slash = front.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? front : front.left(slash);
    const QString path = slash < 0 ? QString() : front.mid(slash + 1);

    QList<QPair<QString, QString>> options;
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const QString hostSpec = at < 0 ? authority : authority.mid(at + 1);
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(QLatin1Char(':'))) {
            error = QStringLiteral("the URI holds a password: ") + kPasswordAdvice;
            return false;
        }
        QString user;
        if (!decode(userInfo, user, error))
            return false;
        if (!user.isEmpty())
            options.append({QStringLiteral("user"), user});
    }

    // host[:port] entries, comma-separated; an IPv6 address in brackets.
    QStringList hosts, ports;
    bool anyHost = false, anyPort = false;
    if (!hostSpec.isEmpty()) {
        for (const QString &entry : hostSpec.split(QLatin1Char(','))) {
            QString host = entry, port;
            if (entry.startsWith(QLatin1Char('['))) {
                const qsizetype close = entry.indexOf(QLatin1Char(']'));
                if (close < 0) {
                    error = QStringLiteral("the host \"%1\" has no closing ']'").arg(entry);
                    return false;
                }
                host = entry.mid(1, close - 1);
                const QString after = entry.mid(close + 1);
                if (!after.isEmpty() && !after.startsWith(QLatin1Char(':'))) {
                    error = QStringLiteral("the host \"%1\" is malformed").arg(entry);
                    return false;
                }
                port = after.mid(1);
            } else if (const qsizetype colon = entry.lastIndexOf(QLatin1Char(':')); colon >= 0) {
                host = entry.left(colon);
                port = entry.mid(colon + 1);
            }
            if (!port.isEmpty() || entry.endsWith(QLatin1Char(':'))) {
                bool ok = false;
                const int number = port.toInt(&ok);
                if (!ok || number < 1 || number > 65535 ||
                    port.contains(QRegularExpression(QStringLiteral("[^0-9]")))) {
                    error =
                        QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(port);
                    return false;
                }
            }
            QString decoded;
            if (!decode(host, decoded, error))
                return false;
            hosts << decoded;
            ports << port;
            anyHost = anyHost || !decoded.isEmpty();
            anyPort = anyPort || !port.isEmpty();
        }
    }
    if (anyHost)
        options.append({QStringLiteral("host"), hosts.join(QLatin1Char(','))});
    if (anyPort)
        options.append({QStringLiteral("port"), ports.join(QLatin1Char(','))});

    if (!path.isEmpty()) {
        QString db;
        if (!decode(path, db, error))
            return false;
        options.append({QStringLiteral("dbname"), db});
    }

    static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
    if (!query.isEmpty()) {
        for (const QString &pair : query.split(QLatin1Char('&'))) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            QString key, value;
            if (eq <= 0 || !decode(pair.left(eq), key, error) ||
                !decode(pair.mid(eq + 1), value, error)) {
                if (error.isEmpty() || eq <= 0)
                    error = QStringLiteral("\"%1\" in the URI is not key=value").arg(pair);
                return false;
            }
            if (!keyword.match(key).hasMatch()) {
                error = QStringLiteral("\"%1\" is not a connection keyword").arg(key);
                return false;
            }
            if (key == QLatin1String("password")) {
                error = QStringLiteral("the URI holds a password: ") + kPasswordAdvice;
                return false;
            }
            setOption(options, key, value);
        }
    }
    // Qt hands its connection options to libpq with every ';' made a blank.
    for (const auto &option : options) {
        if (option.second.contains(QLatin1Char(';'))) {
            error = QStringLiteral("the value of %1 holds a ';', which the database driver cannot "
                                   "pass on")
                        .arg(option.first);
            return false;
        }
    }
    for (const auto &option : kDefaults)
        if (std::none_of(options.cbegin(), options.cend(),
                         [&](const auto &o) { return o.first == option.first; }))
            options.append(option);
    target.options = options;
    error.clear();
    return true;
}

} // namespace quillet
