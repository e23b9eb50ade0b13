#include "app/SystemServices.h"

#include "platform/ComputerName.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace tallybrook {

using namespace Qt::StringLiterals;

SystemServices::SystemServices()
    : m_sessionStore(KeychainSessionStore::defaultService(), u"session"_s,
                     KeychainSessionStore::defaultFallbackFile()),
      // Next to the session file: ~/.config/Tallybrook/Tallybrook.conf.
      m_defaults(u"Tallybrook"_s, u"Tallybrook"_s) {}

DeskPlatform SystemServices::platform() {
    const CloudConfig config = CloudConfig::fromEnvironment();
    return DeskPlatform{m_http, m_sessionStore, m_defaults, m_printSystem, m_urlOpener, config,
                        TallybrookApp::updateOptions(config), &platform::computerName,
                        [] { QCoreApplication::quit(); }, &m_desktopNotices,
                        // The desk's private data folder (~/.local/share/Tallybrook/Tallybrook on Linux).
                        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/pending"_s};
}

} // namespace tallybrook
