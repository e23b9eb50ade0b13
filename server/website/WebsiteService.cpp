#include "website/WebsiteService.h"

#include "core/Crypto.h"
#include "website/FormData.h"
#include "website/HostedInvites.h"
#include "website/Pages.h"

#include <QDate>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

HttpResponse errorAnswer(int status, const QString &message) {
    return HttpResponse::json(status, QJsonDocument(QJsonObject{{u"error"_s, message}}));
}

HttpResponse apiMethodNotAllowed(const QByteArray &allowed) {
    HttpResponse response = errorAnswer(405, u"This method is not allowed here."_s);
    response.setHeader("Allow", allowed);
    return response;
}

bool isReading(const QByteArray &method) {
    return method == "GET" || method == "HEAD";
}

} // namespace

WebsiteService::WebsiteService(ServerContext &context, InviteBackend &invites, Outbox &outbox,
                               std::optional<HostedProject> hosted)
    : m_context(context), m_invites(context, invites, outbox), m_users(context), m_tokens(context),
      m_hosted(std::move(hosted)) {}

QByteArray WebsiteService::defaultManifest() {
    // 0.0.0 is no newer than any running version, and every version meets it as a minimum.
    const QJsonObject channel{{u"minimumVersion"_s, u"0.0.0"_s},
                              {u"latestVersion"_s, u"0.0.0"_s},
                              {u"downloadURL"_s, u"https://tallybrook.app/download"_s}};
    return QJsonDocument(QJsonObject{{u"direct"_s, channel}, {u"appStore"_s, channel}})
        .toJson(QJsonDocument::Compact);
}

HttpResponse WebsiteService::handle(const HttpRequest &request, QByteArrayView subpath) {
    if (subpath == "api" || subpath.startsWith("api/")) {
        try {
            return api(request, subpath);
        } catch (const WebsiteError &error) {
            return errorAnswer(error.status, error.message);
        }
    }
    return page(request, subpath);
}

HttpResponse WebsiteService::api(const HttpRequest &request, QByteArrayView path) {
    static const QRegularExpression resendPath(u"^api/invites/([0-9A-Fa-f-]{36})/resend$"_s);
    if (path == "api/mac/version") {
        return isReading(request.method) ? versionManifest() : apiMethodNotAllowed("GET");
    }
    if (path == "api/invites") {
        if (request.method != "POST") {
            return apiMethodNotAllowed("POST");
        }
        return m_invites.create(request);
    }
    const QRegularExpressionMatch resend = resendPath.match(QString::fromLatin1(path.toByteArray()));
    if (resend.hasMatch()) {
        if (request.method != "POST") {
            return apiMethodNotAllowed("POST");
        }
        return m_invites.resend(request, resend.captured(1));
    }
    return errorAnswer(404, u"Not found."_s);
}

HttpResponse WebsiteService::versionManifest() const {
    QByteArray manifest = defaultManifest();
    if (const QString path = m_context.config().manifestFile; !path.isEmpty()) {
        // Read on every request, so a changed file is served without a restart.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            throw WebsiteError{500, u"The version manifest could not be read."_s};
        }
        manifest = file.readAll();
    }
    HttpResponse response = HttpResponse::jsonText(200, manifest);
    response.setHeader("Content-Type", "application/json");
    response.setHeader("Cache-Control", "no-cache");
    return response;
}

HttpResponse WebsiteService::page(const HttpRequest &request, QByteArrayView path) {
    if (path == "auth/callback") {
        if (request.method == "POST") {
            return resetPassword(request);
        }
        if (isReading(request.method)) {
            return authCallback(request);
        }
    } else if (path.startsWith("i/")) {
        const QByteArray segment = path.sliced(2).toByteArray();
        if (segment.isEmpty() || segment.contains('/')) {
            return pages::inviteNotFound();
        }
        if (isReading(request.method)) {
            std::optional<GuestInvite> invite;
            try {
                invite = m_invites.guestInvite(QString::fromUtf8(QByteArray::fromPercentEncoding(segment)));
            } catch (const WebsiteError &) {
                return pages::inviteUnavailable();
            }
            if (!invite) {
                return pages::inviteNotFound();
            }
            return pages::guestInvite(*invite, QDateTime::fromSecsSinceEpoch(m_context.nowSeconds()).date());
        }
    } else {
        using PageMaker = HttpResponse (*)();
        static const QHash<QByteArray, PageMaker> staticPages{
            {"", &pages::home},
            {"support", &pages::support},
            {"privacy", &pages::privacy},
            {"dashboard", &pages::dashboard},
            {"guides/host-notifications", &pages::hostNotificationsGuide},
            {"guides/kiosk-setup", &pages::kioskSetupGuide},
        };
        const PageMaker maker = staticPages.value(path.toByteArray());
        if (!maker) {
            return pages::notFound();
        }
        if (isReading(request.method)) {
            return maker();
        }
    }
    HttpResponse refused = pages::notFound();
    refused.status = 405;
    refused.setHeader("Allow", path == "auth/callback" ? "GET, HEAD, POST" : "GET, HEAD");
    return refused;
}

HttpResponse WebsiteService::authCallback(const HttpRequest &request) {
    const QByteArray &query = request.rawQuery;
    if (formValue(query, u"error").has_value()) {
        return pages::linkFailed(formValue(query, u"error_description").value_or(QString()));
    }
    if (formValue(query, u"type") == u"signup") {
        return pages::emailConfirmed();
    }
    if (m_hosted) {
        // The desk asks the hosted Auth to send reset links here with "next"; its session is in the fragment.
        return formValue(query, u"next").has_value() ? pages::resetPasswordFormFromLink()
                                                     : pages::signInAtDesk();
    }
    const QString token = formValue(query, u"token").value_or(QString());
    if (token.isEmpty()) {
        return pages::signInAtDesk();
    }
    if (!m_users.userForRecoveryToken(token.toUtf8())) {
        return pages::resetLinkExpired();
    }
    return pages::resetPasswordForm(token, QString());
}

HttpResponse WebsiteService::resetPassword(const HttpRequest &request) {
    const QString token = formValue(request.body, u"token").value_or(QString());
    const QByteArray password = formValue(request.body, u"password").value_or(QString()).toUtf8();
    const QByteArray repeat = formValue(request.body, u"repeat").value_or(QString()).toUtf8();
    std::optional<QString> userId;
    if (!m_hosted) {
        userId = m_users.userForRecoveryToken(token.toUtf8());
    }
    if (token.isEmpty() || (!m_hosted && !userId)) {
        return pages::resetLinkExpired();
    }
    if (password.size() < UserStore::minimumPasswordLength) {
        return pages::resetPasswordForm(
            token, u"Choose a password of at least %1 characters."_s.arg(UserStore::minimumPasswordLength));
    }
    if (password.size() > UserStore::maximumPasswordLength) {
        return pages::resetPasswordForm(
            token, u"Choose a password of at most %1 characters."_s.arg(UserStore::maximumPasswordLength));
    }
    if (password != repeat) {
        return pages::resetPasswordForm(token, u"The two passwords are not the same."_s);
    }
    if (m_hosted) {
        return changeHostedPassword(token, password);
    }
    const std::optional<UserRecord> user = m_users.findById(*userId);
    if (user && crypto::verifyPassword(user->passwordHash, password)) {
        return pages::resetPasswordForm(token, u"Choose a password different from your current one."_s);
    }
    m_context.db().transaction([&] {
        m_users.setPassword(*userId, password);
        m_users.clearRecoveryToken(*userId);
        // Opening the emailed link proves the address, as a confirmation link would.
        m_users.confirmEmail(*userId);
        m_tokens.endAllSessions(*userId);
    });
    return pages::passwordChanged();
}

HttpResponse WebsiteService::changeHostedPassword(const QString &token, const QByteArray &password) {
    const HostedProject::Answer answer =
        m_hosted->call("PUT", u"/auth/v1/user"_s, {}, "Bearer " + token.toUtf8(),
                       QJsonDocument(QJsonObject{{u"password"_s, QString::fromUtf8(password)}})
                           .toJson(QJsonDocument::Compact));
    if (answer.status == 200) {
        return pages::passwordChanged();
    }
    if (answer.status == 401 || answer.status == 403) {
        return pages::resetLinkExpired();
    }
    // The project's own words for a password it refuses (too weak, the same as before).
    const QString refusal = QJsonDocument::fromJson(answer.body).object().value(u"msg").toString();
    if (answer.status == 422 && !refusal.isEmpty()) {
        return pages::resetPasswordForm(token, refusal);
    }
    std::fprintf(stderr, "website: changing a password: status %d %s\n", answer.status,
                 qPrintable(answer.problem));
    return pages::resetPasswordForm(token,
                                    u"The password could not be changed just now. Please try again."_s);
}

} // namespace tbserver
