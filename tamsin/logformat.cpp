#include "logformat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

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
    static constexpr char kShape[] = "00/00/0000 00:00:00";
    for (size_t i = 0; i < kStampLength; ++i) {
        if (kShape[i] == '0' ? !IsDigit(p[i]) : p[i] != kShape[i])
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

bool ParseRecordHead(std::string_view line, RecordHead *head)
{
    if (line.size() < kStampLength || !ParseStamp(line.data(), &head->time))
        return false;
    head->hasCaller = false;
    head->callerBegin = head->callerEnd = kStampLength;
    if (line.size() == kStampLength) {
        head->messageBegin = kStampLength;
        return true;
    }
    if (line[kStampLength] != ' ')
        return false;
    head->messageBegin = kStampLength + 1;
    if (line.size() > kStampLength + 1 && line[kStampLength + 1] == '[') {
        const size_t begin = kStampLength + 2;
        const size_t close = line.find("] ", begin);
        if (close != std::string_view::npos) {
            head->hasCaller = true;
            head->callerBegin = begin;
            head->callerEnd = close;
            head->messageBegin = close + 2;
        } else if (line.back() == ']') {
            head->hasCaller = true;
            head->callerBegin = begin;
            head->callerEnd = line.size() - 1;
            head->messageBegin = line.size();
        }
    }
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

uint64_t LogIndex::Begin(size_t i) const
{
    uint64_t high = 0;
    if (!m_highStarts.empty()) {
        high =
            std::upper_bound(m_highStarts.begin(), m_highStarts.end(), static_cast<uint32_t>(i)) -
            m_highStarts.begin();
    }
    return (high << 32) | m_low[i];
}

int64_t LogIndex::FindGroup(std::string_view name) const
{
    if (name.empty())
        return 0;
    const auto it = std::lower_bound(
        m_sorted.begin(), m_sorted.end(), name,
        [this](uint32_t id, std::string_view n) { return std::string_view(m_names[id]) < n; });
    if (it == m_sorted.end() || m_names[*it] != name)
        return -1;
    return *it;
}

size_t LogIndex::MemoryBytes() const
{
    size_t bytes =
        m_low.capacity() * sizeof(uint32_t) + m_highStarts.capacity() * sizeof(uint32_t) +
        m_times.capacity() * sizeof(int32_t) + m_groups.capacity() * sizeof(uint32_t) +
        m_sorted.capacity() * sizeof(uint32_t) + m_names.capacity() * sizeof(std::string);
    for (const std::string &name : m_names)
        bytes += name.capacity() > 15 ? name.capacity() + 1 : 0;
    return bytes;
}

LogIndex::Status LogIndex::Build(const char *data, size_t size, size_t maxRecords)
{
    *this = LogIndex();
    m_size = size;
    m_names.emplace_back();
    if (size == 0)
        return Status::Ok;
    if (std::memchr(data, 0, size))
        return Status::HasNul;

    // A record line is at least the stamp plus CR LF; reserving for that
    // bound would waste memory on long lines, so guess from an average line.
    const size_t guess = std::min(size / 48 + 16, maxRecords);
    m_low.reserve(guess);
    m_times.reserve(guess);
    m_groups.reserve(guess);

    std::unordered_map<std::string_view, uint32_t> ids;
    std::string_view lastCaller;
    uint32_t lastId = 0;

    const bool bom = size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0;
    size_t pos = bom ? 3 : 0;
    while (pos < size) {
        const void *nl = std::memchr(data + pos, '\n', size - pos);
        const size_t lineEnd = nl ? static_cast<const char *>(nl) - data : size;
        size_t contentEnd = lineEnd;
        if (contentEnd > pos && data[contentEnd - 1] == '\r')
            --contentEnd;
        const std::string_view line(data + pos, contentEnd - pos);
        RecordHead head;
        if (ParseRecordHead(line, &head)) {
            if (m_low.size() >= maxRecords) {
                *this = LogIndex();
                return Status::TooManyRecords;
            }
            while (pos >= (static_cast<uint64_t>(m_highStarts.size()) + 1) << 32)
                m_highStarts.push_back(static_cast<uint32_t>(m_low.size()));
            m_low.push_back(static_cast<uint32_t>(pos));
            m_times.push_back(ClampSeconds(head.time));
            uint32_t id = 0;
            if (head.callerEnd > head.callerBegin) {
                const std::string_view caller =
                    line.substr(head.callerBegin, head.callerEnd - head.callerBegin);
                if (caller == lastCaller && lastId != 0) {
                    id = lastId;
                } else {
                    const auto [it, added] =
                        ids.try_emplace(caller, static_cast<uint32_t>(m_names.size()));
                    if (added)
                        m_names.emplace_back(caller);
                    id = it->second;
                    lastCaller = caller;
                    lastId = id;
                }
            }
            m_groups.push_back(id);
        } else if (m_low.empty() && !line.empty()) {
            *this = LogIndex();
            return Status::NotALog;
        }
        pos = nl ? lineEnd + 1 : size;
    }

    // The guess above may overshoot by half; give the rest back.
    if (m_low.capacity() > m_low.size() + m_low.size() / 8) {
        m_low.shrink_to_fit();
        m_times.shrink_to_fit();
        m_groups.shrink_to_fit();
    }
    m_sorted.reserve(m_names.size() - 1);
    for (uint32_t id = 1; id < m_names.size(); ++id)
        m_sorted.push_back(id);
    std::sort(m_sorted.begin(), m_sorted.end(),
              [this](uint32_t a, uint32_t b) { return m_names[a] < m_names[b]; });
    return Status::Ok;
}

} // namespace tamsin
