#pragma once

#include "ServerApp.h"
#include "core/Crypto.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace tbserver::testing {

using namespace Qt::StringLiterals;

inline const QByteArray testKey = "sb_publishable_test_key";

// A whole server in this process on a temporary data folder, driven through ServerApp::handle() (the router,
// with the gateway's key check) on a clock the test moves, so each test sees exactly what the wire carries.
class ServerFixture final {
public:
    explicit ServerFixture(bool confirmEmails = false, const QString &manifestFile = {}) {
        ServerConfig config;
        config.dataDir = m_dir.filePath(u"data"_s);
        config.publishableKey = testKey;
        config.confirmEmails = confirmEmails;
        config.manifestFile = manifestFile;
        config.logRequests = false;
        m_app = std::make_unique<ServerApp>(config);
        m_app->context().setPublicBaseUrl("http://127.0.0.1:54321");
        m_app->context().setClock([this] { return m_now; });
    }

    ServerApp &app() { return *m_app; }
    Database &db() { return m_app->database(); }
    [[nodiscard]] qint64 now() const { return m_now; }
    void advance(qint64 seconds) { m_now += seconds; }

    // `target` is the path and query, still percent-encoded; /auth/v1 and /rest/v1 get the gateway's key.
    HttpResponse call(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
                      HeaderList headers = {}, const QByteArray &peer = "127.0.0.1") {
        const qsizetype question = target.indexOf('?');
        if (target.startsWith("/auth/v1/") || target.startsWith("/rest/v1/")) {
            headers.append({"apikey", testKey});
        }
        return m_app->handle({method, target.left(question < 0 ? target.size() : question),
                              question < 0 ? QByteArray() : target.mid(question + 1), headers, body, peer});
    }
    // `request` is "METHOD target[ body]".
    HttpResponse send(const QByteArray &request, const HeaderList &headers = {}) {
        const qsizetype first = request.indexOf(' ');
        const qsizetype second = request.indexOf(' ', first + 1);
        return call(request.left(first), request.mid(first + 1, second < 0 ? -1 : second - first - 1),
                    second < 0 ? QByteArray() : request.mid(second + 1), headers);
    }
    HttpResponse authorized(const QByteArray &method, const QByteArray &target, const QString &token,
                            const QByteArray &body = {}) {
        return call(method, target, body, {{"Authorization", "Bearer " + token.toLatin1()}});
    }

    HttpResponse signUp(const QString &email, const QString &password, const QString &name = u"Ada"_s) {
        return call("POST", "/auth/v1/signup",
                    json({{u"email"_s, email},
                          {u"password"_s, password},
                          {u"data"_s, QJsonObject{{u"name"_s, name}}}}));
    }
    HttpResponse signIn(const QString &email, const QString &password, const QByteArray &peer = "127.0.0.1") {
        return call("POST", "/auth/v1/token?grant_type=password",
                    json({{u"email"_s, email}, {u"password"_s, password}}), {}, peer);
    }
    HttpResponse refresh(const QString &token) {
        return call("POST", "/auth/v1/token?grant_type=refresh_token", json({{u"refresh_token"_s, token}}));
    }
    QJsonObject session(const QString &email, const QString &password) {
        return object(signIn(email, password));
    }

    // A user row made directly, and an access token for it: the REST service only reads the token.
    QString createUser(const QString &email) {
        const QString id = crypto::uuidV4();
        Statement insert =
            db().prepare("INSERT INTO users (id, email, password_hash, created_at, updated_at) "
                         "VALUES (?, ?, 'x', '2025-01-01T00:00:00Z', '2025-01-01T00:00:00Z')");
        insert.bind(1, id).bind(2, email).run();
        return id;
    }
    [[nodiscard]] QByteArray token(const QString &userId, qint64 lifetime = 3600,
                                   const QString &role = u"authenticated"_s) const {
        return m_app->context().jwt().sign({{u"sub"_s, userId},
                                            {u"session_id"_s, crypto::uuidV4()},
                                            {u"role"_s, role},
                                            {u"exp"_s, double(m_now + lifetime)}});
    }
    qint64 rowCount(const QByteArray &table) {
        Statement count = db().prepare("SELECT count(*) FROM " + table);
        count.step();
        return count.integer(0);
    }

    // Every email written so far, oldest first.
    [[nodiscard]] QStringList outbox() const {
        const QDir folder(m_app->outbox().folder());
        QStringList messages;
        for (const QString &name : folder.entryList({u"*.eml"_s}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            messages.append(file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString());
        }
        return messages;
    }

    static QByteArray json(const QJsonObject &object) {
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    static QJsonObject object(const HttpResponse &response) {
        return QJsonDocument::fromJson(response.body).object();
    }

private:
    QTemporaryDir m_dir;
    qint64 m_now = QDateTime::currentSecsSinceEpoch();
    std::unique_ptr<ServerApp> m_app;
};

// The first link in `text` that starts with `prefix`, to the end of its line.
inline QString linkIn(const QString &text, const QString &prefix) {
    const qsizetype at = text.indexOf(prefix);
    return at < 0 ? QString() : text.mid(at, text.indexOf(u'\r', at) - at).trimmed();
}

} // namespace tbserver::testing
