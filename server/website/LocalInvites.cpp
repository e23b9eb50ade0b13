#include "website/LocalInvites.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tbserver {

using namespace Qt::StringLiterals;

InviteOwner LocalInvites::signedIn(const HttpRequest &request) {
    const ServerContext::BearerCheck check = m_context.bearer(request);
    if (check.missing) {
        throw WebsiteError{401, u"Sign in to continue."_s};
    }
    if (!check.principal || !m_tokens.sessionExists(check.principal->sessionId, check.principal->userId)) {
        throw WebsiteError{401, u"Your session ended. Please sign in again."_s};
    }
    InviteOwner owner;
    owner.userId = check.principal->userId.toLower();
    owner.authorization = request.header("authorization");
    Statement user = m_context.db().prepare("SELECT user_metadata FROM users WHERE id = ?1");
    user.bind(1, owner.userId);
    if (user.step()) {
        owner.name = QJsonDocument::fromJson(user.text(0)).object().value(u"name").toString().trimmed();
    }
    return owner;
}

InviteSetup LocalInvites::setupOf(const QString &ownerId) const {
    InviteSetup setup;
    Statement row =
        m_context.db().prepare("SELECT fields, place_name FROM kiosk_settings WHERE owner_id = ?1");
    row.bind(1, ownerId);
    if (row.step()) {
        setup.fields = QJsonDocument::fromJson(row.text(0)).array();
        setup.placeName = row.isNull(1) ? QString() : row.string(1).trimmed();
    }
    return setup;
}

InviteSetup LocalInvites::setupOf(const InviteOwner &owner) {
    return setupOf(owner.userId);
}

InviteRecord LocalInvites::create(const InviteOwner &owner, const NewInviteRecord &invite) {
    return m_store.create(owner.userId, invite);
}

void LocalInvites::remove(const InviteOwner &owner, const QString &id) {
    m_store.remove(owner.userId, id);
}

std::optional<InviteRecord> LocalInvites::find(const InviteOwner &owner, const QString &id) {
    return m_store.find(owner.userId, id);
}

std::optional<GuestInvite> LocalInvites::guestInvite(const QString &token) {
    const std::optional<InviteRecord> invite = m_store.findByToken(token);
    if (!invite) {
        return std::nullopt;
    }
    GuestInvite guest;
    guest.visitorName = invite->visitorName;
    guest.visitDate = invite->visitDate.value_or(QString());
    guest.visitTime = invite->visitTime.value_or(QString());
    guest.note = invite->note.value_or(QString());
    guest.usedAt = invite->usedAt.value_or(QString()).toLatin1();
    guest.placeName = setupOf(invite->ownerId).placeName;
    return guest;
}

} // namespace tbserver
