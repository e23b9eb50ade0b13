#include "website/HostedInvites.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <cstdio>
#include <memory>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

const QString sessionEnded = u"Your session ended. Please sign in again."_s;

QByteArray inviteColumns() {
    return QByteArrayLiteral(
        "id,token,visitor_name,visitor_email,answers,visit_date,visit_time,note,created_at,"
        "used_at");
}

bool isUuid(const QString &text) {
    static const QRegularExpression format(
        u"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"_s);
    return format.match(text).hasMatch();
}

// The project answered something this server cannot use: the request fails, and the log says why.
[[noreturn]] void projectFailed(const char *what, const HostedProject::Answer &answer) {
    std::fprintf(
        stderr, "website: %s: %s\n", what,
        answer.status == 0
            ? qPrintable(answer.problem)
            : qPrintable(
                  u"status %1: %2"_s.arg(answer.status).arg(QString::fromUtf8(answer.body.left(300)))));
    throw WebsiteError{502, u"The account's data could not be reached just now. Please try again."_s};
}

// The hosted Auth refuses a bad, expired or ended session with 401 or 403; the REST service with 401, its 403
// being row security.
void checkSession(const char *what, const HostedProject::Answer &answer, bool auth = false) {
    if (answer.status == 401 || (auth && answer.status == 403)) {
        throw WebsiteError{401, sessionEnded};
    }
    if (answer.status == 403) {
        throw WebsiteError{403, u"This account may not change that invite."_s};
    }
    if (answer.status < 200 || answer.status > 299) {
        projectFailed(what, answer);
    }
}

QJsonArray rowsOf(const char *what, const HostedProject::Answer &answer) {
    const QJsonDocument document = QJsonDocument::fromJson(answer.body);
    if (!document.isArray()) {
        projectFailed(what, answer);
    }
    return document.array();
}

std::optional<QString> optionalText(const QJsonObject &row, const QString &key) {
    const QJsonValue value = row.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<InviteRecord> inviteOf(const QJsonValue &value) {
    const QJsonObject row = value.toObject();
    InviteRecord invite;
    invite.id = row.value(u"id").toString().toLower();
    invite.token = row.value(u"token").toString();
    if (!isUuid(invite.id) || invite.token.isEmpty()) {
        return std::nullopt;
    }
    invite.visitorName = row.value(u"visitor_name").toString();
    invite.visitorEmail = row.value(u"visitor_email").toString();
    invite.answers = row.value(u"answers").toArray();
    invite.visitDate = optionalText(row, u"visit_date"_s);
    invite.visitTime = optionalText(row, u"visit_time"_s);
    invite.note = optionalText(row, u"note"_s);
    invite.createdAt = row.value(u"created_at").toString();
    invite.usedAt = optionalText(row, u"used_at"_s);
    return invite;
}

QJsonValue orNull(const std::optional<QString> &text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

} // namespace

HostedProject::Answer HostedProject::call(const QByteArray &method, const QString &path,
                                          const QByteArray &query, const QByteArray &authorization,
                                          const QByteArray &body, const QByteArray &prefer) const {
    QByteArray address = baseUrl.toEncoded(QUrl::StripTrailingSlash) + path.toUtf8();
    if (!query.isEmpty()) {
        address += '?' + query;
    }
    QNetworkRequest request(QUrl::fromEncoded(address, QUrl::StrictMode));
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/json");
    if (authorization.isEmpty()) {
        request.setRawHeader("apikey", serviceKey);
        // A legacy service key is a token itself, and the REST service reads the role from the bearer.
        if (serviceKey.startsWith("eyJ")) {
            request.setRawHeader("Authorization", "Bearer " + serviceKey);
        }
    } else {
        request.setRawHeader("apikey", publishableKey);
        request.setRawHeader("Authorization", authorization);
    }
    if (!body.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    }
    if (!prefer.isEmpty()) {
        request.setRawHeader("Prefer", prefer);
    }
    // A manager per call: it belongs to this worker thread and is gone before the thread is reused.
    QNetworkAccessManager network;
    const std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    if (answer.status == 0) {
        answer.problem = reply->errorString();
    }
    return answer;
}

InviteOwner HostedInvites::signedIn(const HttpRequest &request) {
    const QByteArray authorization = request.header("authorization");
    if (!authorization.startsWith("Bearer ") || authorization.size() <= 7) {
        throw WebsiteError{401, u"Sign in to continue."_s};
    }
    const Answer answer = call("GET", u"/auth/v1/user"_s, {}, authorization);
    checkSession("checking the session", answer, true);
    const QJsonObject user = QJsonDocument::fromJson(answer.body).object();
    InviteOwner owner;
    owner.userId = user.value(u"id").toString().toLower();
    if (!isUuid(owner.userId)) {
        projectFailed("checking the session", answer);
    }
    owner.name = user.value(u"user_metadata").toObject().value(u"name").toString().trimmed();
    owner.authorization = authorization;
    return owner;
}

InviteSetup HostedInvites::setupOf(const InviteOwner &owner) {
    const Answer answer = call("GET", u"/rest/v1/kiosk_settings"_s,
                               "select=fields,place_name&owner_id=eq." + owner.userId.toLatin1() + "&limit=1",
                               owner.authorization);
    checkSession("reading the account's form", answer);
    const QJsonArray rows = rowsOf("reading the account's form", answer);
    InviteSetup setup;
    if (!rows.isEmpty()) {
        setup.fields = rows.first()[u"fields"].toArray();
        setup.placeName = rows.first()[u"place_name"].toString().trimmed();
    }
    return setup;
}

InviteRecord HostedInvites::create(const InviteOwner &owner, const NewInviteRecord &invite) {
    const QJsonObject row{{u"owner_id"_s, owner.userId},
                          {u"token"_s, invite.token},
                          {u"visitor_name"_s, invite.visitorName},
                          {u"visitor_email"_s, invite.visitorEmail},
                          {u"answers"_s, invite.answers},
                          {u"visit_date"_s, orNull(invite.visitDate)},
                          {u"visit_time"_s, orNull(invite.visitTime)},
                          {u"note"_s, orNull(invite.note)}};
    const Answer answer =
        call("POST", u"/rest/v1/invites"_s, "select=" + inviteColumns(), owner.authorization,
             QJsonDocument(row).toJson(QJsonDocument::Compact), "return=representation");
    checkSession("storing the invite", answer);
    const QJsonArray rows = rowsOf("storing the invite", answer);
    const std::optional<InviteRecord> stored = rows.size() == 1 ? inviteOf(rows.first()) : std::nullopt;
    if (!stored) {
        projectFailed("storing the invite", answer);
    }
    InviteRecord record = *stored;
    record.ownerId = owner.userId;
    return record;
}

void HostedInvites::remove(const InviteOwner &owner, const QString &id) {
    const Answer answer =
        call("DELETE", u"/rest/v1/invites"_s, "id=eq." + id.toLower().toLatin1(), owner.authorization);
    if (answer.status < 200 || answer.status > 299) {
        std::fprintf(stderr, "website: invite %s could not be taken back (status %d)\n", qPrintable(id),
                     answer.status);
    }
}

std::optional<InviteRecord> HostedInvites::find(const InviteOwner &owner, const QString &id) {
    const QString lower = id.toLower();
    if (!isUuid(lower)) {
        return std::nullopt;
    }
    const Answer answer =
        call("GET", u"/rest/v1/invites"_s, "select=" + inviteColumns() + "&id=eq." + lower.toLatin1(),
             owner.authorization);
    checkSession("reading the invite", answer);
    const QJsonArray rows = rowsOf("reading the invite", answer);
    std::optional<InviteRecord> invite = rows.isEmpty() ? std::nullopt : inviteOf(rows.first());
    if (invite) {
        invite->ownerId = owner.userId;
    }
    return invite;
}

std::optional<GuestInvite> HostedInvites::guestInvite(const QString &token) {
    if (token.isEmpty()) {
        return std::nullopt;
    }
    const Answer answer =
        call("POST", u"/rest/v1/rpc/invite_for_guest"_s, {}, {},
             QJsonDocument(QJsonObject{{u"invite_token"_s, token}}).toJson(QJsonDocument::Compact));
    if (answer.status != 200) {
        projectFailed("reading a guest's invite", answer);
    }
    const QJsonArray rows = rowsOf("reading a guest's invite", answer);
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    const QJsonObject row = rows.first().toObject();
    GuestInvite guest;
    guest.visitorName = row.value(u"visitor_name").toString();
    guest.visitDate = row.value(u"visit_date").toString();
    guest.visitTime = row.value(u"visit_time").toString();
    guest.note = row.value(u"note").toString();
    guest.usedAt = row.value(u"used_at").toString().toLatin1();
    guest.placeName = row.value(u"place_name").toString().trimmed();
    return guest;
}

} // namespace tbserver
