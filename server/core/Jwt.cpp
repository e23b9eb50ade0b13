#include "core/Jwt.h"

#include "core/Crypto.h"

#include <QJsonDocument>

namespace tbserver {

QByteArray Jwt::sign(const QJsonObject &claims) const {
    const QByteArray header = crypto::base64Url(R"({"alg":"HS256","typ":"JWT"})");
    const QByteArray payload = crypto::base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact));
    const QByteArray signingInput = header + '.' + payload;
    return signingInput + '.' + crypto::base64Url(crypto::hmacSha256(m_secret, signingInput));
}

Jwt::Verified Jwt::verify(const QByteArray &token, qint64 nowSeconds) const {
    Verified result;
    const QList<QByteArray> parts = token.split('.');
    if (parts.size() != 3) {
        result.problem = Problem::Malformed;
        result.detail = "Expected 3 parts in JWT; got " + QByteArray::number(parts.size());
        return result;
    }
    bool headerOk = false;
    bool payloadOk = false;
    bool signatureOk = false;
    const QJsonDocument header = QJsonDocument::fromJson(crypto::fromBase64Url(parts[0], &headerOk));
    const QJsonDocument payload = QJsonDocument::fromJson(crypto::fromBase64Url(parts[1], &payloadOk));
    const QByteArray signature = crypto::fromBase64Url(parts[2], &signatureOk);
    if (!headerOk || !payloadOk || !signatureOk || !header.isObject() || !payload.isObject()) {
        result.problem = Problem::Malformed;
        result.detail = "JWT cryptographic operation failed";
        return result;
    }
    if (header.object().value(u"alg").toString() != u"HS256" ||
        !crypto::equalConstantTime(signature, crypto::hmacSha256(m_secret, parts[0] + '.' + parts[1]))) {
        result.problem = Problem::BadSignature;
        result.detail = "JWSError JWSInvalidSignature";
        return result;
    }
    result.claims = payload.object();
    const QJsonValue exp = result.claims.value(u"exp");
    // Compared as numbers: a value beyond any integer's range has no integer to cast to.
    if (!exp.isDouble() || !(exp.toDouble() >= double(nowSeconds + 1))) {
        result.problem = Problem::Expired;
        result.detail = "JWT expired";
    }
    return result;
}

} // namespace tbserver
