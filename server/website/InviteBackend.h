#pragma once

#include "http/HttpMessage.h"
#include "rest/InviteStore.h"
#include "website/Pages.h"

#include <QJsonArray>
#include <QString>

#include <optional>

namespace tbserver {

// A refusal of the website's API, answered as {"error": message}.
struct WebsiteError {
    int status = 422;
    QString message;
};

// The signed-in account an invite request speaks for.
struct InviteOwner {
    QString userId;           // lower-case uuid
    QString name;             // the account's name, for "<name> has invited you"; may be empty
    QByteArray authorization; // the request's own "Bearer …", for a backend that checks rows with it
};

// The account's form and place, which an invitation quotes.
struct InviteSetup {
    QJsonArray fields;
    QString placeName;
};

// Where invites live: this server's own database, or a hosted project reached over HTTPS. Every call throws
// WebsiteError when the backend refuses or cannot be reached.
class InviteBackend {
public:
    virtual ~InviteBackend() = default;

    // The account behind the request's bearer token; a 401 WebsiteError without a live session.
    virtual InviteOwner signedIn(const HttpRequest &request) = 0;
    virtual InviteSetup setupOf(const InviteOwner &owner) = 0;
    // Stores the invite as the owner's, with the token it carries.
    virtual InviteRecord create(const InviteOwner &owner, const NewInviteRecord &invite) = 0;
    // Takes back an invite whose email could not be written.
    virtual void remove(const InviteOwner &owner, const QString &id) = 0;
    // The owner's invite with this id; nothing for another account's.
    virtual std::optional<InviteRecord> find(const InviteOwner &owner, const QString &id) = 0;
    // What the guest page behind a link shows, whoever owns the invite.
    virtual std::optional<GuestInvite> guestInvite(const QString &token) = 0;
};

} // namespace tbserver
