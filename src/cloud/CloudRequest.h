#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <chrono>
#include <utility>

namespace tallybrook {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One request as the desk composes it: headers keep the order they were set in.
struct CloudRequest {
    QUrl url;
    QByteArray method = QByteArrayLiteral("GET");
    HeaderList headers;
    QByteArray body;
    std::chrono::milliseconds timeout{30'000};

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
