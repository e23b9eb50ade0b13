#pragma once

#include "auth/TokenStore.h"
#include "core/ServerContext.h"
#include "rest/InviteStore.h"
#include "website/InviteBackend.h"

namespace tbserver {

// Invites in this server's own database, for accounts of its own Auth service.
class LocalInvites final : public InviteBackend {
public:
    explicit LocalInvites(ServerContext &context) : m_context(context), m_store(context), m_tokens(context) {}
    Q_DISABLE_COPY_MOVE(LocalInvites)

    InviteOwner signedIn(const HttpRequest &request) override;
    InviteSetup setupOf(const InviteOwner &owner) override;
    InviteRecord create(const InviteOwner &owner, const NewInviteRecord &invite) override;
    void remove(const InviteOwner &owner, const QString &id) override;
    std::optional<InviteRecord> find(const InviteOwner &owner, const QString &id) override;
    std::optional<GuestInvite> guestInvite(const QString &token) override;

private:
    [[nodiscard]] InviteSetup setupOf(const QString &ownerId) const;

    ServerContext &m_context;
    InviteStore m_store;
    TokenStore m_tokens;
};

} // namespace tbserver
