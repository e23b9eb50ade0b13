#pragma once

#include <QObject>
#include <Qt>

namespace tallybrook::platform {

// Tells when the application becomes the active one (a window of it gets the focus after none had it). The
// desk refreshes its figures and the update checker may look for a new version at that moment.
class ActivationNotice final : public QObject {
    Q_OBJECT

public:
    // Follows QGuiApplication's state when there is a QGuiApplication.
    explicit ActivationNotice(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ActivationNotice)

public Q_SLOTS:
    // Where the application's state changes arrive; emits becameActive() on a change to
    // Qt::ApplicationActive.
    void applicationStateChanged(Qt::ApplicationState state);

Q_SIGNALS:
    void becameActive();

private:
    Qt::ApplicationState m_state = Qt::ApplicationInactive;
};

} // namespace tallybrook::platform
