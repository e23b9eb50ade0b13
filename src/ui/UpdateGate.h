#pragma once

#include "ui/UpdateRequiredView.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QStackedLayout;

namespace tallybrook {
class UpdateChecker;
namespace platform {
class UrlOpener;
}
} // namespace tallybrook

namespace tallybrook::ui {

// Wraps a window's content. While the running version is no longer supported, the content is replaced by
// the update-required screen and nothing of it can be reached; otherwise the content shows, with an alert
// offering a newer version once per version and run. However that alert is closed, the offered version
// counts as dismissed.
class UpdateGate final : public QWidget {
    Q_OBJECT

public:
    struct Options {
        QString runningVersion; // "0" when empty
        std::function<void()> quit;
    };

    UpdateGate(UpdateChecker &updates, platform::UrlOpener &urlOpener, Options options, QWidget *content,
               QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(UpdateGate)

    [[nodiscard]] QWidget *content() const { return m_content; }
    // Only while the update is required.
    [[nodiscard]] UpdateRequiredView *requiredView() const { return m_requiredView; }
    [[nodiscard]] bool isBlocking() const { return m_requiredView != nullptr; }
    // The open update alert, if any.
    [[nodiscard]] QMessageBox *alert() const { return m_alert; }

    // "Tallybrook 2.0 is ready. You're using 1.0."
    [[nodiscard]] static QString offerMessage(const QString &offeredVersion, const QString &runningVersion);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void sync();
    void block();
    void unblock();
    void showAlert();
    void closeAlert();
    void alertAnswered(int button);
    void closeContentDialogs();

    UpdateChecker &m_updates;
    platform::UrlOpener &m_urlOpener;
    Options m_options;
    QWidget *m_content;
    QStackedLayout *m_stack;
    QPointer<UpdateRequiredView> m_requiredView;
    QPointer<QMessageBox> m_alert;
    bool m_alertPending = false;
};

} // namespace tallybrook::ui
