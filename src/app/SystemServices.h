#pragma once

#include "app/TallybrookApp.h"
#include "cloud/KeychainSessionStore.h"
#include "platform/DesktopNotices.h"
#include "platform/QtPrintSystem.h"
#include "platform/UrlOpener.h"

#include <QNetworkAccessManager>
#include <QSettings>

namespace tallybrook {

// The real platform behind the desk: the shared HTTP client, the session in the desktop keyring, the
// computer's preferences, the print system, the browser and the desktop's notices.
class SystemServices final {
public:
    SystemServices();
    Q_DISABLE_COPY_MOVE(SystemServices)

    [[nodiscard]] DeskPlatform platform();

private:
    QNetworkAccessManager m_http;
    KeychainSessionStore m_sessionStore;
    QSettings m_defaults;
    platform::QtPrintSystem m_printSystem;
    platform::DesktopUrlOpener m_urlOpener;
    platform::FreedesktopNotices m_desktopNotices;
};

} // namespace tallybrook
