#include "rest/InviteStore.h"

#include "core/Crypto.h"
#include "rest/PgTypes.h"

#include <QJsonDocument>

#include <sqlite3.h>

namespace tbserver {

namespace {

constexpr auto columns =
    "id, owner_id, token, visitor_name, visitor_email, answers, visit_date, visit_time, note, "
    "created_at, used_at";

std::optional<QString> optionalText(const Statement &statement, int column) {
    return statement.isNull(column) ? std::nullopt : std::optional<QString>(statement.string(column));
}

QJsonValue orNull(const std::optional<QString> &value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QByteArray canonicalId(const QString &id) {
    return pg::uuid(id.toUtf8()).value_or(QByteArray());
}

} // namespace

QJsonObject InviteRecord::toJson() const {
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("token"), token},
                       {QStringLiteral("visitor_name"), visitorName},
                       {QStringLiteral("visitor_email"), visitorEmail},
                       {QStringLiteral("answers"), answers},
                       {QStringLiteral("visit_date"), orNull(visitDate)},
                       {QStringLiteral("visit_time"), orNull(visitTime)},
                       {QStringLiteral("note"), orNull(note)},
                       {QStringLiteral("created_at"), createdAt},
                       {QStringLiteral("used_at"), orNull(usedAt)}};
}

InviteRecord InviteStore::create(const QString &ownerId, const NewInviteRecord &invite) {
    InviteRecord record;
    record.id = crypto::uuidV4();
    record.ownerId = QString::fromLatin1(canonicalId(ownerId));
    record.token = invite.token.isEmpty() ? QString::fromLatin1(crypto::randomToken()) : invite.token;
    record.visitorName = invite.visitorName;
    record.visitorEmail = invite.visitorEmail;
    record.answers = invite.answers;
    record.visitDate = invite.visitDate;
    record.visitTime = invite.visitTime;
    record.note = invite.note;
    record.createdAt = QString::fromLatin1(m_context.timestampNow());

    Database &db = m_context.db();
    const auto store = [&] {
        Statement statement = db.prepare(QByteArray("INSERT INTO invites (") + columns +
                                         ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, NULL)");
        statement.bind(1, record.id)
            .bind(2, record.ownerId)
            .bind(3, record.token)
            .bind(4, record.visitorName)
            .bind(5, record.visitorEmail)
            .bindText(6, QJsonDocument(record.answers).toJson(QJsonDocument::Compact))
            .bind(7, record.visitDate ? QVariant(*record.visitDate) : QVariant())
            .bind(8, record.visitTime ? QVariant(*record.visitTime) : QVariant())
            .bind(9, record.note ? QVariant(*record.note) : QVariant())
            .bind(10, record.createdAt);
        statement.run();
    };
    if (sqlite3_get_autocommit(db.handle())) {
        db.transaction(store);
    } else {
        store();
    }
    return record;
}

std::optional<InviteRecord> InviteStore::find(const QString &ownerId, const QString &id) const {
    const QByteArray owner = canonicalId(ownerId);
    const QByteArray invite = canonicalId(id);
    if (owner.isEmpty() || invite.isEmpty()) {
        return std::nullopt;
    }
    return findWhere("id = ? AND owner_id = ?", {invite, owner});
}

void InviteStore::remove(const QString &ownerId, const QString &id) {
    Statement statement = m_context.db().prepare("DELETE FROM invites WHERE id = ? AND owner_id = ?");
    statement.bindText(1, canonicalId(id)).bindText(2, canonicalId(ownerId));
    statement.run();
}

std::optional<InviteRecord> InviteStore::findByToken(const QString &token) const {
    if (token.isEmpty()) {
        return std::nullopt;
    }
    return findWhere("token = ?", {token.toUtf8()});
}

std::optional<InviteRecord> InviteStore::findWhere(const QByteArray &condition,
                                                   const QList<QByteArray> &values) const {
    Statement statement =
        m_context.db().prepare(QByteArray("SELECT ") + columns + " FROM invites WHERE " + condition);
    for (qsizetype i = 0; i < values.size(); ++i) {
        statement.bindText(int(i + 1), values[i]);
    }
    if (!statement.step()) {
        return std::nullopt;
    }
    InviteRecord record;
    record.id = statement.string(0);
    record.ownerId = statement.string(1);
    record.token = statement.string(2);
    record.visitorName = statement.string(3);
    record.visitorEmail = statement.string(4);
    record.answers = QJsonDocument::fromJson(statement.text(5)).array();
    record.visitDate = optionalText(statement, 6);
    record.visitTime = optionalText(statement, 7);
    record.note = optionalText(statement, 8);
    record.createdAt = statement.string(9);
    record.usedAt = optionalText(statement, 10);
    return record;
}

} // namespace tbserver
