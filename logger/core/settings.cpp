#include "settings.h"

#include "centraluri.h"
#include "debuglog.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "outputpaths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <cmath>
#include <limits>

namespace quillet {

namespace {

void storeLine(QStringList &lines, int number, const QString &line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.isEmpty() && number <= MaxSettingLines)
        lines[number - 1] = trimmed;
}

QString trimSpaces(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

// A number of the [SUPERVISION] section: a decimal (fractions allowed, so
// that tests and commissioning can use seconds) within its range, else its
// default.
double supervisionNumber(const QString &value, double low, double high, double def)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(value.trimmed(), &ok);
    return ok && v >= low && v <= high ? v : def;
}

// Fills [SUPERVISION] from the file's lines.
void loadSupervision(GlobalState &s, const QStringList &lines, int count)
{
    const GlobalState defaults;
    auto value = [&](const QString &key) {
        return GetIniValue(QStringLiteral("SUPERVISION"), key, QString(), lines, count);
    };
    constexpr double week = 7 * 24 * 3600;
    s.HealthCheckSeconds = supervisionNumber(value(QStringLiteral("HealthCheckSeconds")), 0, week,
                                             defaults.HealthCheckSeconds);
    s.NoNetworkMinutes = supervisionNumber(value(QStringLiteral("NoNetworkMinutes")), 0, week / 60,
                                           defaults.NoNetworkMinutes);
    s.WeakSignalDbm = int(
        supervisionNumber(value(QStringLiteral("WeakSignalDbm")), -150, 0, defaults.WeakSignalDbm));
    s.WeakSignalMinutes = supervisionNumber(value(QStringLiteral("WeakSignalMinutes")), 0,
                                            week / 60, defaults.WeakSignalMinutes);
    s.SimFullPercent = int(supervisionNumber(value(QStringLiteral("SimFullPercent")), 0, 100,
                                             defaults.SimFullPercent));
    s.LoopTestNumber = value(QStringLiteral("LoopTestNumber"));
    s.LoopTestHours = supervisionNumber(value(QStringLiteral("LoopTestHours")), 1.0 / 3600,
                                        24 * 366, defaults.LoopTestHours);
    s.LoopTestTimeoutMinutes =
        supervisionNumber(value(QStringLiteral("LoopTestTimeoutMinutes")), 1.0 / 60, week / 60,
                          defaults.LoopTestTimeoutMinutes);
    s.SiteSilent.clear();
    for (int n = 1; n <= MapSlots; ++n) {
        const QString entry = value(QStringLiteral("SiteSilent%1").arg(n));
        if (entry.isEmpty())
            break;
        const QStringList fields = entry.split(QLatin1Char(','));
        const double hours =
            fields.size() == 2 ? supervisionNumber(fields[1], 1.0 / 3600, 24 * 366, -1) : -1;
        if (fields[0].trimmed().isEmpty() || hours < 0) {
            WriteDebugTrace(QStringLiteral("Settings: SiteSilent%1=%2 is not <number>,<hours>")
                                .arg(n)
                                .arg(entry));
            continue;
        }
        s.SiteSilent.append({fields[0].trimmed(), hours});
    }
}

QString numberText(double value)
{
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

int TextToArray(const QString &text, QStringList &lines)
{
    lines = QStringList(MaxSettingLines);
    QString body = trimSpaces(text);
    while (body.endsWith(QLatin1Char('\r')) || body.endsWith(QLatin1Char('\n')))
        body.chop(1);
    if (body.isEmpty())
        return 0;

    int number = 1;
    qsizetype start = 0;
    const qsizetype n = body.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = body.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        // A CR, an LF, or a CR LF pair ends a line; files saved by Linux
        // editors use bare LF.
        storeLine(lines, number, body.mid(start, i - start));
        ++number;
        if (c == QLatin1Char('\r') && i + 1 < n && body.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    storeLine(lines, number, body.mid(start));
    return number;
}

QString GetIniValue(const QString &section, const QString &key, const QString &defaultValue,
                    const QStringList &lines, int count)
{
    const QString wantSection = section.toUpper();
    const QString wantKey = key.toUpper();
    QString current;
    const int last = std::min(count, int(lines.size()));
    for (int i = 0; i < last; ++i) {
        QCoreApplication::processEvents();
        const QString &line = lines.at(i);
        if (line.isEmpty())
            continue;
        // Only a line that starts with "[" is a header, so a value holding a
        // bracketed word (a folder name, a site name) stays a value.
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close >= 2) {
                current = line.mid(1, close - 1).trimmed().toUpper();
                continue;
            }
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 2)
            continue; // no "=", or fewer than two characters before it
        const QString name = line.left(eq).trimmed().toUpper();
        if (name == wantKey && current == wantSection)
            return line.mid(eq + 1).trimmed();
    }
    return defaultValue;
}

QString GetIniValue(const QString &section, const QString &key, const QString &defaultValue,
                    const QString &content)
{
    QStringList lines;
    const int count = TextToArray(content, lines);
    return GetIniValue(section, key, defaultValue, lines, count);
}

qint16 LeadingNumber(const QString &value)
{
    const QString s = value.trimmed();
    qsizetype i = 0;
    QString number;
    if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
        number += s.at(i++);
    bool digits = false;
    while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) {
        number += s.at(i++);
        digits = true;
    }
    if (i < s.size() && s.at(i) == QLatin1Char('.')) {
        number += s.at(i++);
        while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) {
            number += s.at(i++);
            digits = true;
        }
    }
    if (!digits)
        return 0;
    const double v = std::nearbyint(number.toDouble()); // rounds half to even
    if (v > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (v < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return qint16(v);
}

bool LoadSettings()
{
    QStringList lines;
    const int count = TextToArray(ReadTextFile(G.SettingFile), lines);
    auto value = [&](const char *section, const QString &key, const QString &def = QString()) {
        return GetIniValue(QLatin1String(section), key, def, lines, count);
    };
    auto orDefault = [](const QString &v, const char *def) {
        return v.isEmpty() ? QString::fromLatin1(def) : v;
    };

    G.LogFilePath =
        orDefault(value("BASIC", QStringLiteral("LogFilePath"), "Quillet.log"), "Quillet.log");
    // Only a bad path stops loading (its box ended the program). A folder that
    // cannot be created yet (a share not mounted) is shown in the status, and
    // the messages wait on the SIM until a record can be written.
    if (!CheckLogFilePath(true) &&
        (EndsWithSeparator(G.LogFileFullPath) || FolderExists(G.LogFileFullPath)))
        return false;

    G.IsSaveAsMDB = LeadingNumber(value("BASIC", QStringLiteral("IsSaveAsMDB"), "0")) != 0;
    if (G.IsSaveAsMDB) {
        G.MDBFilePath = orDefault(value("BASIC", QStringLiteral("MDBFilePath")), "Quillet.mdb");
        G.MDBTableName = QStringLiteral("Tarrow");
        // Only a bad path stops loading (its box ended the program). A database
        // that cannot be prepared is reported by start-up and the logger runs
        // on with its log file.
        if (!CheckMDBFilePath(true) && !IsCentralURI(G.MDBFilePath) &&
            (EndsWithSeparator(G.MDBFileFullPath) || FolderExists(G.MDBFileFullPath)))
            return false;
    }

    G.IsDeleteSMS = LeadingNumber(value("BASIC", QStringLiteral("IsDeleteSMS"), "0")) != 0;
    G.IsUseSoundAlert = LeadingNumber(value("BASIC", QStringLiteral("IsUseSoundAlert"), "0")) != 0;
    if (G.IsUseSoundAlert)
        G.SoundFilePath = value("BASIC", QStringLiteral("SoundFilePath"));
    if (G.SoundFilePath.isEmpty())
        G.SoundFilePath = QStringLiteral("Notify.wav");

    G.IsIgnoreZoneIdentifier =
        LeadingNumber(value("BASIC", QStringLiteral("IsIgnoreZoneIdentifier"), "0")) != 0;
    G.IsDebugMode = LeadingNumber(value("BASIC", QStringLiteral("IsDebugMode"), "0")) != 0;
    if (G.IsDebugMode)
        CreateDebugLog();
    G.LoggerName = value("BASIC", QStringLiteral("LoggerName"));
    G.MetricsFile = value("BASIC", QStringLiteral("MetricsFile"));

    G.COMPORT = orDefault(value("COMM", QStringLiteral("COMPORT"), "COM1"), "COM1");
    G.BAUDRATE = orDefault(value("COMM", QStringLiteral("BAUDRATE"), "9600"), "9600");
    G.DATABIT = orDefault(value("COMM", QStringLiteral("DATABIT"), "8"), "8");
    G.PARITYBIT = orDefault(value("COMM", QStringLiteral("PARITYBIT"), "None"), "None");
    G.STOPBIT = orDefault(value("COMM", QStringLiteral("STOPBIT"), "1"), "1");
    G.DEVICE = value("COMM", QStringLiteral("DEVICE"), "auto").toLower();
    if (G.DEVICE != QLatin1String("device") && G.DEVICE != QLatin1String("modem"))
        G.DEVICE = QStringLiteral("auto");

    G.SitePhoneNumberCount = 0;
    G.EnableSitePhoneNumberMap =
        LeadingNumber(
            value("SitePhoneNumberMAP", QStringLiteral("EnableSitePhoneNumberMap"), "0")) == 1;
    G.IsGiveUpUnknownSitePhoneNumberSMS =
        G.EnableSitePhoneNumberMap &&
        LeadingNumber(value("SitePhoneNumberMAP",
                            QStringLiteral("IsGiveUpUnknownSitePhoneNumberSMS"), "0")) != 0;

    for (int n = 1; n <= MapSlots - 1; ++n) {
        const QString entry =
            value("SitePhoneNumberMAP", QStringLiteral("SitePhoneNumberMap%1").arg(n));
        if (entry.isEmpty())
            break;
        // Split at the first comma only: a site name may hold commas.
        const qsizetype comma = entry.indexOf(QLatin1Char(','));
        const QString phone = comma < 0 ? entry : entry.left(comma);
        const QString site = comma < 0 ? QString() : entry.mid(comma + 1);
        if (phone.isEmpty())
            continue; // an empty number would match every sender
        SiteEntry &slot = G.SitePhoneNumberMap[G.SitePhoneNumberCount++];
        slot.PhoneNo = phone;
        slot.SiteName = site;
    }

    G.DDEMapCount = 0;
    G.IsUseDDE = LeadingNumber(value("DDEMAP", QStringLiteral("IsUseDDE"), "0")) == 1;
    G.APPLICATION = value("DDEMAP", QStringLiteral("APPLICATION"));
    G.TOPIC = value("DDEMAP", QStringLiteral("TOPIC"));
    for (int n = 1; n <= MapSlots; ++n) {
        const QString entry = value("DDEMAP", QStringLiteral("DDEMap%1").arg(n));
        if (entry.isEmpty())
            break;
        const QStringList fields = entry.split(QLatin1Char(','));
        if (fields.size() != 3)
            continue;
        bool ok = false;
        const double number = QLocale::c().toDouble(fields.at(2).trimmed(), &ok);
        if (!ok)
            continue; // a value that is no number cannot be poked
        DDEEntry &slot = G.DDEMap[G.DDEMapCount++];
        slot.MessagePrefix = fields.at(0);
        slot.DDEItem = fields.at(1);
        slot.DDEValue = number;
    }
    loadSupervision(G, lines, count);

    G.RunOnAlarm = value("HOOK", QStringLiteral("RunOnAlarm"));
    const qint16 timeout = LeadingNumber(value("HOOK", QStringLiteral("RunOnAlarmTimeoutSeconds")));
    G.RunOnAlarmTimeoutSeconds = timeout > 0 ? timeout : 30;
    G.ForwardTo.clear();
    for (int n = 1; n <= MapSlots; ++n) {
        const QString number = value("FORWARD", QStringLiteral("ForwardTo%1").arg(n));
        if (number.isEmpty())
            break;
        G.ForwardTo << ForwardEntry{number,
                                    value("FORWARD", QStringLiteral("ForwardPrefix%1").arg(n))};
    }
    return true;
}

QString DDEValueText(double value)
{
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

bool Save2SettingFile()
{
    QStringList out;
    auto flag = [](const char *key, bool on) {
        return QString::fromLatin1(key) + (on ? QStringLiteral("=1") : QStringLiteral("=0"));
    };
    out << QStringLiteral("[BASIC]") << QStringLiteral("LogFilePath=") + G.LogFilePath;
    out << flag("IsSaveAsMDB", G.IsSaveAsMDB);
    if (G.IsSaveAsMDB)
        out << QStringLiteral("MDBFilePath=") + G.MDBFilePath;
    out << flag("IsDeleteSMS", G.IsDeleteSMS);
    out << flag("IsUseSoundAlert", G.IsUseSoundAlert);
    if (G.IsUseSoundAlert)
        out << QStringLiteral("SoundFilePath=") + G.SoundFilePath;
    out << flag("IsIgnoreZoneIdentifier", G.IsIgnoreZoneIdentifier);
    out << flag("IsDebugMode", G.IsDebugMode);
    if (!G.LoggerName.isEmpty())
        out << QStringLiteral("LoggerName=") + G.LoggerName;
    if (!G.MetricsFile.isEmpty())
        out << QStringLiteral("MetricsFile=") + G.MetricsFile;

    out << QString() << QStringLiteral("[COMM]") << QStringLiteral("COMPORT=") + G.COMPORT
        << QStringLiteral("BAUDRATE=") + G.BAUDRATE << QStringLiteral("DATABIT=") + G.DATABIT
        << QStringLiteral("PARITYBIT=") + G.PARITYBIT << QStringLiteral("STOPBIT=") + G.STOPBIT;
    if (G.DEVICE == QLatin1String("device") || G.DEVICE == QLatin1String("modem"))
        out << QStringLiteral("DEVICE=") + G.DEVICE;

    // The map and the DDE entries are written whether or not they are switched
    // on: switching a feature off must not throw its configuration away.
    out << QString() << QStringLiteral("[SitePhoneNumberMAP]");
    out << flag("EnableSitePhoneNumberMap", G.EnableSitePhoneNumberMap);
    out << flag("IsGiveUpUnKnownSitePhoneNumberSMS", G.IsGiveUpUnknownSitePhoneNumberSMS);
    for (int n = 1; n <= G.SitePhoneNumberCount; ++n) {
        const SiteEntry &e = G.SitePhoneNumberMap[n - 1];
        out << QStringLiteral("SitePhoneNumberMAP%1=%2,%3").arg(n).arg(e.PhoneNo, e.SiteName);
    }

    out << QString() << QStringLiteral("[DDEMAP]") << flag("IsUseDDE", G.IsUseDDE);
    out << QStringLiteral("APPLICATION=") + G.APPLICATION << QStringLiteral("TOPIC=") + G.TOPIC;
    for (int n = 1; n <= G.DDEMapCount; ++n) {
        const DDEEntry &e = G.DDEMap[n - 1];
        out << QStringLiteral("DDEMAP%1=%2,%3,%4")
                   .arg(n)
                   .arg(e.MessagePrefix, e.DDEItem, DDEValueText(e.DDEValue));
    }

    out << QString() << QStringLiteral("[SUPERVISION]")
        << QStringLiteral("HealthCheckSeconds=") + numberText(G.HealthCheckSeconds)
        << QStringLiteral("NoNetworkMinutes=") + numberText(G.NoNetworkMinutes)
        << QStringLiteral("WeakSignalDbm=%1").arg(G.WeakSignalDbm)
        << QStringLiteral("WeakSignalMinutes=") + numberText(G.WeakSignalMinutes)
        << QStringLiteral("SimFullPercent=%1").arg(G.SimFullPercent);
    for (qsizetype n = 1; n <= G.SiteSilent.size(); ++n) {
        const SilentSiteEntry &e = G.SiteSilent.at(n - 1);
        out << QStringLiteral("SiteSilent%1=%2,%3").arg(n).arg(e.PhoneNo, numberText(e.Hours));
    }
    out << QStringLiteral("LoopTestNumber=") + G.LoopTestNumber
        << QStringLiteral("LoopTestHours=") + numberText(G.LoopTestHours)
        << QStringLiteral("LoopTestTimeoutMinutes=") + numberText(G.LoopTestTimeoutMinutes);
    if (!G.RunOnAlarm.isEmpty() || G.RunOnAlarmTimeoutSeconds != 30)
        out << QString() << QStringLiteral("[HOOK]") << QStringLiteral("RunOnAlarm=") + G.RunOnAlarm
            << QStringLiteral("RunOnAlarmTimeoutSeconds=%1").arg(G.RunOnAlarmTimeoutSeconds);
    if (!G.ForwardTo.isEmpty())
        out << QString() << QStringLiteral("[FORWARD]");
    for (int n = 1; n <= G.ForwardTo.size(); ++n)
        out << QStringLiteral("ForwardTo%1=%2").arg(n).arg(G.ForwardTo[n - 1].PhoneNo)
            << QStringLiteral("ForwardPrefix%1=%2").arg(n).arg(G.ForwardTo[n - 1].MessagePrefix);

    QByteArray bytes;
    for (const QString &line : std::as_const(out))
        bytes += line.toUtf8() + "\r\n";

    // Written beside the old file and renamed over it only when complete, so a
    // crash or a full disk never leaves the logger without its settings.
    QSaveFile file(G.SettingFile);
    file.setDirectWriteFallback(false);
    if (QFileInfo::exists(G.SettingFile) && !QFileInfo(G.SettingFile).isWritable())
        QFile::setPermissions(G.SettingFile, QFile::permissions(G.SettingFile) | QFile::WriteOwner);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace quillet
