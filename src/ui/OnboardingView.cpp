#include "ui/OnboardingView.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

OnboardingView::OnboardingView(QWidget *parent) : QWidget(parent) {
    setObjectName(u"onboardingView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 20, 48, 20);
    layout->setSpacing(18);
    layout->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setPixmap(applicationIconPixmap(96, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto *title = new QLabel(u"Welcome to Tallybrook for Linux"_s, this);
    title->setObjectName(u"onboardingTitle"_s);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    setTextStyle(title, TextStyle::LargeTitle, QFont::Bold);
    layout->addWidget(title);
    layout->addStretch(1);

    auto *start = new QPushButton(u"Get Started"_s, this);
    start->setObjectName(u"onboardingFinishButton"_s);
    start->setAccessibleName(u"Get Started"_s);
    start->setDefault(true);
    start->setMinimumWidth(140);
    connect(start, &QPushButton::clicked, this, &OnboardingView::finished);
    layout->addWidget(start, 0, Qt::AlignRight);
    setFocusProxy(start);
}

} // namespace tallybrook::ui
