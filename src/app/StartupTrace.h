#pragma once

#include <QObject>

class QWidget;

namespace tallybrook {

class AppModel;

// For timing the desk's start from outside: when TALLYBROOK_TRACE_STARTUP is set, one line on stderr when the
// main window's first frame is painted ("tallybrook: first frame"), when the first counts of the account are
// painted ("tallybrook: counts shown") and after every refresh ("tallybrook: refreshed N").
class StartupTrace final : public QObject {
    Q_OBJECT

public:
    StartupTrace(QWidget &mainWindow, AppModel &model, QObject *parent = nullptr);
    [[nodiscard]] static bool isWanted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &m_mainWindow;
    bool m_firstFrame = false;
    bool m_countsArrived = false;
    bool m_countsShown = false;
    int m_refreshes = 0;
};

} // namespace tallybrook
