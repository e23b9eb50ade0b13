#pragma once

#include "ui/Environment.h"

#include <QDialog>
#include <QLatin1StringView>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class QVBoxLayout;

namespace tallybrook::ui {

class AuthView;
class DeskView;
class OnboardingView;

// What the main window shows: the first-run tour, the account screen while nobody is signed in, or the desk.
// It also ties the model to the signed-in user: whenever it appears and whenever the user changes, the model
// is reset and, with somebody signed in, started again, so one account's data never shows under another.
class ContentView final : public QWidget {
    Q_OBJECT

public:
    enum class Screen { Onboarding, Account, Desk };

    explicit ContentView(Environment environment, QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ContentView)

    [[nodiscard]] Screen screen() const { return m_screen; }
    [[nodiscard]] QWidget *currentScreen() const { return m_current; }
    [[nodiscard]] AuthView *authView() const;
    [[nodiscard]] DeskView *deskView() const;
    [[nodiscard]] OnboardingView *onboardingView() const;
    [[nodiscard]] QDialog *onboardingSheet() const { return m_onboardingSheet; }

    [[nodiscard]] bool hasSeenOnboarding() const;
    void setHasSeenOnboarding(bool seen);
    static constexpr QLatin1StringView hasSeenOnboardingKey{"hasSeenOnboarding"};

    // How many times the session task has run (reset, then start when signed in).
    [[nodiscard]] int sessionTaskRuns() const { return m_sessionTaskRuns; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    [[nodiscard]] Screen wantedScreen() const;
    [[nodiscard]] std::optional<QUuid> sessionKey() const;
    void chooseScreen();
    void sessionChanged();
    void runSessionTask();
    void syncOnboardingSheet();

    Environment m_environment;
    QVBoxLayout *m_layout;
    Screen m_screen = Screen::Account;
    QPointer<QWidget> m_current;
    QPointer<QDialog> m_onboardingSheet;
    std::optional<std::optional<QUuid>> m_taskKey; // the key of the last run; none before the first
    int m_sessionTaskRuns = 0;
};

} // namespace tallybrook::ui
