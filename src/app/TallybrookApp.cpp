#include "app/TallybrookApp.h"

#include "badges/BadgePrinter.h"
#include "cloud/CloudClient.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "platform/ActivationNotice.h"
#include "platform/UrlOpener.h"
#include "ui/Commands.h"
#include "ui/ContentView.h"
#include "ui/DeskView.h"
#include "ui/Environment.h"
#include "ui/Icons.h"
#include "ui/SettingsView.h"
#include "ui/UpdateGate.h"

#include <QAction>
#include <QCloseEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace tallybrook {

using namespace Qt::StringLiterals;

QString TallybrookApp::runningVersion() {
    return QStringLiteral(TALLYBROOK_VERSION);
}

UpdateChecker::Options TallybrookApp::updateOptions(const CloudConfig &config) {
    UpdateChecker::Options options;
    options.manifestURL = config.pageURL(u"api/mac/version"_s);
    options.runningVersion = runningVersion();
    options.channel = UpdateChecker::buildChannel();
    return options;
}

TallybrookApp::TallybrookApp(DeskPlatform platform, QObject *parent)
    : QObject(parent), m_platform(std::move(platform)) {
    // The launch sequence. The client restores the stored session at once, so the first frame already knows
    // whether somebody is signed in.
    m_cloud = std::make_unique<CloudClient>(m_platform.http, m_platform.sessionStore, m_platform.cloudConfig);
    m_printer = std::make_unique<BadgePrinter>(m_platform.defaults, m_platform.printSystem);
    m_notifier = std::make_unique<Notifier>(m_platform.http, m_platform.defaults);
    AppModelOptions modelOptions;
    modelOptions.deviceName = m_platform.deviceName;
    modelOptions.desktopNotices = m_platform.desktopNotices;
    modelOptions.preferences = &m_platform.defaults;
    modelOptions.pendingFolder = m_platform.pendingFolder;
    // For development and benchmarks: a shorter poll than the 15 seconds a desk needs.
    if (const int pollMs = qEnvironmentVariableIntValue("TALLYBROOK_POLL_MS"); pollMs > 0) {
        modelOptions.pollInterval = std::chrono::milliseconds(pollMs);
    }
    m_model = std::make_unique<AppModel>(*m_cloud, *m_printer, *m_notifier, modelOptions);
    m_updates = std::make_unique<UpdateChecker>(m_platform.http, m_platform.updateOptions);

    m_activation = std::make_unique<platform::ActivationNotice>();
    connect(m_activation.get(), &platform::ActivationNotice::becameActive, m_model.get(),
            &AppModel::applicationBecameActive);
    connect(m_activation.get(), &platform::ActivationNotice::becameActive, m_updates.get(),
            &UpdateChecker::applicationBecameActive);

    const CloudConfig &config = m_cloud->config();
    m_supportPage = config.pageURL(u"support"_s);
    m_hostNotificationsPage = config.pageURL(u"guides/host-notifications"_s);
    m_privacyPage = config.pageURL(u"privacy"_s);

    m_wasRequired = m_updates->isRequired();
    connect(m_updates.get(), &UpdateChecker::statusChanged, this, &TallybrookApp::updateStatusChanged);
    connect(m_cloud.get(), &CloudClient::sessionChanged, this, &TallybrookApp::syncCommands);

    buildMainWindow();
    buildMenus();
    syncCommands();
}

TallybrookApp::~TallybrookApp() {
    // The windows first: their views hold the model and the checker.
    m_settingsWindow.reset();
    m_mainWindow.reset();
}

void TallybrookApp::buildMainWindow() {
    m_mainWindow = std::make_unique<QMainWindow>();
    m_mainWindow->setObjectName(u"main"_s);
    m_mainWindow->setWindowTitle(u"Tallybrook"_s);
    m_mainWindow->setWindowIcon(ui::applicationIcon());
    m_mainWindow->installEventFilter(this);

    const ui::Environment environment{*m_model, m_platform.defaults, m_platform.urlOpener};
    m_contentView = new ui::ContentView(environment);
    m_mainGate =
        new ui::UpdateGate(*m_updates, m_platform.urlOpener,
                           ui::UpdateGate::Options{runningVersion(), m_platform.quit}, m_contentView);
    m_mainGate->setMinimumSize(minimumContentWidth, minimumContentHeight);
    m_mainWindow->setCentralWidget(m_mainGate);
    m_mainWindow->resize(1040, 680);
}

QAction *TallybrookApp::addCommand(Command command, const QString &title) {
    auto *action = new QAction(title, m_mainWindow.get());
    // The menus live in the main window only; their shortcuts must also work from the settings window.
    // One action per command keeps each shortcut registered once, so none is ambiguous or fires twice.
    action->setShortcutContext(Qt::ApplicationShortcut);
    m_actions.insert(command, action);
    return action;
}

void TallybrookApp::buildMenus() {
    QMenuBar *bar = m_mainWindow->menuBar();

    QMenu *file = bar->addMenu(u"&File"_s);
    file->setObjectName(u"fileMenu"_s);
    QAction *signIn = addCommand(Command::SignInVisitor, u"Sign In Visitor\u2026"_s);
    signIn->setObjectName(u"signInVisitorAction"_s);
    signIn->setShortcut(ui::signInVisitorShortcut());
    connect(signIn, &QAction::triggered, this, [this] { m_model->setSigningIn(true); });
    file->addAction(signIn);
    QAction *invite = addCommand(Command::NewInvite, u"New Invite\u2026"_s);
    invite->setObjectName(u"newInviteAction"_s);
    invite->setShortcut(ui::newInviteShortcut());
    connect(invite, &QAction::triggered, this, [this] { m_model->setInviting(true); });
    file->addAction(invite);
    QAction *rollCall = addCommand(Command::RollCall, u"Roll Call\u2026"_s);
    rollCall->setObjectName(u"rollCallAction"_s);
    rollCall->setShortcut(ui::rollCallShortcut());
    connect(rollCall, &QAction::triggered, this, [this] {
        if (ui::DeskView *desk = m_contentView->deskView()) {
            desk->showRollCall();
        }
    });
    file->addAction(rollCall);
    file->addSeparator();
    QAction *settings = addCommand(Command::Settings, u"Settings\u2026"_s);
    settings->setObjectName(u"settingsAction"_s);
    settings->setShortcut(ui::settingsShortcut());
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, &TallybrookApp::showSettings);
    file->addAction(settings);
    file->addSeparator();
    QAction *quit = addCommand(Command::Quit, u"Quit"_s);
    quit->setObjectName(u"quitAction"_s);
    quit->setShortcut(ui::quitShortcut());
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] {
        if (m_platform.quit) {
            m_platform.quit();
        }
    });
    file->addAction(quit);

    QMenu *view = bar->addMenu(u"&View"_s);
    view->setObjectName(u"viewMenu"_s);
    QAction *refresh = addCommand(Command::Refresh, u"Refresh"_s);
    refresh->setObjectName(u"refreshAction"_s);
    refresh->setShortcut(ui::refreshShortcut());
    // Not awaited: the model keeps its own failures, and a refresh never throws.
    connect(refresh, &QAction::triggered, this, [this] { static_cast<void>(m_model->refresh()); });
    view->addAction(refresh);

    QMenu *help = bar->addMenu(u"&Help"_s);
    help->setObjectName(u"helpMenu"_s);
    QAction *welcome = addCommand(Command::Welcome, u"Welcome to Tallybrook"_s);
    welcome->setObjectName(u"welcomeAction"_s);
    connect(welcome, &QAction::triggered, this, [this] { m_model->setShowingOnboarding(true); });
    help->addAction(welcome);
    help->addSeparator();
    QAction *support = addCommand(Command::Support, u"Tallybrook Support"_s);
    support->setObjectName(u"supportAction"_s);
    connect(support, &QAction::triggered, this, [this] { openPage(m_supportPage); });
    help->addAction(support);
    QAction *guide = addCommand(Command::HostNotificationsGuide, u"Host Notifications Guide"_s);
    guide->setObjectName(u"hostNotificationsGuideAction"_s);
    connect(guide, &QAction::triggered, this, [this] { openPage(m_hostNotificationsPage); });
    help->addAction(guide);
    QAction *privacy = addCommand(Command::PrivacyPolicy, u"Privacy Policy"_s);
    privacy->setObjectName(u"privacyPolicyAction"_s);
    connect(privacy, &QAction::triggered, this, [this] { openPage(m_privacyPage); });
    help->addAction(privacy);
}

QAction *TallybrookApp::action(Command command) const {
    return m_actions.value(command);
}

void TallybrookApp::openPage(const QUrl &url) {
    m_platform.urlOpener.openUrl(url);
}

void TallybrookApp::syncCommands() {
    const bool deskCommands = m_cloud->isSignedIn() && !m_updates->isRequired();
    for (const Command command :
         {Command::SignInVisitor, Command::NewInvite, Command::RollCall, Command::Refresh}) {
        m_actions.value(command)->setEnabled(deskCommands);
    }
}

void TallybrookApp::updateStatusChanged() {
    const bool required = m_updates->isRequired();
    if (required != m_wasRequired) {
        m_wasRequired = required;
        if (required) {
            // An unsupported copy stops polling and lets go of the account's data at once.
            m_model->reset();
        }
    }
    syncCommands();
}

void TallybrookApp::showMainWindow() {
    // Also when a second launch asks for the desk that was minimised.
    m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void TallybrookApp::showSettings() {
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<QWidget>(nullptr, Qt::Window);
        m_settingsWindow->setObjectName(u"settings"_s);
        m_settingsWindow->setWindowTitle(u"Settings"_s);
        m_settingsWindow->setWindowIcon(ui::applicationIcon());
        const ui::Environment environment{*m_model, m_platform.defaults, m_platform.urlOpener};
        auto *content = new ui::SettingsView(environment);
        m_settingsGate =
            new ui::UpdateGate(*m_updates, m_platform.urlOpener,
                               ui::UpdateGate::Options{runningVersion(), m_platform.quit}, content);
        auto *layout = new QVBoxLayout(m_settingsWindow.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_settingsGate);
        m_settingsWindow->setFixedWidth(ui::SettingsView::windowWidth);
        m_settingsWindow->setMinimumHeight(ui::SettingsView::minimumHeight);
        m_settingsWindow->resize(ui::SettingsView::windowWidth, 460);
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

bool TallybrookApp::eventFilter(QObject *watched, QEvent *event) {
    // Closing the main window ends the desk on this platform: the settings window goes with it, and with the
    // last window the application.
    if (watched == m_mainWindow.get() && event->type() == QEvent::Close && m_settingsWindow) {
        m_settingsWindow->close();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tallybrook
