#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

namespace tbserver {

using namespace Qt::StringLiterals;

bool makePrivateFolder(const QString &path) {
    return QDir().mkpath(path) &&
           QFile::setPermissions(path,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool writePrivateFile(const QString &path, const QByteArray &data) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) == 0 &&
           file.write(data) == data.size() && file.commit();
}

QString readOwnerOnlyFile(const QString &path, QByteArray &contents) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return u"cannot read %1: %2"_s.arg(path, file.errorString());
    }
    // The mode of the file opened, not of whatever the name points at a moment later.
    struct stat info {};
    if (::fstat(file.handle(), &info) != 0) {
        return u"cannot read %1"_s.arg(path);
    }
    if ((info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        return u"%1 holds a secret, yet others may read or change it (mode %2): chmod 600 it"_s.arg(path).arg(
            uint(info.st_mode & 0777), 3, 8, QChar(u'0'));
    }
    contents = file.readAll();
    return {};
}

} // namespace tbserver
