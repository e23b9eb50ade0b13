#include "platform/UrlOpener.h"

#include <QDesktopServices>
#include <QLoggingCategory>

namespace tallybrook::platform {

Q_LOGGING_CATEGORY(lcUrlOpener, "tallybrook.platform.url")

bool DesktopUrlOpener::openUrl(const QUrl &url) {
    const bool opened = QDesktopServices::openUrl(url);
    if (!opened) {
        qCWarning(lcUrlOpener) << "no browser took" << url.toDisplayString();
    }
    return opened;
}

} // namespace tallybrook::platform
