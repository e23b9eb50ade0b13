#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <utility>

class QNetworkReply;

namespace tallybrook {

// Requests that end together: aborting the scope aborts every reply still running in it, and a request sent
// in an aborted scope fails at once. Used to cancel the rest of an operation when one part of it fails, and
// everything a client still has running when it goes away.
class RequestScope final {
public:
    void track(QNetworkReply *reply);
    // A scope of its own that this one aborts too; used by an operation that must cancel its own parts
    // without cancelling its caller's other requests.
    [[nodiscard]] std::shared_ptr<RequestScope> child();
    void abort();
    [[nodiscard]] bool isAborted() const { return m_aborted; }

    // Set on a reply this desk aborted itself, to tell that from a time-out.
    static constexpr const char *abortedMark = "tallybrook.aborted";

private:
    bool m_aborted = false;
    QList<QPointer<QNetworkReply>> m_replies;
    QList<std::weak_ptr<RequestScope>> m_children;
};

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One request as the desk composes it: headers keep the order they were set in.
struct CloudRequest {
    QUrl url;
    QByteArray method = QByteArrayLiteral("GET");
    HeaderList headers;
    QByteArray body;
    std::chrono::milliseconds timeout{30'000};
    // Optional: the group this request is cancelled with.
    std::shared_ptr<RequestScope> scope;

    // Replaces a header of the same name (case-insensitive) in place, or appends it.
    void setHeader(const QByteArray &name, const QByteArray &value);
    [[nodiscard]] QByteArray header(QByteArrayView name) const;
};

// An HTTP answer of any status.
struct CloudResponse {
    int status = 0;
    HeaderList headers;
    QByteArray body;

    [[nodiscard]] QByteArray header(QByteArrayView name) const;
    [[nodiscard]] bool isSuccess() const { return status >= 200 && status <= 299; }
};

} // namespace tallybrook
