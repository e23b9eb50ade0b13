#pragma once

#include <QObject>
#include <QString>

namespace tallybrook::platform {

// A short notice on the desktop, outside the desk's windows. The model holds this interface so that tests
// record the notices instead of showing them.
class DesktopNotices {
public:
    virtual ~DesktopNotices() = default;
    Q_DISABLE_COPY_MOVE(DesktopNotices)

    // Returns at once; a desktop that cannot show notices drops them.
    virtual void show(const QString &summary) = 0;

protected:
    DesktopNotices() = default;
};

// The desktop's notification service (org.freedesktop.Notifications) on the session bus. Without a session
// bus or a service on it, notices are dropped and that is logged once.
class FreedesktopNotices final : public DesktopNotices {
public:
    FreedesktopNotices() = default;

    void show(const QString &summary) override;

private:
    void reportUnavailable(const QString &reason);

    // Owns the replies still on their way, so none is answered into a destroyed object.
    QObject m_replies;
    bool m_hasReportedUnavailable = false;
};

} // namespace tallybrook::platform
