#include "platform/DesktopNotices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QStringList>
#include <QVariantMap>

namespace tallybrook::platform {

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcDesktopNotices, "tallybrook.platform.notices")

void FreedesktopNotices::show(const QString &summary) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reportUnavailable(u"no session bus"_s);
        return;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
                                                         u"/org/freedesktop/Notifications"_s,
                                                         u"org.freedesktop.Notifications"_s, u"Notify"_s);
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's).
    notify.setArguments({u"Tallybrook"_s, 0U, u"app.tallybrook.desk"_s, summary, QString(), QStringList(),
                         QVariantMap(), -1});
    // Never waited for: a notification service that hangs must not hold up the desk.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify), &m_replies);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_replies,
                     [this](QDBusPendingCallWatcher *reply) {
                         if (reply->isError()) {
                             reportUnavailable(reply->error().message());
                         }
                         reply->deleteLater();
                     });
}

void FreedesktopNotices::reportUnavailable(const QString &reason) {
    if (!m_hasReportedUnavailable) {
        m_hasReportedUnavailable = true;
        qCInfo(lcDesktopNotices) << "desktop notices are not shown:" << reason;
    }
}

} // namespace tallybrook::platform
