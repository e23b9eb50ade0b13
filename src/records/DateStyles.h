#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// The desk's date and time styles in one place, so every screen and export words dates the same way.
namespace tallybrook {

// Weekday, month name and day number as the locale arranges them: "Tuesday, March 4", "Dienstag, 4. März".
[[nodiscard]] QString weekdayMonthDay(const QDate &date, const QLocale &locale);

// The locale's short time style: "2:30 PM", "14:30".
[[nodiscard]] QString shortTime(const QTime &time, const QLocale &locale);

} // namespace tallybrook
