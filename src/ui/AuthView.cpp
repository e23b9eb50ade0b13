#include "ui/AuthView.h"

#include "cloud/CloudClient.h"
#include "records/DeskError.h"
#include "records/EmailAddress.h"
#include "ui/BusyIndicator.h"
#include "ui/Icons.h"
#include "ui/SegmentedControl.h"
#include "ui/Style.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

struct AuthOutcome {
    std::optional<QString> message;
    bool isError = false;
};

QString failureText(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DeskError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return u"Something went wrong."_s;
    }
}

// Characters as a person counts them: "é" typed as e + accent is one, an emoji is one.
qsizetype characterCount(const QString &text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
}

// These run on their own; the screen hears of the outcome only while it still exists.
QCoro::Task<AuthOutcome> requestAccount(CloudClient &cloud, AuthView::Mode mode, QString email,
                                        QString password, QString name) {
    AuthOutcome outcome;
    try {
        if (mode == AuthView::Mode::SignIn) {
            co_await cloud.signInAccount(email, password);
        } else {
            const std::optional<CloudSession> session = co_await cloud.signUp(email, password, name);
            if (!session) {
                outcome.message = u"Check your inbox for a link to confirm your email, then sign in."_s;
            }
        }
    } catch (...) {
        outcome.message = failureText(std::current_exception());
        outcome.isError = true;
    }
    co_return outcome;
}

QCoro::Task<AuthOutcome> requestPasswordReset(CloudClient &cloud, QString email) {
    AuthOutcome outcome;
    try {
        co_await cloud.sendPasswordReset(email);
        outcome.message = u"If that email has an account, a reset link is on its way."_s;
    } catch (...) {
        outcome.message = failureText(std::current_exception());
        outcome.isError = true;
    }
    co_return outcome;
}

QLabel *centredLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString AuthView::title(Mode mode) {
    return mode == Mode::SignIn ? u"Sign In"_s : u"Create Account"_s;
}

bool AuthView::isValidEmail(const QString &email) {
    return isEmailAddress(CloudClient::trimmingBlanks(email));
}

bool AuthView::canSubmit(Mode mode, const QString &email, const QString &password, bool isWorking) {
    if (isWorking || !isValidEmail(email)) {
        return false;
    }
    return mode == Mode::Create ? characterCount(password) >= minimumNewPasswordLength : !password.isEmpty();
}

AuthView::AuthView(CloudClient &cloud, QWidget *parent) : QWidget(parent), m_cloud(cloud) {
    setObjectName(u"authView"_s);

    auto *column = new QWidget(this);
    column->setObjectName(u"authColumn"_s);
    column->setFixedWidth(420);
    auto *blocks = new QVBoxLayout(column);
    blocks->setContentsMargins(0, 0, 0, 0);
    blocks->setSpacing(20);

    auto *icon = new QLabel(column);
    icon->setObjectName(u"authIcon"_s);
    icon->setFixedSize(72, 72);
    icon->setPixmap(applicationIconPixmap(72, devicePixelRatioF()));
    icon->setAccessibleName(u"Tallybrook"_s);
    blocks->addWidget(icon, 0, Qt::AlignHCenter);

    auto *productName = centredLabel(u"Tallybrook"_s, column);
    productName->setObjectName(u"productName"_s);
    setTextStyle(productName, TextStyle::LargeTitle, QFont::DemiBold);
    auto *tagline = centredLabel(u"Sign in visitors, print badges and see who's here."_s, column);
    tagline->setObjectName(u"tagline"_s);
    setTextColor(tagline, secondaryTextColor(palette()));
    // The name and its line read as one heading.
    auto *heading = new QVBoxLayout;
    heading->setSpacing(6);
    heading->addWidget(productName);
    heading->addWidget(tagline);
    blocks->addLayout(heading);

    m_modePicker = new SegmentedControl({title(Mode::SignIn), title(Mode::Create)}, column);
    m_modePicker->setObjectName(u"authMode"_s);
    m_modePicker->segment(0)->setObjectName(u"signInMode"_s);
    m_modePicker->segment(1)->setObjectName(u"createAccountMode"_s);
    connect(m_modePicker, &SegmentedControl::currentIndexChanged, this,
            [this](int index) { setMode(index == 0 ? Mode::SignIn : Mode::Create); });
    blocks->addWidget(m_modePicker);

    auto *formBlock = new QVBoxLayout;
    formBlock->setSpacing(6);
    m_form = new QFormLayout;
    m_form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_form->setHorizontalSpacing(10);
    m_form->setVerticalSpacing(10);
    m_name = new QLineEdit(column);
    m_name->setObjectName(u"nameField"_s);
    m_name->setAccessibleName(u"Name"_s);
    m_email = new QLineEdit(column);
    m_email->setObjectName(u"emailField"_s);
    m_email->setAccessibleName(u"Email"_s);
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase |
                                 Qt::ImhNoPredictiveText);
    m_password = new QLineEdit(column);
    m_password->setObjectName(u"passwordField"_s);
    m_password->setAccessibleName(u"Password"_s);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhHiddenText |
                                    Qt::ImhNoAutoUppercase);
    m_form->addRow(u"Name"_s, m_name);
    m_form->addRow(u"Email"_s, m_email);
    m_form->addRow(u"Password"_s, m_password);
    m_passwordHint = new QLabel(u"At least 8 characters."_s, column);
    m_passwordHint->setObjectName(u"passwordHint"_s);
    setTextStyle(m_passwordHint, TextStyle::Caption);
    setTextColor(m_passwordHint, secondaryTextColor(palette()));
    m_form->addRow(QString(), m_passwordHint);
    formBlock->addLayout(m_form);
    blocks->addLayout(formBlock);

    m_messageLabel = new QLabel(column);
    m_messageLabel->setObjectName(u"authMessage"_s);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextStyle(m_messageLabel, TextStyle::Callout);
    blocks->addWidget(m_messageLabel);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(10);
    m_forgotButton = new QPushButton(u"Forgot Password?"_s, column);
    m_forgotButton->setObjectName(u"forgotPasswordButton"_s);
    m_forgotButton->setAccessibleName(u"Forgot Password?"_s);
    m_forgotButton->setFlat(true);
    m_forgotButton->setCursor(Qt::PointingHandCursor);
    m_forgotButton->setStyleSheet(
        u"QPushButton { border: none; padding: 0; color: %1; }"
        u"QPushButton:hover { text-decoration: underline; }"_s.arg(palette().color(QPalette::Link).name()));
    connect(m_forgotButton, &QPushButton::clicked, this, &AuthView::sendPasswordReset);
    actions->addWidget(m_forgotButton);
    actions->addStretch(1);
    m_busy = new BusyIndicator(column);
    m_busy->setObjectName(u"authProgress"_s);
    actions->addWidget(m_busy);
    m_primaryButton = new QPushButton(column);
    m_primaryButton->setObjectName(u"authPrimaryButton"_s);
    m_primaryButton->setDefault(true);
    m_primaryButton->setMinimumWidth(120);
    connect(m_primaryButton, &QPushButton::clicked, this, &AuthView::submit);
    actions->addWidget(m_primaryButton);
    blocks->addLayout(actions);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->addStretch(1);
    outer->addWidget(column, 0, Qt::AlignHCenter);
    outer->addStretch(1);

    for (QLineEdit *field : {m_name, m_email, m_password}) {
        connect(field, &QLineEdit::textChanged, this, &AuthView::syncForm);
    }
    setFocusProxy(m_email);
    syncForm();
    syncMessage();
}

void AuthView::setMode(Mode mode) {
    if (m_mode == mode) {
        return;
    }
    m_mode = mode;
    m_modePicker->setCurrentIndex(mode == Mode::SignIn ? 0 : 1);
    setMessage(std::nullopt, false);
    syncForm();
}

bool AuthView::canSubmit() const {
    return canSubmit(m_mode, m_email->text(), m_password->text(), m_isWorking);
}

void AuthView::syncForm() {
    const bool creating = m_mode == Mode::Create;
    m_form->setRowVisible(m_name, creating);
    m_form->setRowVisible(m_passwordHint, creating);
    m_forgotButton->setVisible(!creating);
    // One request at a time: a reset beside a sign-in would re-enable the form when the first one answers.
    m_forgotButton->setEnabled(!m_isWorking);
    m_busy->setVisible(m_isWorking);
    m_primaryButton->setText(title(m_mode));
    m_primaryButton->setAccessibleName(title(m_mode));
    m_primaryButton->setEnabled(canSubmit());
}

void AuthView::syncMessage() {
    m_messageLabel->setVisible(m_message.has_value());
    m_messageLabel->setText(m_message.value_or(QString()));
    m_messageLabel->setAccessibleName(m_message.value_or(QString()));
    setTextColor(m_messageLabel, m_isError ? errorTextColor(palette()) : secondaryTextColor(palette()));
}

void AuthView::setWorking(bool working) {
    m_isWorking = working;
    syncForm();
}

void AuthView::setMessage(const std::optional<QString> &message, bool isError) {
    m_message = message;
    m_isError = message.has_value() && isError;
    syncMessage();
}

void AuthView::submit() {
    if (!canSubmit()) {
        return;
    }
    setWorking(true);
    setMessage(std::nullopt, false);
    QCoro::connect(requestAccount(m_cloud, m_mode, m_email->text(), m_password->text(), m_name->text()), this,
                   [this](const AuthOutcome &outcome) { finish(outcome.message, outcome.isError); });
}

void AuthView::sendPasswordReset() {
    if (m_isWorking) {
        return;
    }
    if (!isValidEmail(m_email->text())) {
        setMessage(u"Enter your email above first."_s, true);
        return;
    }
    setWorking(true);
    setMessage(std::nullopt, false);
    QCoro::connect(requestPasswordReset(m_cloud, m_email->text()), this,
                   [this](const AuthOutcome &outcome) { finish(outcome.message, outcome.isError); });
}

void AuthView::finish(const std::optional<QString> &message, bool isError) {
    setMessage(message, isError);
    setWorking(false);
}

void AuthView::keyPressEvent(QKeyEvent *event) {
    // Return in any field (or on any control that leaves it alone) is the primary button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        submit();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tallybrook::ui
