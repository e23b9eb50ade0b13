#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tallybrook::platform {

// A small file only its owner may read: the session's home when the desktop has no keyring.
[[nodiscard]] std::optional<QByteArray> readPrivateFile(const QString &path);

// Replaces the file atomically with owner-only permissions (0600, folder 0700), so a crash never leaves a
// half-written or world-readable copy behind. Returns false when it could not be written.
bool writePrivateFile(const QString &path, const QByteArray &data);

// Removes the file; a missing file is not an error.
bool removePrivateFile(const QString &path);

} // namespace tallybrook::platform
