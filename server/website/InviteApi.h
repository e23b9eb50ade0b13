#pragma once

#include "core/ServerContext.h"
#include "http/HttpMessage.h"
#include "website/InviteBackend.h"

#include <QJsonArray>
#include <QString>

#include <optional>

namespace tbserver {

class Outbox;

// The website's invite API: creates an invite for the signed-in account and mails the guest the link
// "<website>/i/<token>"; sends that email again on request. The invites themselves live in `backend`.
class InviteApi final {
public:
    InviteApi(ServerContext &context, InviteBackend &backend, Outbox &outbox);
    Q_DISABLE_COPY_MOVE(InviteApi)

    static constexpr int maximumNoteLength = 2000;
    static constexpr int maximumAnswerLength = 1000;
    static constexpr int maximumAnswers = 100;

    // POST api/invites: 201 {"id": ...}; throws WebsiteError.
    HttpResponse create(const HttpRequest &request);
    // POST api/invites/<id>/resend: 200 {"id": ...}; throws WebsiteError.
    HttpResponse resend(const HttpRequest &request, const QString &inviteId);

    // The invite behind a guest link, or nothing.
    [[nodiscard]] std::optional<GuestInvite> guestInvite(const QString &token) const {
        return m_backend.guestInvite(token);
    }

    // The guest's link for an invite token.
    [[nodiscard]] QString inviteLink(const QString &token) const;

private:
    // Throws a 500 WebsiteError when the email could not be written.
    void sendInvitation(const InviteOwner &owner, const InviteSetup &setup, const InviteRecord &invite) const;

    ServerContext &m_context;
    InviteBackend &m_backend;
    Outbox &m_outbox;
};

} // namespace tbserver
