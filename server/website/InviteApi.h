#pragma once

#include "core/ServerContext.h"
#include "http/HttpMessage.h"
#include "rest/InviteStore.h"
#include "website/Pages.h"

#include <QJsonArray>
#include <QString>

#include <optional>

namespace tbserver {

class Outbox;

// A refusal of the website's API, answered as {"error": message}.
struct WebsiteError {
    int status = 422;
    QString message;
};

// The website's invite API: creates an invite for the signed-in account and mails the guest the link
// "<website>/i/<token>"; sends that email again on request.
class InviteApi final {
public:
    InviteApi(ServerContext &context, Outbox &outbox);
    Q_DISABLE_COPY_MOVE(InviteApi)

    static constexpr int maximumNoteLength = 2000;
    static constexpr int maximumAnswerLength = 1000;
    static constexpr int maximumAnswers = 100;

    // POST api/invites: 201 {"id": ...}; throws WebsiteError.
    HttpResponse create(const Principal &owner, const QByteArray &body);
    // POST api/invites/<id>/resend: 200 {"id": ...}; throws WebsiteError.
    HttpResponse resend(const Principal &owner, const QString &inviteId);

    // The invite behind a guest link, or nothing.
    [[nodiscard]] std::optional<GuestInvite> guestInvite(const QString &token) const;

    // The guest's link for an invite token.
    [[nodiscard]] QString inviteLink(const QString &token) const;

private:
    struct Setup {
        QJsonArray fields;
        QString placeName;
    };
    [[nodiscard]] Setup setupOf(const QString &ownerId) const;
    void sendInvitation(const InviteRecord &invite) const;

    ServerContext &m_context;
    Outbox &m_outbox;
    InviteStore m_store;
};

} // namespace tbserver
