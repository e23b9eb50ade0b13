#pragma once

#include "website/InviteBackend.h"

#include <QUrl>

namespace tbserver {

// Invites in a hosted project, reached over its Auth and REST APIs. The caller's own bearer token checks the
// session and reads and writes the rows, so the project's row security decides what an account may touch; the
// service key is used only for the guest page's one-invite function.
//
// Every call blocks while it waits for the project, so it must run on a worker thread, never on the thread
// that accepts connections.
// A hosted project's address and keys, and one request to it, waited for.
class HostedProject final {
public:
    QUrl baseUrl; // https://<project>.supabase.co
    QByteArray publishableKey;
    QByteArray serviceKey;
    int timeoutMs = 20'000;

    struct Answer {
        int status = 0; // 0: no answer (connection, TLS, time-out)
        QByteArray body;
        QString problem; // what went wrong on the way, when there is no answer
    };
    // `authorization` empty: the service key speaks.
    [[nodiscard]] Answer call(const QByteArray &method, const QString &path, const QByteArray &query,
                              const QByteArray &authorization, const QByteArray &body = {},
                              const QByteArray &prefer = {}) const;
};

class HostedInvites final : public InviteBackend {
public:
    using Answer = HostedProject::Answer;
    explicit HostedInvites(HostedProject project) : m_project(std::move(project)) {}
    Q_DISABLE_COPY_MOVE(HostedInvites)

    InviteOwner signedIn(const HttpRequest &request) override;
    InviteSetup setupOf(const InviteOwner &owner) override;
    InviteRecord create(const InviteOwner &owner, const NewInviteRecord &invite) override;
    void remove(const InviteOwner &owner, const QString &id) override;
    std::optional<InviteRecord> find(const InviteOwner &owner, const QString &id) override;
    std::optional<GuestInvite> guestInvite(const QString &token) override;

private:
    [[nodiscard]] Answer call(const QByteArray &method, const QString &path, const QByteArray &query,
                              const QByteArray &authorization, const QByteArray &body = {},
                              const QByteArray &prefer = {}) const {
        return m_project.call(method, path, query, authorization, body, prefer);
    }

    HostedProject m_project;
};

} // namespace tbserver
