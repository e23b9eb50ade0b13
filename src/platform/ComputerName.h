#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tallybrook::platform {

// The computer's user-visible name, written on every visitor record the desk signs in: the PRETTY_HOSTNAME
// of /etc/machine-info, else the host name, else "Desk".
[[nodiscard]] QString computerName();

// The same rule over given inputs.
[[nodiscard]] QString computerNameFrom(const QByteArray &machineInfo, const QString &hostName);

// PRETTY_HOSTNAME from the text of a machine-info file (shell-style assignments, values plain, in single or
// in double quotes); nothing when it is absent or blank.
[[nodiscard]] std::optional<QString> prettyHostName(const QByteArray &machineInfo);

} // namespace tallybrook::platform
