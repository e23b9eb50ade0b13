#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <QTimeZone>
#include <QUuid>

#include <optional>

namespace tallybrook {

// An answer a guest gave ahead of time on an invite.
struct InviteAnswer {
    int slot = 0;
    std::optional<QString> label;
    QString value;

    [[nodiscard]] static InviteAnswer fromJson(const QJsonValue &jsonValue);

    friend bool operator==(const InviteAnswer &, const InviteAnswer &) = default;
};

// Where an invite stands, derived from its use and its visit day.
struct InviteStatus {
    enum class Kind { SignedIn, Waiting, Expired };

    Kind kind = Kind::Waiting;
    // Only for SignedIn: when the invite was used, absent when that time is unreadable.
    std::optional<QDateTime> signedInAt;

    [[nodiscard]] static InviteStatus signedIn(std::optional<QDateTime> at) {
        return {Kind::SignedIn, std::move(at)};
    }
    [[nodiscard]] static InviteStatus waiting() { return {Kind::Waiting, std::nullopt}; }
    [[nodiscard]] static InviteStatus expired() { return {Kind::Expired, std::nullopt}; }

    friend bool operator==(const InviteStatus &, const InviteStatus &) = default;
};

// The REST select list that reads exactly the keys of an Invite.
inline constexpr QStringView inviteColumns =
    u"id,token,visitor_name,visitor_email,answers,visit_date,visit_time,note,created_at,used_at";

struct Invite {
    QUuid id;
    QString token;
    QString visitorName;
    QString visitorEmail;
    QList<InviteAnswer> answers;
    std::optional<QString> visitDate; // "yyyy-MM-dd", read leniently
    std::optional<QString> visitTime; // "HH:mm", read leniently
    std::optional<QString> note;
    QString createdAt;             // kept as received
    std::optional<QString> usedAt; // kept as received

    [[nodiscard]] static Invite fromJson(const QJsonValue &jsonValue);

    // The start of the visit date in `zone`; absent without a date of three whole numbers that form a real
    // day.
    [[nodiscard]] std::optional<QDateTime>
    visitDay(const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // The visit day lies before the start of today; an invite without a visit day is never past.
    [[nodiscard]] bool isPast(const QDateTime &now,
                              const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    [[nodiscard]] InviteStatus status(const QDateTime &now,
                                      const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // "Tuesday, March 4" or "Tuesday, March 4 at 2:30 PM"; absent without a visit day.
    [[nodiscard]] std::optional<QString> visitDescription(const QLocale &locale = QLocale()) const;

    friend bool operator==(const Invite &, const Invite &) = default;
};

// The body sent to the website's invite service.
struct NewInvite {
    struct Answer {
        int slot = 0;
        QString value;

        [[nodiscard]] QJsonObject toJson() const;

        friend bool operator==(const Answer &, const Answer &) = default;
    };

    QList<Answer> answers;
    QString email;
    std::optional<QString> visitDate;
    std::optional<QString> visitTime;
    std::optional<QString> note;

    [[nodiscard]] QJsonObject toJson() const;

    friend bool operator==(const NewInvite &, const NewInvite &) = default;
};

} // namespace tallybrook
