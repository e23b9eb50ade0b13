#pragma once

#include "ServerApp.h"
#include "core/Crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace tbserver::testing {

inline const QByteArray testKey = QByteArrayLiteral("sb_publishable_rest_test_key");

// A whole server in this process on a temporary data folder. Requests go straight to ServerApp::handle (the
// router, with the gateway key check), so each test sees exactly what the wire would carry.
class RestFixture final {
public:
    RestFixture() {
        ServerConfig config;
        config.dataDir = m_dir.path() + QStringLiteral("/data");
        config.publishableKey = testKey;
        config.logRequests = false;
        config.port = 0;
        m_app = std::make_unique<ServerApp>(config);
    }

    [[nodiscard]] ServerApp &app() { return *m_app; }
    [[nodiscard]] Database &db() { return m_app->database(); }

    // A user row made directly; returns its id.
    QString createUser(const QString &email) {
        const QString id = crypto::uuidV4();
        Statement insert =
            db().prepare("INSERT INTO users (id, email, password_hash, created_at, updated_at) "
                         "VALUES (?, ?, 'x', '2025-01-01T00:00:00.000000+00:00', "
                         "'2025-01-01T00:00:00.000000+00:00')");
        insert.bind(1, id).bind(2, email);
        insert.run();
        return id;
    }

    [[nodiscard]] QByteArray token(const QString &userId, qint64 lifetime = 3600,
                                   const QString &role = QStringLiteral("authenticated")) const {
        const QJsonObject claims{{QStringLiteral("sub"), userId},
                                 {QStringLiteral("session_id"), crypto::uuidV4()},
                                 {QStringLiteral("role"), role},
                                 {QStringLiteral("aud"), QStringLiteral("authenticated")},
                                 {QStringLiteral("exp"), double(m_app->context().nowSeconds() + lifetime)}};
        return m_app->context().jwt().sign(claims);
    }

    // `target` is path and query after /rest/v1/, as on the wire (still percent-encoded).
    HttpResponse call(const QByteArray &method, const QByteArray &target, const QByteArray &token = {},
                      const QByteArray &body = {}, const QByteArray &prefer = {},
                      const QByteArray &accept = {}) {
        HttpRequest request;
        request.method = method;
        const qsizetype question = target.indexOf('?');
        request.path = "/rest/v1/" + (question < 0 ? target : target.left(question));
        request.rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
        request.headers.append({QByteArrayLiteral("apikey"), testKey});
        request.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
        if (!token.isEmpty()) {
            request.headers.append({QByteArrayLiteral("Authorization"), "Bearer " + token});
        }
        if (!prefer.isEmpty()) {
            request.headers.append({QByteArrayLiteral("Prefer"), prefer});
        }
        if (!accept.isEmpty()) {
            request.headers.append({QByteArrayLiteral("Accept"), accept});
        }
        request.body = body;
        return m_app->handle(request);
    }

    // The visitor rows a query returns, as "name|name|...".
    QByteArray names(const QByteArray &token, const QByteArray &query, QByteArray key = "visitor_name") {
        const HttpResponse response =
            call("GET", "visitors?select=" + key + (query.isEmpty() ? QByteArray() : QByteArray("&" + query)),
                 token);
        if (response.status != 200 && response.status != 206) {
            return "HTTP " + QByteArray::number(response.status) + ' ' + response.body;
        }
        QByteArrayList list;
        for (const QJsonValue &row : QJsonDocument::fromJson(response.body).array()) {
            list.append(row.toObject().value(QString::fromLatin1(key)).toString().toUtf8());
        }
        return list.join('|');
    }

    [[nodiscard]] qint64 rowCount(const QByteArray &table) {
        Statement count = db().prepare("SELECT count(*) FROM " + table);
        count.step();
        return count.integer(0);
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ServerApp> m_app;
};

inline QJsonObject errorOf(const HttpResponse &response) {
    return QJsonDocument::fromJson(response.body).object();
}

} // namespace tbserver::testing
