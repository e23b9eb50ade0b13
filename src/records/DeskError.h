#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace tallybrook {

// The one base of every failure an operation throws: it carries the text the desk shows to the person.
class DeskError : public std::exception {
public:
    explicit DeskError(QString message);

    [[nodiscard]] const QString &message() const noexcept { return m_message; }
    [[nodiscard]] const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A 2xx answer whose body does not decode into the expected records ("Bad timestamp", a missing key, ...).
class DecodeError final : public DeskError {
public:
    using DeskError::DeskError;
};

} // namespace tallybrook
