#pragma once

// An in-process server on a temporary data folder, driven through ServerApp::handle() with a clock the test
// moves. Shared by the Auth and website tests.

#include "ServerApp.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace tbtest {

using namespace Qt::StringLiterals;

inline const QByteArray testKey = "sb_publishable_test_key";
inline const QByteArray testBaseUrl = "http://127.0.0.1:54321";
inline const QByteArray versionHeader = "X-Supabase-Api-Version";

struct FixtureOptions {
    bool confirmEmails = false;
    QString manifestFile;
};

class ServerFixture {
public:
    explicit ServerFixture(FixtureOptions options = {}) {
        tbserver::ServerConfig config;
        config.dataDir = m_dir.filePath(u"data"_s);
        config.publishableKey = testKey;
        config.confirmEmails = options.confirmEmails;
        config.manifestFile = options.manifestFile;
        config.logRequests = false;
        config.port = 0;
        m_app = std::make_unique<tbserver::ServerApp>(config);
        m_app->context().setPublicBaseUrl(testBaseUrl);
        m_app->context().setClock([this] { return m_now; });
    }

    tbserver::ServerApp &app() { return *m_app; }
    tbserver::Database &db() { return m_app->database(); }
    [[nodiscard]] QString dataDir() const { return m_dir.filePath(u"data"_s); }

    [[nodiscard]] qint64 now() const { return m_now; }
    void advance(qint64 seconds) { m_now += seconds; }

    // `target` is the path with its query, as on the wire.
    tbserver::HttpResponse call(const QByteArray &method, const QByteArray &target,
                                const QByteArray &body = {}, const tbserver::HeaderList &headers = {},
                                const QByteArray &peer = "127.0.0.1") {
        tbserver::HttpRequest request;
        request.method = method;
        const qsizetype question = target.indexOf('?');
        request.path = question < 0 ? target : target.left(question);
        request.rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
        request.body = body;
        request.peer = peer;
        request.headers = headers;
        if (target.startsWith("/auth/v1/") || target.startsWith("/rest/v1/")) {
            request.headers.append(std::pair(QByteArray("apikey"), testKey));
        }
        if (!body.isEmpty()) {
            request.headers.append(std::pair(QByteArray("Content-Type"), QByteArray("application/json")));
        }
        return m_app->handle(request);
    }

    tbserver::HttpResponse authorized(const QByteArray &method, const QByteArray &target,
                                      const QString &accessToken, const QByteArray &body = {}) {
        return call(method, target, body, {{"Authorization", "Bearer " + accessToken.toLatin1()}});
    }

    tbserver::HttpResponse signUp(const QString &email, const QString &password,
                                  const QString &name = u"Ada"_s) {
        return call("POST", "/auth/v1/signup",
                    json({{u"email"_s, email},
                          {u"password"_s, password},
                          {u"data"_s, QJsonObject{{u"name"_s, name}}}}));
    }

    tbserver::HttpResponse signIn(const QString &email, const QString &password,
                                  const QByteArray &peer = "127.0.0.1") {
        return call("POST", "/auth/v1/token?grant_type=password",
                    json({{u"email"_s, email}, {u"password"_s, password}}), {}, peer);
    }

    tbserver::HttpResponse refresh(const QString &refreshToken) {
        return call("POST", "/auth/v1/token?grant_type=refresh_token",
                    json({{u"refresh_token"_s, refreshToken}}));
    }

    // A signed-in session's token answer; fails the test when sign-in fails.
    QJsonObject session(const QString &email, const QString &password) {
        const tbserver::HttpResponse response = signIn(email, password);
        if (response.status != 200) {
            QTest::qFail(qPrintable(u"sign-in failed: "_s + QString::fromUtf8(response.body)), __FILE__,
                         __LINE__);
        }
        return object(response);
    }

    // Every email written so far, oldest first, as text.
    [[nodiscard]] QStringList outbox() const {
        QDir folder(m_app->outbox().folder());
        QStringList messages;
        const QStringList names = folder.entryList({u"*.eml"_s}, QDir::Files, QDir::Name);
        for (const QString &name : names) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly)) {
                messages.append(QString::fromUtf8(file.readAll()));
            }
        }
        return messages;
    }

    static QByteArray json(const QJsonObject &object) {
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    static QJsonObject object(const tbserver::HttpResponse &response) {
        return QJsonDocument::fromJson(response.body).object();
    }

private:
    QTemporaryDir m_dir;
    qint64 m_now = QDateTime::currentSecsSinceEpoch();
    std::unique_ptr<tbserver::ServerApp> m_app;
};

// The first link in `text` that starts with `prefix`, up to the end of its line.
inline QString linkIn(const QString &text, const QString &prefix) {
    const qsizetype at = text.indexOf(prefix);
    if (at < 0) {
        return {};
    }
    const qsizetype end = text.indexOf(u'\r', at);
    return text.mid(at, end < 0 ? -1 : end - at).trimmed();
}

} // namespace tbtest
