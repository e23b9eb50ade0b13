#include "cloud/CloudRequest.h"

#include <QNetworkReply>

namespace tallybrook {

namespace {

QByteArray find(const HeaderList &headers, QByteArrayView name) {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

} // namespace

void CloudRequest::setHeader(const QByteArray &name, const QByteArray &value) {
    for (auto &[key, existing] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            existing = value;
            return;
        }
    }
    headers.append({name, value});
}

void RequestScope::track(QNetworkReply *reply) {
    m_replies.removeIf(
        [](const QPointer<QNetworkReply> &tracked) { return tracked.isNull() || tracked->isFinished(); });
    m_replies.append(reply);
}

std::shared_ptr<RequestScope> RequestScope::child() {
    auto scope = std::make_shared<RequestScope>();
    scope->m_aborted = m_aborted;
    m_children.removeIf([](const std::weak_ptr<RequestScope> &child) { return child.expired(); });
    m_children.append(scope);
    return scope;
}

void RequestScope::abort() {
    m_aborted = true;
    for (const auto &weak : std::exchange(m_children, {})) {
        if (const auto scope = weak.lock()) {
            scope->abort();
        }
    }
    for (const auto &reply : std::exchange(m_replies, {})) {
        // A reply that already failed is finishing on its own; aborting it again makes Qt complain.
        if (reply && !reply->isFinished() && reply->error() == QNetworkReply::NoError) {
            reply->setProperty(abortedMark, true);
            reply->abort();
        }
    }
}

QByteArray CloudRequest::header(QByteArrayView name) const {
    return find(headers, name);
}

QByteArray CloudResponse::header(QByteArrayView name) const {
    return find(headers, name);
}

} // namespace tallybrook
