#pragma once

#include "cloud/CloudConfig.h"
#include "cloud/CloudError.h"
#include "cloud/CloudRequest.h"
#include "cloud/CloudSession.h"
#include "cloud/VisitorQuery.h"
#include "records/DeskCounts.h"
#include "records/InviteRecords.h"
#include "records/SetupRecords.h"
#include "records/VisitorRecords.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>
#include <qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QNetworkAccessManager;
class QNetworkReply;

namespace tallybrook {

class SessionStore;

using QueryItems = QList<std::pair<QString, QString>>;

// The one way the desk talks to the backend (Auth and REST) and to the website's invite service. Lives on
// the GUI thread; every wait on the network suspends a coroutine instead of blocking.
class CloudClient final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY sessionChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY refreshingChanged)

public:
    using Clock = std::function<QDateTime()>;

    // Restores the stored session at once, without asking the server; an expired one is renewed by the
    // first authorised call.
    CloudClient(QNetworkAccessManager &http, SessionStore &store, CloudConfig config, Clock clock = {},
                QObject *parent = nullptr);
    ~CloudClient() override;
    Q_DISABLE_COPY_MOVE(CloudClient)

    [[nodiscard]] const std::optional<CloudSession> &session() const { return m_session; }
    [[nodiscard]] bool isSignedIn() const { return m_session.has_value(); }
    [[nodiscard]] bool isRefreshing() const { return m_refresh != nullptr; }
    [[nodiscard]] const CloudConfig &config() const { return m_config; }
    [[nodiscard]] QNetworkAccessManager &http() const { return m_http; }
    [[nodiscard]] QDateTime now() const;

    // URL composition.
    [[nodiscard]] QUrl authURL(const QString &path) const;
    [[nodiscard]] QUrl restURL(const QString &path) const;
    [[nodiscard]] QUrl websiteURL(const QString &path) const;
    // The guest's link to an invite: "<website>/i/<token>", the token percent-encoded as one path segment.
    [[nodiscard]] QUrl inviteLink(const QString &token) const;
    // The REST URL with its query in the given order; a "+" reaches the server as "%2B", not as a space.
    [[nodiscard]] QUrl restRequestURL(const QString &table, const QueryItems &items) const;

    // The three kinds of request, each with its time-out and headers in order.
    [[nodiscard]] CloudRequest publicAuthRequest(const QUrl &url) const;
    [[nodiscard]] CloudRequest authorizedRequestWith(const QUrl &url, const QString &accessToken) const;
    [[nodiscard]] CloudRequest signOutNotice(const QString &accessToken) const;
    // An authorised request after making sure the token is good for another minute.
    QCoro::Task<CloudRequest> authorizedRequest(QUrl url);

    // Sends the request and returns the answer whatever its status; fails only with a network error.
    QCoro::Task<CloudResponse> send(CloudRequest request);
    // An authorised call to the backend: a 2xx answer, or a CloudError. A 401 ends the session.
    QCoro::Task<CloudResponse> perform(CloudRequest request);
    // A call to the website's invite service: a 401 fails with signedOut but keeps the session.
    QCoro::Task<void> performWebsite(CloudRequest request);

    // A session whose access token is good for at least another 60 seconds. Concurrent callers share one
    // refresh; the caller that started it stores the new session.
    QCoro::Task<CloudSession> validSession();

    // Account operations.
    QCoro::Task<void> signInAccount(QString email, QString password);
    // The new session when the account is usable at once; nothing when it waits for email confirmation.
    QCoro::Task<std::optional<CloudSession>> signUp(QString email, QString password, QString name);
    QCoro::Task<void> sendPasswordReset(QString email);
    QCoro::Task<void> changePassword(QString newPassword);
    // Ends the session here at once; the server is told in the background and may never hear of it.
    void signOutAccount();
    QCoro::Task<void> deleteAccount();
    QCoro::Task<CloudSession> refreshSession(CloudSession session);

    // Operations that take a RequestScope can be cancelled with it: their requests are aborted and they fail.

    // The visitor log. Every read is newest first (ties broken by id, so paging never skips or repeats a row)
    // and scoped by the server to the signed-in account.
    QCoro::Task<QList<VisitorRow>> fetchVisitors(QueryItems items, std::shared_ptr<RequestScope> scope = {});
    // At most `onSiteLimit` visitors without a sign-out time.
    QCoro::Task<QList<VisitorRow>> onSiteVisitors(std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<QList<VisitorRow>> visitorPage(VisitorQuery query, int limit, int offset,
                                               std::shared_ptr<RequestScope> scope = {});
    // Every matching row, in pages of `exportPageSize`; one failing page fails the whole call. `fetched`
    // hears the number of rows so far after each page.
    QCoro::Task<QList<VisitorRow>> allVisitors(VisitorQuery query, std::shared_ptr<RequestScope> scope = {},
                                               std::function<void(int)> fetched = {});
    // An exact count from the Content-Range header; never downloads the rows.
    QCoro::Task<int> countVisitors(QueryItems items, std::shared_ptr<RequestScope> scope = {});
    // Today's, on-site and this week's counts, the three asked at once. Weeks start on Sunday.
    QCoro::Task<DeskCounts> deskCounts(QDateTime now, QTimeZone zone = QTimeZone::systemTimeZone(),
                                       std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<VisitorRow> insertVisitor(NewVisitor visitor, std::shared_ptr<RequestScope> scope = {});
    // Keeps an earlier sign-out time (from a kiosk, say); a visitor signed out already is not an error.
    // True when this call signed the visitor out, false when someone had done it before.
    QCoro::Task<bool> signOutVisitor(QUuid id, QDateTime at, std::shared_ptr<RequestScope> scope = {});
    // By the id the desk gave the record, for sign-ins stored late: whether an earlier attempt reached the
    // server, and signing such a visitor out.
    QCoro::Task<std::optional<VisitorRow>>
    findVisitorByDeviceRecord(QString deviceRecordID, std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<bool> signOutByDeviceRecord(QString deviceRecordID, QDateTime at,
                                            std::shared_ptr<RequestScope> scope = {});

    // The account's setup and invites.
    QCoro::Task<std::optional<KioskSettings>> loadKioskSettings(std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<std::optional<NotificationSettings>>
    loadNotificationSettings(std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<QList<Invite>> loadInvites(bool pendingOnly, int limit,
                                           std::shared_ptr<RequestScope> scope = {});
    // The account's invite with this token; none when there is no such invite.
    QCoro::Task<std::optional<Invite>> findInvite(QString token, std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<void> deleteInvite(QUuid id, std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<void> markInviteUsed(QUuid id, QDateTime at, std::shared_ptr<RequestScope> scope = {});
    // Through the website, which also sends the invitation email.
    QCoro::Task<void> createInvite(NewInvite invite, std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<void> resendInvite(QUuid id, std::shared_ptr<RequestScope> scope = {});

    static constexpr int onSiteLimit = 500;
    static constexpr int exportPageSize = 1000;

    // The total after the last "/" of a Content-Range header ("0-0/57" -> 57); 0 when there is none.
    [[nodiscard]] static int totalFromContentRange(const QByteArray &contentRange);

    // Spaces and tabs at both ends go; line breaks stay.
    [[nodiscard]] static QString trimmingBlanks(const QString &text);

Q_SIGNALS:
    void sessionChanged();
    void refreshingChanged();

private:
    class RefreshFlight;

    // Signs out the on-site visitor this filter names; false when none was on site any more.
    QCoro::Task<bool> signOutWhere(std::pair<QString, QString> match, QDateTime at,
                                   std::shared_ptr<RequestScope> scope);
    // An authorised REST call: the token made fresh, the extra headers after the standard three.
    QCoro::Task<CloudResponse> restCall(QByteArray method, QString table, QueryItems items,
                                        HeaderList extra = {}, QByteArray body = {},
                                        std::shared_ptr<RequestScope> scope = {});
    QCoro::Task<void> websiteCall(QString path, QByteArray body, std::shared_ptr<RequestScope> scope);
    QCoro::Task<CloudSession> tokenGrant(QString grantType, QJsonObject body);
    QCoro::Task<CloudSession> runRefresh(CloudSession stale);
    // Stores first, then sets: the persisted item always follows the session.
    void adoptSession(std::optional<CloudSession> session);

    QNetworkAccessManager &m_http;
    SessionStore &m_store;
    CloudConfig m_config;
    Clock m_clock;
    std::optional<CloudSession> m_session;
    std::shared_ptr<RefreshFlight> m_refresh;
    // Everything still running; aborted when the client goes away.
    RequestScope m_inFlight;
    // Coroutines resumed after the client is gone must not touch it.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tallybrook
