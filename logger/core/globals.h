#pragma once
// The logger's settings and the paths worked out from them: one record, read
// by the pipeline it is handed to (the program hands over G) and written by
// the settings file and dialog. The settings keys double as field names.
// What runs (the counters, the connection state, the newest message) belongs
// to the pipeline; the window and the sound keep their own.

#include <QList>
#include <QString>
#include <array>

namespace quillet {

struct SiteEntry
{
    QString PhoneNo;
    QString SiteName;
};

struct DDEEntry
{
    QString MessagePrefix;
    QString DDEItem;
    double DDEValue = 0.0;
};

// A site that must be heard from: a sender whose number ends with PhoneNo
// and that sends nothing for Hours is a silent site.
struct SilentSiteEntry
{
    QString PhoneNo;
    double Hours = 24;
};

// An on-call number and the start an alarm's text must have to be texted to
// it (empty: every alarm).
struct ForwardEntry
{
    QString PhoneNo;
    QString MessagePrefix;
};

constexpr int MapSlots = 256;

struct GlobalState
{
    // Files and paths.
    QString SettingFile = QStringLiteral("Quillet.set");
    QString SystemFile = QStringLiteral("Quillet.sys");
    QString LogFileFullPath;
    QString LastLogFileFullPath;
    QString MDBFileFullPath;
    QString LastMDBFileFullPath;
    QString MDBTableName = QStringLiteral("Tarrow");
    QString MDBConnection; // name of the open Qt Sql connection; empty = none
    QString DebugLogFile;

    // Settings.
    QString LogFilePath;
    bool IsSaveAsMDB = false;
    QString MDBFilePath;
    bool IsDeleteSMS = false;
    bool IsUseSoundAlert = false;
    QString SoundFilePath;
    bool IsIgnoreZoneIdentifier = false;
    bool IsDebugMode = false;
    // The name of this logger's rows in a central database; empty: the host
    // name (and the key is not written).
    QString LoggerName;
    // Where the logger writes its figures for a metrics collector after
    // every poll (relative to the current folder); empty: nowhere, and the
    // key is not written.
    QString MetricsFile;
    QString COMPORT;
    QString BAUDRATE;
    QString DATABIT;
    QString PARITYBIT;
    QString STOPBIT;
    // What sits on the port: "auto" (the device when station 247 answers,
    // else a plain modem that answers AT), "device" or "modem".
    QString DEVICE = QStringLiteral("auto");
    bool EnableSitePhoneNumberMap = false;
    bool IsGiveUpUnknownSitePhoneNumberSMS = false;
    std::array<SiteEntry, MapSlots> SitePhoneNumberMap;
    qint16 SitePhoneNumberCount = 0;
    bool IsUseDDE = false;
    QString APPLICATION;
    QString TOPIC;
    std::array<DDEEntry, MapSlots> DDEMap;
    qint16 DDEMapCount = 0;

    // [SUPERVISION]: what the logger watches of its own alarm path. Times
    // may be fractional.
    double HealthCheckSeconds = 60; // 0: no health checks, nor their conditions
    double NoNetworkMinutes = 3;
    int WeakSignalDbm = -107;
    double WeakSignalMinutes = 10;
    int SimFullPercent = 80; // 0: never full
    QList<SilentSiteEntry> SiteSilent;
    QString LoopTestNumber; // empty: no loop test
    double LoopTestHours = 24;
    double LoopTestTimeoutMinutes = 15;

    // The program run for every alarm with its fixed arguments (empty:
    // none), and how long one run may take.
    QString RunOnAlarm;
    int RunOnAlarmTimeoutSeconds = 30;
    QList<ForwardEntry> ForwardTo;
};

// The program's settings. The database, DDE and central outputs are the
// program's and read them here; a pipeline reads the record it was given.
extern GlobalState G;

} // namespace quillet
