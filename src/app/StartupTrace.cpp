#include "app/StartupTrace.h"

#include "model/AppModel.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cstdio>

namespace tallybrook {

StartupTrace::StartupTrace(QWidget &mainWindow, AppModel &model, QObject *parent)
    : QObject(parent), m_mainWindow(mainWindow) {
    qApp->installEventFilter(this);
    connect(&model, &AppModel::lastRefreshChanged, this, [this, &model] {
        if (!model.lastRefresh()) {
            return;
        }
        m_countsArrived = true;
        std::fprintf(stderr, "tallybrook: refreshed %d\n", ++m_refreshes);
    });
}

bool StartupTrace::isWanted() {
    return qEnvironmentVariableIsSet("TALLYBROOK_TRACE_STARTUP");
}

bool StartupTrace::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == &m_mainWindow) {
        if (!m_firstFrame) {
            m_firstFrame = true;
            std::fprintf(stderr, "tallybrook: first frame\n");
        }
        if (m_countsArrived && !m_countsShown) {
            m_countsShown = true;
            std::fprintf(stderr, "tallybrook: counts shown\n");
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tallybrook
