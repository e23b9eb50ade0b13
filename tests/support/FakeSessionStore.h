#pragma once

#include "cloud/CloudClient.h"
#include "cloud/SessionStore.h"
#include "records/Uuid.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QUuid>

#include <optional>

namespace tallybrook::testing {

// Remembers every save together with what the client's session was at that moment, so tests can check
// that the stored item always moves first.
class FakeSessionStore final : public SessionStore {
public:
    struct Save {
        std::optional<CloudSession> saved;
        std::optional<CloudSession> clientSessionAtSave;
    };

    std::optional<CloudSession> load() override { return stored; }
    void save(const std::optional<CloudSession> &session) override {
        saves.append({session, client ? client->session() : std::nullopt});
        stored = session;
    }

    std::optional<CloudSession> stored;
    QList<Save> saves;
    const CloudClient *client = nullptr;
};

inline QByteArray tokenAnswer(const QString &access, const QString &refresh, int expiresIn, const QUuid &user,
                              const std::optional<QString> &email = QStringLiteral("desk@example.com")) {
    QJsonObject userObject{{QStringLiteral("id"), uuidLower(user)},
                           {QStringLiteral("aud"), QStringLiteral("authenticated")}};
    if (email) {
        userObject.insert(QStringLiteral("email"), *email);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("access_token"), access},
                                     {QStringLiteral("token_type"), QStringLiteral("bearer")},
                                     {QStringLiteral("expires_in"), expiresIn},
                                     {QStringLiteral("refresh_token"), refresh},
                                     {QStringLiteral("user"), userObject}})
        .toJson(QJsonDocument::Compact);
}

} // namespace tallybrook::testing
