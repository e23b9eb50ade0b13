#include "platform/ActivationNotice.h"

#include <QGuiApplication>

namespace tallybrook::platform {

ActivationNotice::ActivationNotice(QObject *parent) : QObject(parent) {
    if (qGuiApp) {
        m_state = QGuiApplication::applicationState();
        connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                &ActivationNotice::applicationStateChanged);
    }
}

void ActivationNotice::applicationStateChanged(Qt::ApplicationState state) {
    const bool wasActive = m_state == Qt::ApplicationActive;
    m_state = state;
    if (state == Qt::ApplicationActive && !wasActive) {
        Q_EMIT becameActive();
    }
}

} // namespace tallybrook::platform
