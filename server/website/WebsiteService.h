#pragma once

#include "auth/TokenStore.h"
#include "auth/UserStore.h"
#include "core/ServerContext.h"
#include "http/HttpMessage.h"
#include "website/HostedInvites.h"
#include "website/InviteApi.h"

#include <optional>

namespace tbserver {

class Outbox;

// The maker's website as the desk uses it: the invite API (api/invites), the version manifest
// (api/mac/version), the guest's invite page (i/<token>), the help pages and the page behind the links in
// account emails (auth/callback, which also lets the owner of a reset link choose a new password).
class WebsiteService final {
public:
    // With `hosted`, accounts live in that project: the reset-password page changes the password there.
    WebsiteService(ServerContext &context, InviteBackend &invites, Outbox &outbox,
                   std::optional<HostedProject> hosted = std::nullopt);
    Q_DISABLE_COPY_MOVE(WebsiteService)

    // `subpath` is the part after the service's prefix, without a leading "/".
    [[nodiscard]] HttpResponse handle(const HttpRequest &request, QByteArrayView subpath);

    // The manifest served when the server was started without --manifest: nothing newer on either channel.
    [[nodiscard]] static QByteArray defaultManifest();

private:
    HttpResponse api(const HttpRequest &request, QByteArrayView path);
    HttpResponse page(const HttpRequest &request, QByteArrayView path);
    HttpResponse versionManifest() const;
    HttpResponse authCallback(const HttpRequest &request);
    HttpResponse resetPassword(const HttpRequest &request);
    HttpResponse changeHostedPassword(const QString &token, const QByteArray &password);

    ServerContext &m_context;
    InviteApi m_invites;
    UserStore m_users;
    TokenStore m_tokens;
    std::optional<HostedProject> m_hosted;
};

} // namespace tbserver
