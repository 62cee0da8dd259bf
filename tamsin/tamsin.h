/*
 * libtamsin - reading and trimming the alarm logger's history files.
 *
 * A history file holds one record per alarm, appended by the logger:
 *
 *     MM/DD/YYYY hh:mm:ss [CallerID] message CR LF
 *
 * The time stamp fills the first 19 bytes (month first, 24-hour clock).
 * CallerID runs from the " [" after the time stamp up to the first "] ".
 * A message that holds line breaks continues on the following lines, each
 * written with one leading space; any line that does not begin with a time
 * stamp belongs to the record before it. Lines may end in CR LF or LF.
 *
 * The library works on one current file at a time. It keeps the file open
 * for reading only, indexes it once (9 bytes per record for a file of up to
 * 255 callers, 10 or 12 beyond, and 4 more for a selection that is not
 * every record in file order) and reads record texts
 * from it on demand; it never writes the file. Only LogDeleteBefore()
 * rewrites a file, and it does so by replacing it, so the current file keeps
 * the records it was opened with. LogRefresh() adds what the logger appended
 * since.
 *
 * Texts are zero-terminated bytes as the file holds them: UTF-8 in the
 * logger's files, a legacy code page in histories written elsewhere
 * (LogIsUtf8() tells). Names are compared byte for byte. A run of NUL bytes
 * inside a text, which would end it early, is handed out as the symbol
 * U+2400 (E2 90 80). A text returned through an out-parameter belongs to the
 * library: never free it; it stays valid until the next call into the
 * library (any function).
 *
 * Records: a record has six texts - time, group, subgroup, message,
 * acknowledge message, append message. For the logger's files the group is
 * the CallerID and the other three are always empty.
 *
 * Time texts (LogSetTimeRange, LogTimeKey): dates "MM/DD/YYYY" or "MM/DD/YY"
 * (a two-digit year 00-68 means 2000-2068, 69-99 means 1969-1999; month
 * and day may have one digit), times "HH:MM:SS" on the 24-hour clock. No
 * time zone is applied: the moments compare as written in the file.
 *
 * Time key: the number of seconds from 01/01/2000 00:00:00 to the moment,
 * so keys run from 0 (01/01/2000 00:00:00) to 2147483647
 * (01/19/2068 03:14:07). "Before" a key means strictly earlier than that
 * second: a record stamped exactly at the key's moment is not before it.
 *
 * Locking: the logger and this library take flock(LOCK_EX) on the log file
 * before they change it. The logger, once it holds the lock, checks that its
 * descriptor still names the inode at the file's path and reopens the path
 * if not, then appends one record with a single write(). LogDeleteBefore()
 * holds the lock while it re-reads the file, writes the remaining records to
 * a temporary file in the same folder, fsync()s it, renames it over the
 * original and fsync()s the folder, so no appended record is ever lost.
 * LogOpen() takes a shared lock for the moment it measures the file, so it
 * never sees half a record. Neither waits more than 20 seconds for a lock:
 * LogDeleteBefore() then fails, LogOpen() reads the file as it is.
 *
 * Threads: the library keeps one current file for the whole process; call it
 * from one thread only.
 *
 * Each function's comment begins with its ordinal: a stable number that
 * never changes between versions, by which a program may bind to the
 * function instead of by its name.
 */
#ifndef TAMSIN_H
#define TAMSIN_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(TAMSIN_BUILDING)
#define TAMSIN_API __declspec(dllexport)
#else
#define TAMSIN_API __declspec(dllimport)
#endif
#else
#define TAMSIN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Ordinal 1. Makes the file at path the current file, closing the previous
 * one. The file is opened for reading only and shared with other readers
 * and with the logger.
 *
 * Returns the number of records (0 for an empty file), or -1 when the file
 * cannot be read, is not a regular file, or is not a log: its first
 * non-empty line is not a record (so binary files are refused), or it has
 * more than 2147483647 records. A stray byte further on, a NUL among them,
 * is part of the text it stands in. After -1 no file is current.
 *
 * Every record is selected, earliest first, until the next LogSelect(). The
 * time filter of LogSetTimeRange() is kept across files.
 */
TAMSIN_API int32_t LogOpen(const char *path);

/*
 * Ordinal 2. Enumerates the distinct group names of the current file in byte
 * order. Start with cursor 0 and pass each positive result back as the next
 * cursor:
 *
 *     const char *name;
 *     for (int32_t c = LogGetGroup(0, &name); c > 0; c = LogGetGroup(c, &name))
 *         use(name);
 *
 * Returns the next cursor (> 0) with *group set to a name, 0 when there is
 * no further name (*group is then NULL), or -1 when no file is current or
 * group is NULL. Records without a CallerID have no group name.
 */
TAMSIN_API int32_t LogGetGroup(int32_t cursor, const char **group);

/*
 * Ordinal 3. Enumerates the subgroup names of a group, with the cursors of
 * LogGetGroup(). The logger's files have no subgroups, so this returns 0
 * (with *subgroup set to NULL) for any group of a current file, and -1 when
 * no file is current or group or subgroup is NULL.
 */
TAMSIN_API int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup);

/*
 * Ordinal 4. Sets the time filter of later LogSelect() calls: a record
 * passes when its time lies from fromDate fromTime to toDate toTime, both
 * ends included. Four NULLs remove the filter.
 *
 * Returns 1 when the filter was set or removed, or 0 when a text is not a
 * valid date or time (or only some are NULL); the previous filter then
 * stays. A range whose end lies before its start is valid and passes
 * nothing. The filter does not need a current file and outlives it.
 */
TAMSIN_API int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                                   const char *toTime);

/*
 * Ordinal 6. Selects the records of the current file that pass the time
 * filter and carry the given group and subgroup; NULL means any. An empty
 * group selects the records without a CallerID; for the logger's files any
 * subgroup other than NULL or "" selects nothing.
 *
 * Returns the number n of selected records, addressed by LogGetRecord() as
 * 0 to n-1 earliest first: by time stamp, and records of the same second in
 * file order. (The logger writes the SIM's time stamps, which a burst need
 * not deliver in order.) Returns -1 when no file is current.
 */
TAMSIN_API int32_t LogSelect(const char *group, const char *subgroup);

/*
 * Ordinal 7. Gives the texts of selected record index: its time stamp
 * "MM/DD/YYYY hh:mm:ss", group, subgroup, message, acknowledge message and
 * append message. Any out-parameter may be NULL when that text is not
 * wanted. A message that spans several lines comes back with its lines
 * joined by CR LF, as the logger received it.
 *
 * Returns 1, or -1 when no file is current, index is not selected, or
 * another program cut the file short since it was opened; the
 * out-parameters are then set to NULL.
 */
TAMSIN_API int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                                const char **subgroup, const char **message,
                                const char **ackMessage, const char **appendMessage);

/*
 * Ordinal 9. Returns the time key of a date and time text (see the top of
 * this file), or -1 when a text is NULL or not valid or the moment lies
 * outside 01/01/2000 00:00:00 to 01/19/2068 03:14:07. The key is only
 * passed back to LogExportBefore() and LogDeleteBefore().
 */
TAMSIN_API int32_t LogTimeKey(const char *date, const char *time);

/*
 * Ordinal 10. Writes the current file's records stamped before timeKey, in
 * file order and with their bytes unchanged, to destinationPath as a log
 * file of the same format, replacing what was there (through a temporary
 * file, so a failure leaves the destination as it was). The destination
 * keeps its mode when it exists. With no such record the destination
 * becomes an empty log.
 *
 * Returns 1 on success, or 0 when no file is current, timeKey is negative,
 * destinationPath is NULL or names the current file, or writing or syncing
 * fails (a move must not remove records whose copy may not last).
 */
TAMSIN_API int32_t LogExportBefore(int32_t timeKey, const char *destinationPath);

/*
 * Ordinal 11. Removes the records stamped before timeKey from the log file
 * at sourcePath under the lock protocol described at the top of this file.
 * The file keeps its mode, owner and every other record, including those
 * appended since it was opened. The current file's records do not change;
 * open the file again to see the result.
 *
 * Export then delete is a move: right after LogExportBefore() with the same
 * key, when sourcePath is the current file, only the records that export
 * wrote are removed, so a late record with an old time stamp that the
 * logger appended in between is kept, never lost.
 *
 * Returns 1 when the records are gone (also when no record was before the
 * key and the file was left untouched, and when the new file took the old
 * one's place but the folder could not be synced afterwards), or 0 when
 * timeKey is negative, sourcePath is NULL or not a log, the file was
 * replaced since that export, its lock stays taken for 20 seconds, or
 * reading, writing or renaming fails; the file is then unchanged.
 */
TAMSIN_API int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath);

/*
 * Ordinal 12. Releases the current file and its selection. Returns 1 when a
 * file was current, 0 when none was; calling it with no current file is
 * harmless.
 */
TAMSIN_API int32_t LogClose(void);

/*
 * Ordinal 13. Returns 1 when some record of the current file carries a group
 * name (a CallerID), else 0 (also when no file is current).
 */
TAMSIN_API int32_t LogHasGroup(void);

/*
 * Ordinal 14. Returns 1 when some record of the current file carries a
 * subgroup name, else 0. The logger's files never do.
 */
TAMSIN_API int32_t LogHasSubgroup(void);

/*
 * Ordinal 15. Reads what was appended to the current file since it was
 * opened or last refreshed, under the same shared lock as LogOpen(). The
 * new records join the file, and those that pass the last LogSelect() (its
 * group and subgroup, and the time filter in force for it) join the
 * selection at their place in time order; the records before keep their
 * indexes up to *firstChanged.
 *
 * Returns the number of records of the file, with *selected set to the
 * number of selected records and *firstChanged to the first selection index
 * whose record is new or changed (equal to *selected when nothing changed);
 * either pointer may be NULL. Returns -1 when no file is current, or when
 * the path names another file than the one opened (another program replaced
 * it) or the file was cut short: open it again. While the path names
 * nothing, or a writer holds the file's lock for more than 2 seconds,
 * nothing changes.
 */
TAMSIN_API int32_t LogRefresh(int32_t *selected, int32_t *firstChanged);

/*
 * Ordinal 16. Returns 1 when every byte of the current file is well-formed
 * UTF-8 (plain ASCII included), 0 when some is not, as in a history written
 * in a legacy code page, or -1 when no file is current.
 */
TAMSIN_API int32_t LogIsUtf8(void);

/*
 * Ordinal 17. Returns how many records of the current file, of every group
 * and whatever the time filter and the selection, are stamped before
 * timeKey: those LogExportBefore() would write and LogDeleteBefore() remove
 * of the file as read so far (LogRefresh() adds what was appended since).
 * Returns -1 when no file is current or timeKey is negative.
 */
TAMSIN_API int32_t LogCountBefore(int32_t timeKey);

#ifdef __cplusplus
}
#endif

#endif /* TAMSIN_H */
