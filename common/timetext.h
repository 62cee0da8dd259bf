#pragma once
// A moment as both programs write it for a person: the history log's own
// form, "MM/DD/YYYY hh:mm:ss" (month first, 24-hour clock, with seconds),
// whatever the locale. A locale's short forms drop the seconds and may hold
// fields Qt cannot write (zh_TW's day period shows as a bare "B"), and the
// log's records, the logger's window and the viewer's list, pickers and
// questions then read alike.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace timetext {

// The two halves, also the display formats of date and time pickers.
inline const QString kDateFormat = QStringLiteral("MM/dd/yyyy");
inline const QString kTimeFormat = QStringLiteral("HH:mm:ss");

enum class Parts
{
    DateAndTime,
    Date,
    Time
};

inline QString Format(const QDateTime &moment, Parts parts = Parts::DateAndTime)
{
    const QLocale c = QLocale::c();
    switch (parts) {
    case Parts::Date:
        return c.toString(moment.date(), kDateFormat);
    case Parts::Time:
        return c.toString(moment.time(), kTimeFormat);
    case Parts::DateAndTime:
        break;
    }
    return c.toString(moment, kDateFormat + QLatin1Char(' ') + kTimeFormat);
}

// The date and time of a text in that form, as written (no time zone is
// applied, so a moment that daylight saving skips still reads); invalid when
// the text is not one.
inline QDateTime Parse(const QString &text)
{
    const QStringList halves = text.split(QLatin1Char(' '));
    if (halves.size() != 2)
        return {};
    const QLocale c = QLocale::c();
    const QDate date = c.toDate(halves.at(0), kDateFormat);
    const QTime time = c.toTime(halves.at(1), kTimeFormat);
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

} // namespace timetext
