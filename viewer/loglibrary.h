#pragma once
// The viewer's only road to a log file: the operations of libtamsin, behind an
// interface so the document, view and selection bar can be tested against a
// double that offers what real logger files never have (subgroups, message
// columns). An out text belongs to the library and stays valid until the
// next call.
//
// The library hands out the file's own bytes. This class also turns them
// into what the user reads: UTF-8 for the logger's files, the legacy code
// page (Big5 unless changed) for a history that is not UTF-8, as written on
// a Windows machine in its ANSI code page. Names go back to the library as
// the bytes it handed out, so filtering never depends on the decoding.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace orvane {

class LogLibrary
{
public:
    virtual ~LogLibrary() = default;

    virtual int32_t LogOpen(const char *path) = 0;
    virtual int32_t LogGetGroup(int32_t cursor, const char **group) = 0;
    virtual int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup) = 0;
    virtual int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                                    const char *toTime) = 0;
    virtual int32_t LogSelect(const char *group, const char *subgroup) = 0;
    virtual int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                                 const char **subgroup, const char **message,
                                 const char **ackMessage, const char **appendMessage) = 0;
    virtual int32_t LogTimeKey(const char *date, const char *time) = 0;
    virtual int32_t LogExportBefore(int32_t timeKey, const char *destinationPath) = 0;
    virtual int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath) = 0;
    virtual int32_t LogClose() = 0;
    virtual int32_t LogHasGroup() = 0;
    virtual int32_t LogHasSubgroup() = 0;
    virtual int32_t LogRefresh(int32_t *selected, int32_t *firstChanged) = 0;
    virtual int32_t LogIsUtf8() = 0;
    virtual int32_t LogCountBefore(int32_t timeKey) = 0;

    // LogOpen and LogRefresh, learning how the file's texts are written.
    int32_t Open(const char *path);
    int32_t Refresh(int32_t *selected, int32_t *firstChanged);

    // A text of the current file as the user reads it; at most maxBytes of
    // it (a cell shows no more, whatever a record holds).
    QString Text(const char *bytes, qsizetype maxBytes = -1) const;
    bool legacy() const { return m_legacy; }

    // The code page of histories that are not UTF-8. False (and no change)
    // for a name no converter knows.
    bool SetLegacyCodePage(const QByteArray &name);
    QByteArray legacyCodePage() const { return m_codePage; }
    // ORVANE_LEGACY_CODEPAGE when it names a known code page, else empty.
    static QByteArray CodePageFromEnvironment();
    static constexpr const char *kDefaultCodePage = "Big5";

private:
    QString Legacy(QByteArrayView bytes) const;

    bool m_legacy = false;
    QByteArray m_codePage = kDefaultCodePage;
};

// The real library (libtamsin).
std::unique_ptr<LogLibrary> MakeTamsinLibrary();

} // namespace orvane
