#pragma once

#include "cloud/CloudConfig.h"
#include "updates/UpdateChecker.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QAction;
class QMainWindow;
class QNetworkAccessManager;
class QSettings;
class QWidget;

namespace tallybrook {

class AppModel;
class BadgePrinter;
class CloudClient;
class Notifier;
class SessionStore;

namespace platform {
class ActivationNotice;
class DesktopNotices;
class PrintSystem;
class UrlOpener;
} // namespace platform

namespace ui {
class ContentView;
class UpdateGate;
} // namespace ui

// What the desk starts from: the platform's services and the build's configuration. main() hands over the
// real ones; tests hand over fakes and a scripted server.
struct DeskPlatform {
    QNetworkAccessManager &http; // the one shared HTTP client
    SessionStore &sessionStore;
    QSettings &defaults; // the computer's preferences
    platform::PrintSystem &printSystem;
    platform::UrlOpener &urlOpener;
    CloudConfig cloudConfig;
    UpdateChecker::Options updateOptions;
    std::function<QString()> deviceName;
    // Ends the application (the update-required screen's "Quit", the Quit command).
    std::function<void()> quit;
    // Where visitors signed in on other devices are announced; none when unset.
    platform::DesktopNotices *desktopNotices = nullptr;
    // Where sign-ins made while the backend cannot be reached wait; unset, such a sign-in fails.
    std::optional<QString> pendingFolder;
};

// The application shell: creates the desk's long-lived objects once, in launch order (backend client, badge
// printer, model, update checker), the one main window and, on request, the settings window, both behind the
// update gate; and it holds the menu commands with their shortcuts and enablement. Its only reactions:
// enabling the commands, raising the model's presentation flags, and resetting the model when the running
// version stops being supported.
class TallybrookApp final : public QObject {
    Q_OBJECT

public:
    enum class Command {
        SignInVisitor,
        NewInvite,
        RollCall,
        Refresh,
        Settings,
        Quit,
        Welcome,
        Support,
        HostNotificationsGuide,
        PrivacyPolicy,
    };

    explicit TallybrookApp(DeskPlatform platform, QObject *parent = nullptr);
    ~TallybrookApp() override;
    Q_DISABLE_COPY_MOVE(TallybrookApp)

    [[nodiscard]] AppModel &model() const { return *m_model; }
    [[nodiscard]] CloudClient &cloud() const { return *m_cloud; }
    [[nodiscard]] BadgePrinter &printer() const { return *m_printer; }
    [[nodiscard]] UpdateChecker &updates() const { return *m_updates; }
    [[nodiscard]] platform::ActivationNotice &activation() const { return *m_activation; }

    [[nodiscard]] QMainWindow &mainWindow() const { return *m_mainWindow; }
    [[nodiscard]] ui::UpdateGate &mainGate() const { return *m_mainGate; }
    [[nodiscard]] ui::ContentView &contentView() const { return *m_contentView; }
    // Null until first opened.
    [[nodiscard]] QWidget *settingsWindow() const { return m_settingsWindow.get(); }
    [[nodiscard]] ui::UpdateGate *settingsGate() const { return m_settingsGate; }

    [[nodiscard]] QAction *action(Command command) const;

    void showMainWindow();
    void showSettings();

    // The minimum size of the main window's content, in points.
    static constexpr int minimumContentWidth = 860;
    static constexpr int minimumContentHeight = 560;

    // Configuration of the released build: the running version, and the manifest under the website.
    [[nodiscard]] static QString runningVersion();
    [[nodiscard]] static UpdateChecker::Options updateOptions(const CloudConfig &config);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMainWindow();
    void buildMenus();
    QAction *addCommand(Command command, const QString &title);
    void syncCommands();
    void updateStatusChanged();
    void openPage(const QUrl &url);

    DeskPlatform m_platform;
    // Created in launch order, destroyed in the reverse.
    std::unique_ptr<CloudClient> m_cloud;
    std::unique_ptr<BadgePrinter> m_printer;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<UpdateChecker> m_updates;
    std::unique_ptr<platform::ActivationNotice> m_activation;
    std::unique_ptr<QMainWindow> m_mainWindow;
    std::unique_ptr<QWidget> m_settingsWindow;
    ui::UpdateGate *m_mainGate = nullptr;
    ui::ContentView *m_contentView = nullptr;
    ui::UpdateGate *m_settingsGate = nullptr;

    QMap<Command, QAction *> m_actions;
    bool m_wasRequired = false;
    QUrl m_supportPage;
    QUrl m_hostNotificationsPage;
    QUrl m_privacyPage;
};

} // namespace tallybrook
