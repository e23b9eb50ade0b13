#include "platform/PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace tallybrook::platform {

namespace {
// Anything larger than this is not something we wrote.
constexpr qint64 maximumSize = 1024 * 1024;
} // namespace

std::optional<QByteArray> readPrivateFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumSize) {
        return std::nullopt;
    }
    return file.readAll();
}

bool writePrivateFile(const QString &path, const QByteArray &data) {
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    if (!folder.exists() && !folder.mkpath(QStringLiteral("."))) {
        return false;
    }
    QFile::setPermissions(folder.absolutePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
#if defined(Q_OS_UNIX)
    // Narrow the temporary file before any secret is written into it.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return false;
    }
#endif
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool removePrivateFile(const QString &path) {
    return !QFile::exists(path) || QFile::remove(path);
}

} // namespace tallybrook::platform
