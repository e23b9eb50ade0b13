#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace tallybrook {

// The website's list of versions, one channel per way the desk is distributed.
struct VersionManifest {
    struct Channel {
        QString minimumVersion;
        QString latestVersion;
        QUrl downloadURL; // as the manifest has it, possibly invalid

        // https, or http on this computer only: the desk never opens another scheme taken from the network.
        [[nodiscard]] bool hasOpenableDownloadURL() const;

        friend bool operator==(const Channel &, const Channel &) = default;
    };

    std::optional<Channel> direct;
    std::optional<Channel> appStore;

    // Nothing when the document is unreadable: not a JSON object, or a channel that is not an object or lacks
    // a text member. Download addresses are judged only for the channel in use.
    [[nodiscard]] static std::optional<VersionManifest> fromJson(const QByteArray &body);
};

// Dotted versions piece by piece, missing pieces as 0, non-numeric pieces as 0: 1.2 == 1.2.0, 1.10 > 1.9.
[[nodiscard]] int compareVersions(const QString &a, const QString &b);

} // namespace tallybrook
