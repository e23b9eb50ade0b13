#include "updates/VersionManifest.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

// False when the member is present but unreadable.
bool readChannel(const QJsonObject &document, QStringView key,
                 std::optional<VersionManifest::Channel> &channel) {
    const QJsonValue value = document.value(key);
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    if (!value.isObject()) {
        return false;
    }
    const QJsonObject object = value.toObject();
    const QJsonValue minimum = object.value(u"minimumVersion");
    const QJsonValue latest = object.value(u"latestVersion");
    const QJsonValue download = object.value(u"downloadURL");
    if (!minimum.isString() || !latest.isString() || !download.isString()) {
        return false;
    }
    channel = VersionManifest::Channel{minimum.toString(), latest.toString(),
                                       QUrl(download.toString(), QUrl::StrictMode)};
    return true;
}

qlonglong pieceValue(QStringView piece) {
    for (const QChar c : piece) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
    }
    bool ok = false;
    const qlonglong value = piece.toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace

bool VersionManifest::Channel::hasOpenableDownloadURL() const {
    if (!downloadURL.isValid() || downloadURL.host().isEmpty()) {
        return false;
    }
    const QString scheme = downloadURL.scheme().toLower();
    if (scheme == u"https") {
        return true;
    }
    if (scheme != u"http") {
        return false;
    }
    const QHostAddress address(downloadURL.host());
    return downloadURL.host().compare(u"localhost", Qt::CaseInsensitive) == 0 ||
           (!address.isNull() && address.isLoopback());
}

std::optional<VersionManifest> VersionManifest::fromJson(const QByteArray &body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        return std::nullopt;
    }
    VersionManifest manifest;
    if (!readChannel(document.object(), u"direct", manifest.direct) ||
        !readChannel(document.object(), u"appStore", manifest.appStore)) {
        return std::nullopt;
    }
    return manifest;
}

int compareVersions(const QString &a, const QString &b) {
    const QStringList left = a.split(u'.', Qt::SkipEmptyParts);
    const QStringList right = b.split(u'.', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const qlonglong x = i < left.size() ? pieceValue(left[i]) : 0;
        const qlonglong y = i < right.size() ? pieceValue(right[i]) : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

} // namespace tallybrook
