#pragma once

#include <QString>

namespace tallybrook {

// Why a webhook delivery failed. Reported by value: a failed alert never interrupts the desk.
class NotifyError final {
public:
    enum class Kind { Http, Network };

    // The service answered outside 2xx.
    [[nodiscard]] static NotifyError http(int status) { return {Kind::Http, status, {}}; }
    // No HTTP answer at all; `text` is what the person reads.
    [[nodiscard]] static NotifyError network(QString text) { return {Kind::Network, 0, std::move(text)}; }

    [[nodiscard]] Kind kind() const { return m_kind; }
    // The status of an `Http` failure, otherwise 0.
    [[nodiscard]] int status() const { return m_status; }
    // The text the settings window shows.
    [[nodiscard]] QString message() const;

    friend bool operator==(const NotifyError &, const NotifyError &) = default;

private:
    NotifyError(Kind kind, int status, QString text)
        : m_kind(kind), m_status(status), m_text(std::move(text)) {}

    Kind m_kind;
    int m_status;
    QString m_text;
};

} // namespace tallybrook
