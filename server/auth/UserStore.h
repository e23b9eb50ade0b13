#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace tbserver {

class ServerContext;

// One row of the users table, as the Auth service reads it.
struct UserRecord {
    QString id;
    QString email;
    QByteArray passwordHash;
    QJsonObject userMetadata;
    QByteArray emailConfirmedAt; // empty while the email is unconfirmed
    QByteArray confirmationSentAt;
    QByteArray recoverySentAt;
    QByteArray createdAt;
    QByteArray updatedAt;
    QByteArray lastSignInAt;

    [[nodiscard]] bool isConfirmed() const { return !emailConfirmedAt.isEmpty(); }
};

// The accounts: lookup, creation, passwords and the one-time email tokens (stored as SHA-256 hashes only).
// Shared by the Auth service and the website's password-reset page.
class UserStore final {
public:
    explicit UserStore(ServerContext &context);
    Q_DISABLE_COPY_MOVE(UserStore)

    // How long a link in a confirmation or reset email works.
    static constexpr qint64 confirmationLifetime = 24 * 3600;
    static constexpr qint64 recoveryLifetime = 3600;
    static constexpr int minimumPasswordLength = 6;
    static constexpr int maximumPasswordLength = 72; // bytes, as the hosted service counts

    // Trimmed of white space and lower-cased: the form every lookup and every stored address uses.
    [[nodiscard]] static QString normalizedEmail(const QString &typed);
    // The address rule of the hosted service (local part of the usual specials, dotted DNS labels).
    [[nodiscard]] static bool isValidEmail(const QString &email);

    [[nodiscard]] std::optional<UserRecord> findByEmail(const QString &email) const;
    [[nodiscard]] std::optional<UserRecord> findById(const QString &id) const;

    // `email` normalised; `password` in clear (hashed here with Argon2id).
    UserRecord create(const QString &email, const QByteArray &password, const QJsonObject &metadata,
                      bool confirmed);
    void setPassword(const QString &userId, const QByteArray &password);
    void setMetadata(const QString &userId, const QJsonObject &metadata);
    void markSignedIn(const QString &userId);
    void confirmEmail(const QString &userId);

    // Makes a new one-time token (replacing any earlier one) and returns it in clear for the email link.
    [[nodiscard]] QByteArray issueConfirmationToken(const QString &userId);
    [[nodiscard]] QByteArray issueRecoveryToken(const QString &userId);
    // Confirms the account whose unexpired confirmation token this is; its id, or nothing.
    std::optional<QString> confirmWithToken(const QByteArray &token);
    // The account whose unexpired recovery token this is, without using the token up.
    [[nodiscard]] std::optional<QString> userForRecoveryToken(const QByteArray &token) const;
    void clearRecoveryToken(const QString &userId);

    // The user object of the wire: the hosted field set, timestamps in UTC with "Z".
    [[nodiscard]] static QJsonObject toJson(const UserRecord &user);
    [[nodiscard]] static QString wireTime(const QByteArray &stored);

private:
    [[nodiscard]] std::optional<UserRecord> findWhere(const QByteArray &sql, const QString &value) const;

    ServerContext &m_context;
};

// Seconds since the epoch of a stored timestamp (ServerContext::timestamp text); 0 when unreadable.
[[nodiscard]] qint64 secondsOfTimestamp(const QByteArray &stored);

} // namespace tbserver
