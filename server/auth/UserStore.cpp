#include "auth/UserStore.h"

#include "core/Crypto.h"
#include "core/ServerContext.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

const QByteArray userColumns =
    "id, email, password_hash, user_metadata, email_confirmed_at, confirmation_sent_at, "
    "recovery_sent_at, created_at, updated_at, last_sign_in_at";

QByteArray orEmpty(const Statement &row, int column) {
    return row.isNull(column) ? QByteArray() : row.text(column);
}

// A stable identity id per account: the hosted service keeps one email identity per user.
QString identityIdFor(const QString &userId) {
    QByteArray hex = crypto::sha256Hex("email-identity:" + userId.toUtf8()).left(32);
    hex[12] = '4';
    hex[16] = "89ab"[QByteArray::fromHex(hex.mid(16, 2)).at(0) & 3];
    return QString::fromLatin1(hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' +
                               hex.mid(16, 4) + '-' + hex.mid(20));
}

} // namespace

qint64 secondsOfTimestamp(const QByteArray &stored) {
    if (stored.size() < 19) {
        return 0;
    }
    const QDateTime at =
        QDateTime::fromString(QString::fromLatin1(stored.left(19)), u"yyyy-MM-dd'T'HH:mm:ss");
    if (!at.isValid()) {
        return 0;
    }
    return QDateTime(at.date(), at.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

UserStore::UserStore(ServerContext &context) : m_context(context) {}

QString UserStore::normalizedEmail(const QString &typed) {
    return typed.trimmed().toLower();
}

bool UserStore::isValidEmail(const QString &email) {
    static const QRegularExpression format(
        uR"(^[a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)"
        uR"((?:\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*$)"_s);
    return format.match(email).hasMatch();
}

std::optional<UserRecord> UserStore::findWhere(const QByteArray &sql, const QString &value) const {
    Statement row = m_context.db().prepare("SELECT " + userColumns + " FROM users WHERE " + sql);
    row.bind(1, value);
    if (!row.step()) {
        return std::nullopt;
    }
    UserRecord user;
    user.id = row.string(0);
    user.email = row.string(1);
    user.passwordHash = row.text(2);
    user.userMetadata = QJsonDocument::fromJson(row.text(3)).object();
    user.emailConfirmedAt = orEmpty(row, 4);
    user.confirmationSentAt = orEmpty(row, 5);
    user.recoverySentAt = orEmpty(row, 6);
    user.createdAt = row.text(7);
    user.updatedAt = row.text(8);
    user.lastSignInAt = orEmpty(row, 9);
    return user;
}

std::optional<UserRecord> UserStore::findByEmail(const QString &email) const {
    return findWhere("email = ?1", normalizedEmail(email));
}

std::optional<UserRecord> UserStore::findById(const QString &id) const {
    return findWhere("id = ?1", id.toLower());
}

UserRecord UserStore::create(const QString &email, const QByteArray &password, const QJsonObject &metadata,
                             bool confirmed) {
    const QByteArray now = m_context.timestampNow();
    UserRecord user;
    user.id = crypto::uuidV4();
    user.email = normalizedEmail(email);
    user.passwordHash = crypto::hashPassword(password);
    user.userMetadata = metadata;
    user.emailConfirmedAt = confirmed ? now : QByteArray();
    user.createdAt = now;
    user.updatedAt = now;
    Statement insert = m_context.db().prepare("INSERT INTO users (id, email, password_hash, user_metadata, "
                                              "email_confirmed_at, created_at, updated_at) "
                                              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6)");
    insert.bind(1, user.id).bind(2, user.email).bindText(3, user.passwordHash);
    insert.bindText(4, QJsonDocument(metadata).toJson(QJsonDocument::Compact));
    insert.bind(5, confirmed ? QVariant(now) : QVariant()).bindText(6, now);
    insert.run();
    return user;
}

void UserStore::setPassword(const QString &userId, const QByteArray &password) {
    Statement update =
        m_context.db().prepare("UPDATE users SET password_hash = ?2, updated_at = ?3 WHERE id = ?1");
    update.bind(1, userId).bindText(2, crypto::hashPassword(password)).bindText(3, m_context.timestampNow());
    update.run();
}

void UserStore::setMetadata(const QString &userId, const QJsonObject &metadata) {
    Statement update =
        m_context.db().prepare("UPDATE users SET user_metadata = ?2, updated_at = ?3 WHERE id = ?1");
    update.bind(1, userId).bindText(2, QJsonDocument(metadata).toJson(QJsonDocument::Compact));
    update.bindText(3, m_context.timestampNow());
    update.run();
}

void UserStore::markSignedIn(const QString &userId) {
    Statement update = m_context.db().prepare("UPDATE users SET last_sign_in_at = ?2 WHERE id = ?1");
    update.bind(1, userId).bindText(2, m_context.timestampNow());
    update.run();
}

void UserStore::confirmEmail(const QString &userId) {
    Statement update =
        m_context.db().prepare("UPDATE users SET email_confirmed_at = coalesce(email_confirmed_at, ?2), "
                               "confirmation_token_hash = NULL, "
                               "updated_at = ?2 WHERE id = ?1");
    update.bind(1, userId).bindText(2, m_context.timestampNow());
    update.run();
}

QByteArray UserStore::issueConfirmationToken(const QString &userId) {
    const QByteArray token = crypto::randomToken(32);
    Statement update = m_context.db().prepare(
        "UPDATE users SET confirmation_token_hash = ?2, confirmation_sent_at = ?3 WHERE id = ?1");
    update.bind(1, userId).bindText(2, crypto::sha256Hex(token)).bindText(3, m_context.timestampNow());
    update.run();
    return token;
}

QByteArray UserStore::issueRecoveryToken(const QString &userId) {
    const QByteArray token = crypto::randomToken(32);
    Statement update = m_context.db().prepare(
        "UPDATE users SET recovery_token_hash = ?2, recovery_sent_at = ?3 WHERE id = ?1");
    update.bind(1, userId).bindText(2, crypto::sha256Hex(token)).bindText(3, m_context.timestampNow());
    update.run();
    return token;
}

std::optional<QString> UserStore::confirmWithToken(const QByteArray &token) {
    if (token.isEmpty()) {
        return std::nullopt;
    }
    Statement row = m_context.db().prepare(
        "SELECT id, confirmation_sent_at FROM users WHERE confirmation_token_hash = ?1");
    row.bindText(1, crypto::sha256Hex(token));
    if (!row.step()) {
        return std::nullopt;
    }
    const QString userId = row.string(0);
    const qint64 sentAt = secondsOfTimestamp(orEmpty(row, 1));
    if (m_context.nowSeconds() - sentAt > confirmationLifetime) {
        return std::nullopt;
    }
    confirmEmail(userId);
    return userId;
}

std::optional<QString> UserStore::userForRecoveryToken(const QByteArray &token) const {
    if (token.isEmpty()) {
        return std::nullopt;
    }
    Statement row =
        m_context.db().prepare("SELECT id, recovery_sent_at FROM users WHERE recovery_token_hash = ?1");
    row.bindText(1, crypto::sha256Hex(token));
    if (!row.step()) {
        return std::nullopt;
    }
    if (m_context.nowSeconds() - secondsOfTimestamp(orEmpty(row, 1)) > recoveryLifetime) {
        return std::nullopt;
    }
    return row.string(0);
}

void UserStore::clearRecoveryToken(const QString &userId) {
    Statement update = m_context.db().prepare("UPDATE users SET recovery_token_hash = NULL WHERE id = ?1");
    update.bind(1, userId);
    update.run();
}

QString UserStore::wireTime(const QByteArray &stored) {
    QString text = QString::fromLatin1(stored);
    if (text.endsWith(u"+00:00")) {
        text.chop(6);
        text += u'Z';
    }
    return text;
}

QJsonObject UserStore::toJson(const UserRecord &user) {
    QJsonObject object{
        {u"id"_s, user.id},
        {u"aud"_s, u"authenticated"_s},
        {u"role"_s, u"authenticated"_s},
        {u"email"_s, user.email},
        {u"phone"_s, u""_s},
        {u"app_metadata"_s,
         QJsonObject{{u"provider"_s, u"email"_s}, {u"providers"_s, QJsonArray{u"email"_s}}}},
        {u"user_metadata"_s, user.userMetadata},
        {u"created_at"_s, wireTime(user.createdAt)},
        {u"updated_at"_s, wireTime(user.updatedAt)},
        {u"is_anonymous"_s, false},
    };
    // Absent rather than null, as the hosted service leaves unset times out.
    const auto insertTime = [&object](const QString &key, const QByteArray &stored) {
        if (!stored.isEmpty()) {
            object.insert(key, wireTime(stored));
        }
    };
    insertTime(u"email_confirmed_at"_s, user.emailConfirmedAt);
    insertTime(u"confirmed_at"_s, user.emailConfirmedAt);
    insertTime(u"confirmation_sent_at"_s, user.confirmationSentAt);
    insertTime(u"recovery_sent_at"_s, user.recoverySentAt);
    insertTime(u"last_sign_in_at"_s, user.lastSignInAt);

    QJsonObject identity{
        {u"identity_id"_s, identityIdFor(user.id)},
        {u"id"_s, user.id},
        {u"user_id"_s, user.id},
        {u"identity_data"_s, QJsonObject{{u"email"_s, user.email},
                                         {u"email_verified"_s, user.isConfirmed()},
                                         {u"phone_verified"_s, false},
                                         {u"sub"_s, user.id}}},
        {u"provider"_s, u"email"_s},
        {u"email"_s, user.email},
        {u"created_at"_s, wireTime(user.createdAt)},
        {u"updated_at"_s, wireTime(user.updatedAt)},
    };
    if (!user.lastSignInAt.isEmpty()) {
        identity.insert(u"last_sign_in_at"_s, wireTime(user.lastSignInAt));
    }
    object.insert(u"identities"_s, QJsonArray{identity});
    return object;
}

} // namespace tbserver
