#pragma once

#include "records/DeskError.h"

#include <QByteArray>

namespace tallybrook {

// Every way a backend or website call can fail, with the text the desk shows for it.
class CloudError final : public DeskError {
public:
    enum class Kind { Server, Network, WrongCredentials, EmailNotConfirmed, AccountExists, SignedOut };

    [[nodiscard]] static CloudError server(int status, QString message);
    [[nodiscard]] static CloudError network(QString message);
    [[nodiscard]] static CloudError wrongCredentials();
    [[nodiscard]] static CloudError emailNotConfirmed();
    [[nodiscard]] static CloudError accountExists();
    [[nodiscard]] static CloudError signedOut();

    [[nodiscard]] Kind kind() const { return m_kind; }
    // The status of a `Server` failure, otherwise 0.
    [[nodiscard]] int status() const { return m_status; }
    // The payload text of a `Server` or `Network` failure (possibly empty), otherwise empty.
    [[nodiscard]] const QString &detail() const { return m_detail; }

    friend bool operator==(const CloudError &a, const CloudError &b) {
        return a.m_kind == b.m_kind && a.m_status == b.m_status && a.m_detail == b.m_detail;
    }

private:
    CloudError(Kind kind, int status, QString detail);
    [[nodiscard]] static QString describe(Kind kind, int status, const QString &detail);

    Kind m_kind;
    int m_status;
    QString m_detail;
};

// Classifies an Auth or REST answer outside 2xx from its JSON error body, in either of the hosted
// service's error shapes. An unreadable body is `server(status, "")`, never a failure of its own.
[[nodiscard]] CloudError parseServerError(int status, const QByteArray &body);

// A website answer outside 2xx: only its "error" text is trusted.
[[nodiscard]] CloudError parseWebsiteError(int status, const QByteArray &body);

} // namespace tallybrook
