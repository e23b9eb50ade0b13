#include "records/InviteRecords.h"

#include "records/DateStyles.h"
#include "records/JsonRead.h"
#include "records/Timestamps.h"

#include <QJsonArray>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

// The whole numbers among the pieces of `text` split at `separator`; other pieces are dropped, not fatal.
QList<int> wholeNumbers(const QString &text, QChar separator) {
    static const QRegularExpression digits(u"^[+-]?[0-9]+$"_s);
    QList<int> numbers;
    for (const QString &piece : text.split(separator)) {
        bool ok = false;
        const int number = piece.toInt(&ok);
        if (ok && digits.match(piece).hasMatch())
            numbers.append(number);
    }
    return numbers;
}

std::optional<QDate> visitCalendarDay(const std::optional<QString> &visitDate) {
    if (!visitDate)
        return std::nullopt;
    const QList<int> numbers = wholeNumbers(*visitDate, u'-');
    // An impossible date (month 13, February 30) is no day at all, rather than one rolled into the next
    // month.
    if (numbers.size() != 3 || !QDate::isValid(numbers[0], numbers[1], numbers[2]))
        return std::nullopt;
    return QDate(numbers[0], numbers[1], numbers[2]);
}

} // namespace

InviteAnswer InviteAnswer::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    return {json::requiredInt(object, u"slot"), json::optionalText(object, u"label"),
            json::requiredText(object, u"value")};
}

Invite Invite::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    Invite invite;
    invite.id = json::requiredUuid(object, u"id");
    invite.token = json::requiredText(object, u"token");
    invite.visitorName = json::requiredText(object, u"visitor_name");
    invite.visitorEmail = json::requiredText(object, u"visitor_email");
    invite.answers = json::listOf<InviteAnswer>(json::requiredArray(object, u"answers"));
    invite.visitDate = json::optionalText(object, u"visit_date");
    invite.visitTime = json::optionalText(object, u"visit_time");
    invite.note = json::optionalText(object, u"note");
    invite.createdAt = json::requiredText(object, u"created_at");
    invite.usedAt = json::optionalText(object, u"used_at");
    return invite;
}

std::optional<QDateTime> Invite::visitDay(const QTimeZone &zone) const {
    const std::optional<QDate> day = visitCalendarDay(visitDate);
    if (!day)
        return std::nullopt;
    // startOfDay, not 00:00: where a clock change skips midnight the day starts at the first moment that
    // exists.
    return day->startOfDay(zone);
}

bool Invite::isPast(const QDateTime &now, const QTimeZone &zone) const {
    const std::optional<QDateTime> day = visitDay(zone);
    return day && *day < now.toTimeZone(zone).date().startOfDay(zone);
}

InviteStatus Invite::status(const QDateTime &now, const QTimeZone &zone) const {
    if (usedAt)
        return InviteStatus::signedIn(readTimestamp(*usedAt));
    if (isPast(now, zone))
        return InviteStatus::expired();
    return InviteStatus::waiting();
}

std::optional<QString> Invite::visitDescription(const QLocale &locale) const {
    const std::optional<QDate> day = visitCalendarDay(visitDate);
    if (!day)
        return std::nullopt;
    QString description = weekdayMonthDay(*day, locale);
    if (visitTime) {
        const QList<int> numbers = wholeNumbers(*visitTime, u':');
        if (numbers.size() >= 2 && QTime::isValid(numbers[0], numbers[1], 0))
            description += u" at "_s + shortTime(QTime(numbers[0], numbers[1]), locale);
    }
    return description;
}

QJsonObject NewInvite::Answer::toJson() const {
    return {{u"slot"_s, slot}, {u"value"_s, value}};
}

QJsonObject NewInvite::toJson() const {
    QJsonArray answerArray;
    for (const Answer &answer : answers)
        answerArray.append(answer.toJson());
    QJsonObject object{{u"answers"_s, answerArray}, {u"email"_s, email}};
    if (visitDate)
        object.insert(u"visit_date"_s, *visitDate);
    if (visitTime)
        object.insert(u"visit_time"_s, *visitTime);
    if (note)
        object.insert(u"note"_s, *note);
    return object;
}

} // namespace tallybrook
