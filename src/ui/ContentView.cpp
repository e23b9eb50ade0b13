#include "ui/ContentView.h"

#include "cloud/CloudClient.h"
#include "ui/AuthView.h"
#include "ui/DeskView.h"
#include "ui/OnboardingView.h"

#include <QDialog>
#include <QSettings>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

ContentView::ContentView(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment), m_layout(new QVBoxLayout(this)) {
    setObjectName(u"contentView"_s);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    connect(&m_environment.cloud(), &CloudClient::sessionChanged, this, &ContentView::sessionChanged);
    connect(&m_environment.model, &AppModel::isShowingOnboardingChanged, this,
            &ContentView::syncOnboardingSheet);
    chooseScreen();
}

AuthView *ContentView::authView() const {
    return qobject_cast<AuthView *>(m_current.data());
}

DeskView *ContentView::deskView() const {
    return qobject_cast<DeskView *>(m_current.data());
}

OnboardingView *ContentView::onboardingView() const {
    return qobject_cast<OnboardingView *>(m_current.data());
}

bool ContentView::hasSeenOnboarding() const {
    return m_environment.defaults.value(hasSeenOnboardingKey, false).toBool();
}

void ContentView::setHasSeenOnboarding(bool seen) {
    if (seen != hasSeenOnboarding()) {
        m_environment.defaults.setValue(hasSeenOnboardingKey, seen);
    }
    chooseScreen();
}

ContentView::Screen ContentView::wantedScreen() const {
    if (m_environment.cloud().isSignedIn()) {
        return Screen::Desk;
    }
    return hasSeenOnboarding() ? Screen::Account : Screen::Onboarding;
}

std::optional<QUuid> ContentView::sessionKey() const {
    const auto &session = m_environment.cloud().session();
    return session ? std::optional<QUuid>(session->userID) : std::nullopt;
}

void ContentView::chooseScreen() {
    const Screen wanted = wantedScreen();
    if (m_current && wanted == m_screen) {
        return;
    }
    QWidget *next = nullptr;
    switch (wanted) {
    case Screen::Onboarding: {
        auto *tour = new OnboardingView(m_environment, this);
        connect(tour, &OnboardingView::finished, this, [this] { setHasSeenOnboarding(true); });
        next = tour;
        break;
    }
    case Screen::Account:
        next = new AuthView(m_environment.cloud(), this);
        break;
    case Screen::Desk:
        next = new DeskView(m_environment, this);
        break;
    }
    if (m_current) {
        // The old screen may be the sender of what brought us here: it goes once control returns to the loop.
        m_current->hide();
        m_layout->removeWidget(m_current);
        m_current->deleteLater();
    }
    m_screen = wanted;
    m_current = next;
    m_layout->addWidget(next, 1);
    next->show();
    if (isVisible()) {
        next->setFocus();
    }
}

void ContentView::sessionChanged() {
    chooseScreen();
    if (isVisible() && m_taskKey && *m_taskKey != sessionKey()) {
        runSessionTask();
    }
}

void ContentView::runSessionTask() {
    m_taskKey = sessionKey();
    ++m_sessionTaskRuns;
    AppModel &model = m_environment.model;
    model.reset();
    if (m_environment.cloud().isSignedIn()) {
        model.start();
    }
}

void ContentView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    // Appearing (at launch, or when the update gate gives the window back) ties the model to the session
    // afresh; a window coming back from being minimised is not appearing.
    if (!event->spontaneous()) {
        runSessionTask();
        if (m_current) {
            m_current->setFocus();
        }
        syncOnboardingSheet();
    }
}

void ContentView::syncOnboardingSheet() {
    AppModel &model = m_environment.model;
    if (model.isShowingOnboarding() && !m_onboardingSheet && isVisible()) {
        auto *sheet = new QDialog(this);
        sheet->setObjectName(u"onboardingSheet"_s);
        sheet->setWindowFlag(Qt::Sheet);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowTitle(u"Welcome to Tallybrook"_s);
        auto *layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *tour = new OnboardingView(m_environment, sheet);
        layout->addWidget(tour);
        sheet->resize(640, 520);
        connect(tour, &OnboardingView::finished, this, [this] {
            setHasSeenOnboarding(true);
            m_environment.model.setShowingOnboarding(false);
        });
        connect(sheet, &QDialog::finished, this, [this, sheet] {
            if (m_onboardingSheet == sheet) {
                m_onboardingSheet = nullptr;
                m_environment.model.setShowingOnboarding(false);
            }
        });
        m_onboardingSheet = sheet;
        sheet->open();
    } else if (!model.isShowingOnboarding() && m_onboardingSheet) {
        QDialog *sheet = m_onboardingSheet;
        m_onboardingSheet = nullptr;
        sheet->reject();
    }
}

} // namespace tallybrook::ui
