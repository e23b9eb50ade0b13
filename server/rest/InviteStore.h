#pragma once

#include "core/ServerContext.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace tbserver {

// What a new invite holds. The website's invite API fills it from the desk's request.
struct NewInviteRecord {
    QString token; // the guest link's secret; a fresh one when empty
    QString visitorName;
    QString visitorEmail;
    QJsonArray answers;               // [{"slot": n, "label": "...", "value": "..."}]
    std::optional<QString> visitDate; // "yyyy-MM-dd"
    std::optional<QString> visitTime; // "HH:mm"
    std::optional<QString> note;
};

// One stored invite, as the REST table "invites" shows it.
struct InviteRecord {
    QString id;      // lower-case uuid
    QString ownerId; // lower-case uuid
    QString token;   // URL-safe, unique
    QString visitorName;
    QString visitorEmail;
    QJsonArray answers;
    std::optional<QString> visitDate;
    std::optional<QString> visitTime;
    std::optional<QString> note;
    QString createdAt; // "2025-03-04T09:05:12.123000+00:00"
    std::optional<QString> usedAt;

    // The REST row: id, token, visitor_name, visitor_email, answers, visit_date, visit_time, note,
    // created_at, used_at (absent optionals as null).
    [[nodiscard]] QJsonObject toJson() const;
};

// The invites table for the website service, which creates invites (the REST service only lists, marks and
// deletes them). Every call runs in its own transaction unless one is already open on the connection.
class InviteStore final {
public:
    explicit InviteStore(ServerContext &context) : m_context(context) {}

    // Stores a new invite of `ownerId` (a user id from a checked token) with a fresh id, token and
    // created_at. Throws DatabaseError if the owner does not exist (foreign key) or the database fails.
    InviteRecord create(const QString &ownerId, const NewInviteRecord &invite);
    // Deletes the owner's invite with this id, if there is one.
    void remove(const QString &ownerId, const QString &id);
    // The owner's invite with this id, for resending; nothing for another account's invite.
    [[nodiscard]] std::optional<InviteRecord> find(const QString &ownerId, const QString &id) const;
    // The invite a link "/i/<token>" names, whoever owns it.
    [[nodiscard]] std::optional<InviteRecord> findByToken(const QString &token) const;

private:
    [[nodiscard]] std::optional<InviteRecord> findWhere(const QByteArray &condition,
                                                        const QList<QByteArray> &values) const;

    ServerContext &m_context;
};

} // namespace tbserver
