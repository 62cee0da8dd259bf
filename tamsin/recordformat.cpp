#include "recordformat.h"

#include <cstring>
#include <limits>

namespace tamsin {

namespace {

constexpr int64_t kDaysFrom1970To2000 = 10957;

// Days since 01/01/1970 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int Two(const char *p)
{
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// A run of 1..maxDigits digits as the whole of text.
bool Number(std::string_view text, size_t minDigits, size_t maxDigits, int *out)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

bool Split3(std::string_view text, char sep, std::string_view parts[3])
{
    const size_t a = text.find(sep);
    if (a == std::string_view::npos)
        return false;
    const size_t b = text.find(sep, a + 1);
    if (b == std::string_view::npos || text.find(sep, b + 1) != std::string_view::npos)
        return false;
    parts[0] = text.substr(0, a);
    parts[1] = text.substr(a + 1, b - a - 1);
    parts[2] = text.substr(b + 1);
    return true;
}

bool ValidFields(int year, int month, int day, int hour, int minute, int second)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month) && hour <= 23 && minute <= 59 && second <= 59;
}

} // namespace

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[month - 1];
}

Seconds SecondsOf(int year, int month, int day, int hour, int minute, int second)
{
    const int64_t days = DaysFromCivil(year, month, day) - kDaysFrom1970To2000;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

int32_t ClampSeconds(Seconds s)
{
    if (s < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (s > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(s);
}

bool ParseStamp(const char *p, Seconds *out)
{
    static constexpr char kShape[] = "99/99/9999 99:99:99";
    for (size_t i = 0; i < kStampLength; ++i) {
        if (kShape[i] == '9' ? !IsDigit(p[i]) : p[i] != kShape[i])
            return false;
    }
    const int month = Two(p);
    const int day = Two(p + 3);
    const int year = Two(p + 6) * 100 + Two(p + 8);
    const int hour = Two(p + 11);
    const int minute = Two(p + 14);
    const int second = Two(p + 17);
    if (!ValidFields(year, month, day, hour, minute, second))
        return false;
    *out = SecondsOf(year, month, day, hour, minute, second);
    return true;
}

bool ParseDateTime(std::string_view date, std::string_view time, Seconds *out)
{
    std::string_view d[3];
    std::string_view t[3];
    if (!Split3(date, '/', d) || !Split3(time, ':', t))
        return false;
    int month, day, year, hour, minute, second;
    if (!Number(d[0], 1, 2, &month) || !Number(d[1], 1, 2, &day) || !Number(t[0], 1, 2, &hour) ||
        !Number(t[1], 2, 2, &minute) || !Number(t[2], 2, 2, &second))
        return false;
    if (d[2].size() == 2) {
        if (!Number(d[2], 2, 2, &year))
            return false;
        year += year < 69 ? 2000 : 1900; // the C library's %y pivot
    } else if (!Number(d[2], 4, 4, &year)) {
        return false;
    }
    if (!ValidFields(year, month, day, hour, minute, second))
        return false;
    *out = SecondsOf(year, month, day, hour, minute, second);
    return true;
}

namespace {

// The part both forms share: the stamp and what follows it. True when the
// line is a record; *bracket tells that a caller's "[" follows.
bool StampedLine(std::string_view prefix, size_t length, RecordHead *head, bool *bracket)
{
    *bracket = false;
    if (length < kStampLength || prefix.size() < kStampLength ||
        !ParseStamp(prefix.data(), &head->time))
        return false;
    head->hasCaller = false;
    head->callerBegin = head->callerEnd = kStampLength;
    if (length == kStampLength) {
        head->messageBegin = kStampLength;
        return true;
    }
    if (prefix.size() <= kStampLength || prefix[kStampLength] != ' ')
        return false;
    head->messageBegin = kStampLength + 1;
    *bracket = length > kCallerBegin - 1 && prefix.size() > kCallerBegin - 1 &&
               prefix[kCallerBegin - 1] == '[';
    return true;
}

void CallerUpTo(size_t close, size_t length, char last, RecordHead *head)
{
    if (close != std::string_view::npos) {
        head->hasCaller = true;
        head->callerBegin = kCallerBegin;
        head->callerEnd = close;
        head->messageBegin = close + 2;
    } else if (last == ']') {
        head->hasCaller = true;
        head->callerBegin = kCallerBegin;
        head->callerEnd = length - 1;
        head->messageBegin = length;
    }
}

} // namespace

bool ParseRecordHead(std::string_view line, RecordHead *head)
{
    bool bracket = false;
    if (!StampedLine(line, line.size(), head, &bracket))
        return false;
    if (bracket)
        CallerUpTo(line.find("] ", kCallerBegin), line.size(), line.back(), head);
    return true;
}

bool ParseRecordHead(std::string_view prefix, size_t length, size_t close, char last,
                     RecordHead *head)
{
    bool bracket = false;
    if (!StampedLine(prefix, length, head, &bracket))
        return false;
    if (bracket)
        CallerUpTo(close, length, last, head);
    return true;
}

void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out)
{
    out->clear();
    size_t pos = 0;
    bool first = true;
    while (pos < size) {
        const void *nl = std::memchr(record + pos, '\n', size - pos);
        const size_t lineEnd = nl ? static_cast<const char *>(nl) - record : size;
        size_t contentEnd = lineEnd;
        if (contentEnd > pos && record[contentEnd - 1] == '\r')
            --contentEnd;
        size_t from = pos;
        if (first) {
            from = std::min(pos + messageBegin, contentEnd);
        } else {
            out->append("\r\n", 2);
            if (from < contentEnd && record[from] == ' ')
                ++from;
        }
        out->append(record + from, contentEnd - from);
        first = false;
        pos = nl ? lineEnd + 1 : size;
    }
}

} // namespace tamsin
