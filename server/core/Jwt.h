#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

namespace tbserver {

// HS256 access tokens: what the hosted Auth service issues and the REST service checks.
class Jwt final {
public:
    explicit Jwt(QByteArray secret) : m_secret(std::move(secret)) {}

    [[nodiscard]] QByteArray sign(const QJsonObject &claims) const;

    enum class Problem { None, Malformed, BadSignature, Expired };
    struct Verified {
        Problem problem = Problem::None;
        QJsonObject claims;
        QByteArray detail; // what PostgREST would say
    };
    // `nowSeconds`: Unix time to check "exp" against.
    [[nodiscard]] Verified verify(const QByteArray &token, qint64 nowSeconds) const;

private:
    QByteArray m_secret;
};

} // namespace tbserver
