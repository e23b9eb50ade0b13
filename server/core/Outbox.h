#pragma once

#include <QString>

namespace tbserver {

// Emails are not sent from this machine: each is written as an .eml file under <data>/outbox/, where a person
// (or a test) can open it.
class Outbox final {
public:
    explicit Outbox(QString folder) : m_folder(std::move(folder)) {}

    // Returns the path of the written file, or an empty text when it could not be written.
    QString write(const QString &to, const QString &subject, const QString &textBody) const;

    [[nodiscard]] const QString &folder() const { return m_folder; }

private:
    QString m_folder;
};

} // namespace tbserver
