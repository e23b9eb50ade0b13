#pragma once

#include <QByteArray>
#include <QString>

namespace tbserver {

// Secrets and mail on disk: folders 0700, files 0600, each file replaced whole or not at all.
bool makePrivateFolder(const QString &path);
bool writePrivateFile(const QString &path, const QByteArray &data);

// Reads a file an administrator gave the server a secret in (a password, a key) into `contents`. Refuses one
// that others may read or change. Says why it cannot be used, or is empty.
[[nodiscard]] QString readOwnerOnlyFile(const QString &path, QByteArray &contents);

} // namespace tbserver
