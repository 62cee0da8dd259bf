#pragma once

// The history file's record format, as the logger writes it and the library
// reads it. One record is a line
//
//     MM/DD/YYYY hh:mm:ss [Caller] message
//
// ended by CR LF (a bare LF is read too), the caller being optional; any
// further line of its message follows with one leading space. A line that
// does not begin with a stamp continues the record before it, so a file
// whose first line with text is not a record is no history file; a byte
// order mark may open it. Pure functions over memory, so they can be tested
// and fuzzed on their own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tamsin {

// Seconds from 01/01/2000 00:00:00, the clock of the file (no time zone).
using Seconds = int64_t;

inline constexpr size_t kStampLength = 19; // "MM/DD/YYYY hh:mm:ss"
// Where a caller's name begins: after the stamp and " [".
inline constexpr size_t kCallerBegin = kStampLength + 2;

// Record times are kept in 32 bits; moments outside the int32 range of
// Seconds (before 1931 or after 01/19/2068 03:14:07) are clamped to its ends.
int32_t ClampSeconds(Seconds s);

// Seconds of a civil date and time; the fields must already be in range.
Seconds SecondsOf(int year, int month, int day, int hour, int minute, int second);

// Days in the month, leap years included.
int DaysInMonth(int year, int month);

// "MM/DD/YYYY hh:mm:ss" at p with at least kStampLength bytes: strict
// positions and a real calendar date.
bool ParseStamp(const char *p, Seconds *out);

// Date text "MM/DD/YYYY" or "MM/DD/YY" (month and day may have one digit)
// and time text "HH:MM:SS" (hour may have one digit).
bool ParseDateTime(std::string_view date, std::string_view time, Seconds *out);

// The first line of a record, without its line end.
struct RecordHead
{
    Seconds time = 0;
    bool hasCaller = false;
    size_t callerBegin = 0; // offsets into the line
    size_t callerEnd = 0;
    size_t messageBegin = 0;
};

// True when the line begins with a time stamp followed by the end of the
// line or a space; then fills head. A caller is the text between " [" and the
// first "] " (or a "]" closing the line); without one the message is the rest
// of the line after the stamp and its space.
bool ParseRecordHead(std::string_view line, RecordHead *head);

// The same for a line known only by its first bytes (at least
// min(length, kCallerBegin) of them), its length, the offset of its first
// "] " at or after kCallerBegin (npos when there is none) and its last byte:
// a line too long to hold in memory is read this way.
bool ParseRecordHead(std::string_view prefix, size_t length, size_t close, char last,
                     RecordHead *head);

// The message of a record whose bytes are [record, record + size): the first
// line's text from messageBegin, then each further line joined by CR LF with
// one leading space removed. out is replaced.
void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out);

} // namespace tamsin
