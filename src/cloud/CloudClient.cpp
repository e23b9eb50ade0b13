#include "cloud/CloudClient.h"

#include "cloud/SessionStore.h"
#include "platform/NetworkFailure.h"
#include "records/JsonRead.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <qcoronetworkreply.h>

#include <coroutine>
#include <exception>
#include <vector>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

// No answer the desk expects comes near this; anything larger is a fault, not data.
constexpr qint64 maximumAnswerSize = 64LL * 1024 * 1024;
constexpr const char *answerTooLarge = "tallybrook.tooLarge";

const QByteArray contentTypeHeader = QByteArrayLiteral("Content-Type");
const QByteArray jsonType = QByteArrayLiteral("application/json");
const QByteArray apikeyHeader = QByteArrayLiteral("apikey");
const QByteArray authorizationHeader = QByteArrayLiteral("Authorization");

QByteArray bearer(const QString &token) {
    return QByteArrayLiteral("Bearer ") + token.toUtf8();
}

QByteArray compactJson(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Query components keep the characters a filter needs readable ("(),.:*") and encode everything that
// would change the query's meaning ("&", "=", "#", "%", "+", spaces, non-ASCII).
QByteArray encodedQuery(const QueryItems &items) {
    static const QByteArray keep = QByteArrayLiteral("!$'()*,;:@/?");
    QByteArray query;
    for (const auto &[name, value] : items) {
        if (!query.isEmpty()) {
            query += '&';
        }
        query += name.toUtf8().toPercentEncoding(keep) + '=' + value.toUtf8().toPercentEncoding(keep);
    }
    // A "+" reads as a space on the server; it must arrive as "%2B".
    query.replace('+', QByteArrayLiteral("%2B"));
    return query;
}

QUrl withQuery(QUrl url, const QueryItems &items) {
    if (items.isEmpty()) {
        url.setQuery(QString());
    } else {
        url.setQuery(QString::fromLatin1(encodedQuery(items)), QUrl::StrictMode);
    }
    return url;
}

QNetworkRequest networkRequest(const CloudRequest &request) {
    QNetworkRequest result(request.url);
    for (const auto &[name, value] : request.headers) {
        result.setRawHeader(name, value);
    }
    result.setTransferTimeout(int(request.timeout.count()));
    return result;
}

QString transportFailureText(const QNetworkReply &reply) {
    if (reply.property(answerTooLarge).toBool()) {
        return u"The server's answer was too large."_s;
    }
    return platform::transportFailureText(reply, reply.property(RequestScope::abortedMark).toBool());
}

struct DeleteLater {
    void operator()(QObject *object) const {
        if (object) {
            object->deleteLater();
        }
    }
};

} // namespace

// The one token refresh in flight. Callers that arrive while it runs wait here and receive exactly what
// the caller that started it received.
class CloudClient::RefreshFlight {
public:
    void settle(std::optional<CloudSession> session, std::exception_ptr failure) {
        m_session = std::move(session);
        m_failure = std::move(failure);
        m_settled = true;
        for (auto waiter : std::exchange(m_waiters, {})) {
            // Resumed from the event loop, never from inside the caller that settles.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [waiter] { waiter.resume(); }, Qt::QueuedConnection);
        }
    }

    struct Awaiter {
        std::shared_ptr<RefreshFlight> flight;
        [[nodiscard]] bool await_ready() const noexcept { return flight->m_settled; }
        void await_suspend(std::coroutine_handle<> waiter) { flight->m_waiters.push_back(waiter); }
        CloudSession await_resume() const {
            if (flight->m_failure) {
                std::rethrow_exception(flight->m_failure);
            }
            return *flight->m_session;
        }
    };

private:
    bool m_settled = false;
    std::optional<CloudSession> m_session;
    std::exception_ptr m_failure;
    std::vector<std::coroutine_handle<>> m_waiters;
};

CloudClient::CloudClient(QNetworkAccessManager &http, SessionStore &store, CloudConfig config, Clock clock,
                         QObject *parent)
    : QObject(parent), m_http(http), m_store(store), m_config(std::move(config)), m_clock(std::move(clock)) {
    m_session = m_store.load();
}

CloudClient::~CloudClient() {
    *m_alive = false;
    m_inFlight.abort();
}

QDateTime CloudClient::now() const {
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

QUrl CloudClient::authURL(const QString &path) const {
    return appendingPath(appendingPath(m_config.backendURL, u"auth/v1"_s), path);
}

QUrl CloudClient::restURL(const QString &path) const {
    return appendingPath(appendingPath(m_config.backendURL, u"rest/v1"_s), path);
}

QUrl CloudClient::websiteURL(const QString &path) const {
    return appendingPath(m_config.websiteURL, path);
}

QUrl CloudClient::inviteLink(const QString &token) const {
    QUrl link = websiteURL(u"i/"_s);
    link.setPath(link.path(QUrl::FullyEncoded) + QString::fromLatin1(QUrl::toPercentEncoding(token)),
                 QUrl::TolerantMode);
    return link;
}

QUrl CloudClient::restRequestURL(const QString &table, const QueryItems &items) const {
    return withQuery(restURL(table), items);
}

CloudRequest CloudClient::publicAuthRequest(const QUrl &url) const {
    CloudRequest request;
    request.url = url;
    request.timeout = m_config.publicAuthTimeout;
    request.headers = {{contentTypeHeader, jsonType}, {apikeyHeader, m_config.publishableKey.toUtf8()}};
    return request;
}

CloudRequest CloudClient::authorizedRequestWith(const QUrl &url, const QString &accessToken) const {
    CloudRequest request;
    request.url = url;
    request.timeout = m_config.authorizedTimeout;
    request.headers = {{contentTypeHeader, jsonType},
                       {apikeyHeader, m_config.publishableKey.toUtf8()},
                       {authorizationHeader, bearer(accessToken)}};
    return request;
}

CloudRequest CloudClient::signOutNotice(const QString &accessToken) const {
    CloudRequest request;
    request.url = authURL(u"logout"_s);
    request.method = QByteArrayLiteral("POST");
    request.timeout = m_config.signOutTimeout;
    request.headers = {{apikeyHeader, m_config.publishableKey.toUtf8()},
                       {authorizationHeader, bearer(accessToken)}};
    return request;
}

QCoro::Task<CloudRequest> CloudClient::authorizedRequest(QUrl url) {
    const CloudSession session = co_await validSession();
    co_return authorizedRequestWith(url, session.accessToken);
}

QCoro::Task<CloudResponse> CloudClient::send(CloudRequest request) {
    if (request.scope && request.scope->isAborted()) {
        throw CloudError::network(u"The request was cancelled."_s);
    }
    std::unique_ptr<QNetworkReply, DeleteLater> reply(
        m_http.sendCustomRequest(networkRequest(request), request.method, request.body));
    QNetworkReply *raw = reply.get();
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [raw](qint64 received, qint64) {
        if (received > maximumAnswerSize) {
            raw->setProperty(answerTooLarge, true);
            raw->abort();
        }
    });
    m_inFlight.track(raw);
    if (request.scope) {
        request.scope->track(raw);
    }

    co_await raw;

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (platform::isTransportError(raw->error()) || raw->property(answerTooLarge).toBool()) {
        throw CloudError::network(transportFailureText(*raw));
    }
    if (!status.isValid() || status.toInt() <= 0) {
        if (raw->error() != QNetworkReply::NoError) {
            throw CloudError::network(transportFailureText(*raw));
        }
        throw CloudError::network(u"No response from the server."_s);
    }
    CloudResponse response;
    response.status = status.toInt();
    response.headers = raw->rawHeaderPairs();
    response.body = raw->readAll();
    co_return response;
}

QCoro::Task<CloudResponse> CloudClient::perform(CloudRequest request) {
    const QByteArray sentWith = request.header(authorizationHeader);
    const auto alive = m_alive;
    CloudResponse response = co_await send(std::move(request));
    if (response.isSuccess()) {
        co_return response;
    }
    if (response.status == 401) {
        // Only the session that made this call ends; a newer one (signed in meanwhile) stays.
        if (*alive && m_session && bearer(m_session->accessToken) == sentWith) {
            adoptSession(std::nullopt);
        }
        throw CloudError::signedOut();
    }
    throw parseServerError(response.status, response.body);
}

QCoro::Task<void> CloudClient::performWebsite(CloudRequest request) {
    const CloudResponse response = co_await send(std::move(request));
    if (response.isSuccess()) {
        co_return;
    }
    if (response.status == 401) {
        throw CloudError::signedOut();
    }
    throw parseWebsiteError(response.status, response.body);
}

QCoro::Task<CloudSession> CloudClient::validSession() {
    if (!m_session) {
        throw CloudError::signedOut();
    }
    if (now().msecsTo(m_session->expiresAt) >= 60'000) {
        // A copy: QCoro 0.8 moves out of any non-const lvalue handed to co_return.
        co_return CloudSession(*m_session);
    }
    if (m_refresh) {
        // A named awaiter: GCC 12 may destroy a temporary one twice across the suspension.
        RefreshFlight::Awaiter joined{m_refresh};
        CloudSession shared = co_await joined;
        co_return shared;
    }

    const auto flight = std::make_shared<RefreshFlight>();
    const CloudSession stale = *m_session;
    const auto alive = m_alive;
    m_refresh = flight;
    Q_EMIT refreshingChanged();

    std::optional<CloudSession> fresh;
    std::exception_ptr failure;
    try {
        fresh = co_await runRefresh(stale);
    } catch (...) {
        failure = std::current_exception();
    }
    if (*alive && m_refresh == flight) {
        m_refresh.reset();
        Q_EMIT refreshingChanged();
    }
    const bool sameSession = *alive && m_session && m_session->refreshToken == stale.refreshToken;
    if (!sameSession) {
        // A sign-out or another sign-in while the refresh ran wins over its outcome, and no caller may go on
        // with the session the desk has left.
        fresh.reset();
        failure = std::make_exception_ptr(CloudError::signedOut());
    } else if (fresh) {
        adoptSession(fresh);
    } else {
        try {
            std::rethrow_exception(failure);
        } catch (const CloudError &error) {
            if (error.kind() == CloudError::Kind::SignedOut) {
                adoptSession(std::nullopt);
            }
        } catch (...) {
        }
    }
    flight->settle(fresh, failure);
    if (failure) {
        std::rethrow_exception(failure);
    }
    co_return *fresh;
}

QCoro::Task<CloudSession> CloudClient::runRefresh(CloudSession stale) {
    try {
        co_return co_await refreshSession(std::move(stale));
    } catch (const CloudError &error) {
        if (error.kind() != CloudError::Kind::Server || error.status() < 400 || error.status() > 499) {
            throw;
        }
        // Timed out or rate limited: the refresh token is still good, so a later call tries again.
        if (error.status() == 408) {
            throw CloudError::network(u"The request timed out."_s);
        }
        if (error.status() == 429) {
            throw CloudError::network(error.message());
        }
        throw CloudError::signedOut();
    }
}

QCoro::Task<CloudSession> CloudClient::tokenGrant(QString grantType, QJsonObject body) {
    CloudRequest request = publicAuthRequest(withQuery(authURL(u"token"_s), {{u"grant_type"_s, grantType}}));
    request.method = QByteArrayLiteral("POST");
    request.body = compactJson(body);
    const CloudResponse response = co_await send(std::move(request));
    if (!response.isSuccess()) {
        throw parseServerError(response.status, response.body);
    }
    co_return CloudSession::fromTokenResponse(json::parseObject(response.body), now());
}

QCoro::Task<void> CloudClient::signInAccount(QString email, QString password) {
    const auto alive = m_alive;
    // GCC 12 miscompiles braced lists inside a co_await expression: build the body first.
    QJsonObject body;
    body.insert(u"email"_s, trimmingBlanks(email));
    body.insert(u"password"_s, password);
    const CloudSession session = co_await tokenGrant(u"password"_s, std::move(body));
    if (*alive) {
        adoptSession(session);
    }
}

QCoro::Task<std::optional<CloudSession>> CloudClient::signUp(QString email, QString password, QString name) {
    const QJsonObject body{
        {u"email"_s, trimmingBlanks(email)},
        {u"password"_s, password},
        {u"data"_s, QJsonObject{{u"name"_s, name.trimmed()}}},
    };
    CloudRequest request = publicAuthRequest(authURL(u"signup"_s));
    request.method = QByteArrayLiteral("POST");
    request.body = compactJson(body);
    const auto alive = m_alive;
    const CloudResponse response = co_await send(std::move(request));
    if (!response.isSuccess()) {
        throw parseServerError(response.status, response.body);
    }
    std::optional<CloudSession> session;
    try {
        session = CloudSession::fromTokenResponse(json::parseObject(response.body), now());
    } catch (const DeskError &) {
        // A user without tokens: the account waits for its email to be confirmed.
        co_return std::nullopt;
    }
    if (*alive) {
        adoptSession(session);
    }
    co_return session;
}

QCoro::Task<void> CloudClient::sendPasswordReset(QString email) {
    const QString redirect =
        websiteURL(u"auth/callback"_s).toString(QUrl::FullyEncoded) + u"?next=/reset-password"_s;
    CloudRequest request =
        publicAuthRequest(withQuery(authURL(u"recover"_s), {{u"redirect_to"_s, redirect}}));
    request.method = QByteArrayLiteral("POST");
    request.body = compactJson(QJsonObject{{u"email"_s, trimmingBlanks(email)}});
    const CloudResponse response = co_await send(std::move(request));
    if (!response.isSuccess()) {
        throw parseServerError(response.status, response.body);
    }
}

QCoro::Task<void> CloudClient::changePassword(QString newPassword) {
    CloudRequest request = co_await authorizedRequest(authURL(u"user"_s));
    request.method = QByteArrayLiteral("PUT");
    request.body = compactJson(QJsonObject{{u"password"_s, newPassword}});
    co_await perform(std::move(request));
}

void CloudClient::signOutAccount() {
    if (m_session) {
        // Fire and forget: the reply belongs to the network manager and cleans itself up.
        const CloudRequest notice = signOutNotice(m_session->accessToken);
        QNetworkReply *reply = m_http.sendCustomRequest(networkRequest(notice), notice.method, notice.body);
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }
    adoptSession(std::nullopt);
}

QCoro::Task<void> CloudClient::deleteAccount() {
    CloudRequest request = co_await authorizedRequest(restURL(u"rpc/delete_account"_s));
    request.method = QByteArrayLiteral("POST");
    request.body = QByteArrayLiteral("{}");
    const auto alive = m_alive;
    co_await perform(std::move(request));
    if (*alive) {
        adoptSession(std::nullopt);
    }
}

QCoro::Task<CloudSession> CloudClient::refreshSession(CloudSession session) {
    QJsonObject body;
    body.insert(u"refresh_token"_s, session.refreshToken);
    co_return co_await tokenGrant(u"refresh_token"_s, std::move(body));
}

void CloudClient::adoptSession(std::optional<CloudSession> session) {
    m_store.save(session);
    if (m_session != session) {
        m_session = std::move(session);
        Q_EMIT sessionChanged();
    }
}

QString CloudClient::trimmingBlanks(const QString &text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text.at(begin))) {
        ++begin;
    }
    while (end > begin && blank(text.at(end - 1))) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace tallybrook
