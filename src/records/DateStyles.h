#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

// The desk's date and time styles in one place, so every screen and export words dates the same way.
namespace tallybrook {

// Weekday, month name and day number as the locale arranges them: "Tuesday, March 4", "Dienstag, 4. März".
[[nodiscard]] QString weekdayMonthDay(const QDate &date, const QLocale &locale);

// The locale's short time style: "2:30 PM", "14:30".
[[nodiscard]] QString shortTime(const QTime &time, const QLocale &locale);

// The locale's long date without the weekday and with the month abbreviated: "MMM d, yyyy", "d. MMM yyyy".
[[nodiscard]] QString abbreviatedDateFormat(const QLocale &locale);

// An instant in the computer's zone as an abbreviated date and a short time: "Mar 4, 2025, 2:05 PM".
[[nodiscard]] QString abbreviatedDateTime(const QDateTime &instant, const QLocale &locale);

} // namespace tallybrook
