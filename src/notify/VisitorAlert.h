#pragma once

#include "records/VisitorRecords.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace tallybrook {

// One message to a visitor's host, built at the moment of a sign-in or sign-out and dropped after the post.
struct VisitorAlert {
    enum class Event { SignIn, SignOut };

    Event event = Event::SignIn;
    QString visitorName;
    QList<VisitorAnswer> answers; // in form order
    std::optional<QString> hostName;
    QDateTime date;

    // "Ann has arrived to see Bob", "Ann has signed in", "Ann has signed out".
    [[nodiscard]] QString summary() const;
    // One "label: value" per answer; an empty label reads "Answer".
    [[nodiscard]] QStringList answerLines() const;
    // The time of day of `date` in the locale's short style, without a date ("2:05 PM").
    [[nodiscard]] QString time(const QLocale &locale = QLocale(),
                               const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // The summary, " · " and the time on the first line, then the answer lines.
    [[nodiscard]] QString fullText(const QLocale &locale = QLocale(),
                                   const QTimeZone &zone = QTimeZone::systemTimeZone()) const;

    // What the settings window's test button sends.
    [[nodiscard]] static VisitorAlert testMessage(const QDateTime &now);

    friend bool operator==(const VisitorAlert &, const VisitorAlert &) = default;
};

// "sign_in" or "sign_out", as the generic payload sends it.
[[nodiscard]] QString eventText(VisitorAlert::Event event);

} // namespace tallybrook
