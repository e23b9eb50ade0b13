// The update manifest the desk fetches at start, and the version comparison it feeds.

#include "FuzzCheck.h"
#include "updates/VersionManifest.h"

#include <QCoreApplication>

using namespace tallybrook;

namespace {

void checkChannel(const VersionManifest::Channel &channel) {
    const QString &a = channel.minimumVersion;
    const QString &b = channel.latestVersion;
    // An order, whatever the texts: otherwise "update available" and "update required" could contradict.
    FUZZ_CHECK(compareVersions(a, b) == -compareVersions(b, a));
    FUZZ_CHECK(compareVersions(a, a) == 0);
    if (channel.hasOpenableDownloadURL()) {
        const QString scheme = channel.downloadURL.scheme().toLower();
        FUZZ_CHECK(scheme == u"https" || scheme == u"http");
        FUZZ_CHECK(!channel.downloadURL.host().isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const std::optional<VersionManifest> manifest = VersionManifest::fromJson(body)) {
        if (manifest->direct) {
            checkChannel(*manifest->direct);
        }
        if (manifest->appStore) {
            checkChannel(*manifest->appStore);
        }
    }
    // Three arbitrary versions compare transitively.
    const QList<QByteArray> parts = body.split('\n');
    if (parts.size() >= 3) {
        const QString a = QString::fromUtf8(parts[0]);
        const QString b = QString::fromUtf8(parts[1]);
        const QString c = QString::fromUtf8(parts[2]);
        if (compareVersions(a, b) <= 0 && compareVersions(b, c) <= 0) {
            FUZZ_CHECK(compareVersions(a, c) <= 0);
        }
    }
    return 0;
}
