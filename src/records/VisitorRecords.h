#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace tallybrook {

// One question and its answer, as stored on a visitor record.
struct VisitorAnswer {
    QString label;
    QString value;

    [[nodiscard]] static VisitorAnswer fromJson(const QJsonValue &jsonValue);
    [[nodiscard]] QJsonObject toJson() const;

    friend bool operator==(const VisitorAnswer &, const VisitorAnswer &) = default;
};

// The REST select list that reads exactly the keys of a VisitorRow.
inline constexpr QStringView visitorColumns =
    u"id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,device_name";

// One visitor-log record as read back from the server.
struct VisitorRow {
    QUuid id;
    QString visitorName;
    std::optional<QString> hostName;
    QList<VisitorAnswer> answers;
    QDateTime signedInAt;
    // An unreadable sign-out time reads as absent, so the visitor still counts as on site.
    std::optional<QDateTime> signedOutAt;
    std::optional<QString> listName;
    std::optional<QString> deviceName;
    // Not from the backend: a sign-in made while it could not be reached, waiting to be stored.
    bool isPending = false;

    // Throws DecodeError; an unreadable "signed_in_at" fails with exactly "Bad timestamp".
    [[nodiscard]] static VisitorRow fromJson(const QJsonValue &jsonValue);

    [[nodiscard]] bool isOnSite() const { return !signedOutAt; }

    friend bool operator==(const VisitorRow &, const VisitorRow &) = default;
};

// The insert body for a visitor signing in at this desk.
struct NewVisitor {
    QUuid ownerID;
    QString deviceRecordID;
    QString visitorName;
    std::optional<QString> hostName; // written as null when absent
    QList<VisitorAnswer> answers;
    QDateTime signedInAt;
    QString deviceName;

    [[nodiscard]] QJsonObject toJson() const;

    friend bool operator==(const NewVisitor &, const NewVisitor &) = default;
};

} // namespace tallybrook
