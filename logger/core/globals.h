#pragma once
// The logger's process-wide state: settings, paths, counters and flags. Every
// part of the logger reads and writes this one record; the settings keys double
// as field names.

#include <QString>
#include <array>
#include <memory>

class QSqlDatabase;

namespace quillet {

class frmMain;

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

enum class TrayImage
{
    Online,
    Offline
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

    // Device and polling.
    qint16 SMSMaxCount = 0;
    qint16 CurrentSMSCount = 0;
    bool IsOffline = false;
    qint16 ReceivedSMSCount = 0;
    QString LastSMSDate;
    QString LastSMSPhoneNo;
    QString LastSMSText;

    // Window, tray and sound.
    bool IsInTray = false;
    TrayImage TrayIconImage = TrayImage::Online;
    bool IsSoundPlaying = false;
    bool IsSoundClosed = false;
    frmMain *MainForm = nullptr; // owned by the program, lives for the process
};

// The one record. Tests reset it with `G = GlobalState{}`.
extern GlobalState G;

} // namespace quillet
