#include "ui/SettingsTabs.h"

#include "badges/BadgePrinter.h"
#include "cloud/CloudClient.h"
#include "notify/Notifier.h"
#include "notify/VisitorAlert.h"
#include "notify/Webhook.h"
#include "platform/UrlOpener.h"
#include "ui/DeskActions.h"
#include "ui/MessageBox.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSettings>
#include <QVBoxLayout>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

std::function<QUrl(const QUrl &)> &testRoute() {
    static std::function<QUrl(const QUrl &)> route;
    return route;
}

// A titled group of the tab's form.
QVBoxLayout *section(const QString &title, QVBoxLayout *tab, QWidget *parent) {
    auto *group = new QGroupBox(title, parent);
    auto *layout = new QVBoxLayout(group);
    layout->setSpacing(8);
    tab->addWidget(group);
    return layout;
}

// Small secondary text under a group.
QLabel *footnote(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    setTextStyle(label, TextStyle::Caption);
    setTextColor(label, secondaryTextColor(label->palette()));
    return label;
}

QLabel *resultLabel(const QString &objectName, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText); // server texts
    label->setWordWrap(true);
    setTextStyle(label, TextStyle::Callout);
    label->hide();
    return label;
}

QVBoxLayout *tabLayout(QWidget *tab) {
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);
    return layout;
}

QString serviceName(WebhookKind kind) {
    switch (kind) {
    case WebhookKind::Slack:
        return u"Slack"_s;
    case WebhookKind::Teams:
        return u"Microsoft Teams"_s;
    case WebhookKind::GoogleChat:
        return u"Google Chat"_s;
    case WebhookKind::Discord:
        return u"Discord"_s;
    case WebhookKind::Generic:
        break;
    }
    return u"Webhook (JSON)"_s;
}

} // namespace

// ---- Account

AccountSettings::AccountSettings(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment) {
    setObjectName(u"accountSettings"_s);
    QVBoxLayout *tab = tabLayout(this);

    m_signedIn = new QGroupBox(u"Signed in as"_s, this);
    auto *signedIn = new QFormLayout(m_signedIn);
    m_email = new QLabel(m_signedIn);
    m_email->setObjectName(u"accountEmail"_s);
    m_email->setTextFormat(Qt::PlainText);
    m_email->setTextInteractionFlags(Qt::TextSelectableByMouse);
    signedIn->addRow(u"Email"_s, m_email);
    auto *actions = new QHBoxLayout;
    auto *dashboard = new QPushButton(u"Open Web Dashboard"_s, m_signedIn);
    dashboard->setAccessibleName(u"Open Web Dashboard"_s);
    dashboard->setObjectName(u"openDashboardButton"_s);
    dashboard->setFlat(true);
    QPalette link = dashboard->palette();
    link.setColor(QPalette::ButtonText, accentColor(palette()));
    dashboard->setPalette(link);
    dashboard->setCursor(Qt::PointingHandCursor);
    connect(dashboard, &QPushButton::clicked, this,
            [this] { m_environment.urlOpener.openUrl(m_environment.cloud().websiteURL(u"dashboard"_s)); });
    actions->addWidget(dashboard);
    actions->addStretch(1);
    auto *signOut = new QPushButton(u"Sign Out"_s, m_signedIn);
    signOut->setAccessibleName(u"Sign Out"_s);
    signOut->setObjectName(u"signOutButton"_s);
    connect(signOut, &QPushButton::clicked, this, [this] {
        const int waiting = m_environment.model.pendingSignIns();
        if (waiting == 0) {
            m_environment.cloud().signOutAccount();
            return;
        }
        // They stay on this computer and are stored when this account signs in here again.
        const QString question = waiting == 1
                                     ? u"1 sign-in is not saved yet. Sign out anyway?"_s
                                     : u"%1 sign-ins are not saved yet. Sign out anyway?"_s.arg(waiting);
        MessageBox::show(
            this,
            {u"Sign Out"_s,
             question,
             {{u"Sign Out"_s, QMessageBox::DestructiveRole}, {u"Cancel"_s, QMessageBox::RejectRole}},
             1},
            [this](int button) {
                if (button == 0) {
                    m_environment.cloud().signOutAccount();
                }
            });
    });
    actions->addWidget(signOut);
    signedIn->addRow(actions);
    tab->addWidget(m_signedIn);
    m_signedOut = new QLabel(u"Sign in from the main window."_s, this);
    setTextColor(m_signedOut, secondaryTextColor(palette()));
    tab->addWidget(m_signedOut);

    QVBoxLayout *password = section(u"Password"_s, tab, this);
    auto *passwordRow = new QHBoxLayout;
    m_password = new QLineEdit(this);
    m_password->setObjectName(u"newPasswordField"_s);
    m_password->setAccessibleName(u"New password"_s);
    m_password->setPlaceholderText(u"New password"_s);
    m_password->setEchoMode(QLineEdit::Password);
    passwordRow->addWidget(m_password, 1);
    m_changePassword = new QPushButton(u"Change Password"_s, this);
    m_changePassword->setAccessibleName(u"Change Password"_s);
    m_changePassword->setObjectName(u"changePasswordButton"_s);
    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_changePassword->setEnabled(text.size() >= 8); });
    connect(m_password, &QLineEdit::returnPressed, this, &AccountSettings::changePassword);
    connect(m_changePassword, &QPushButton::clicked, this, &AccountSettings::changePassword);
    passwordRow->addWidget(m_changePassword);
    password->addLayout(passwordRow);

    QVBoxLayout *danger = section(u"Danger zone"_s, tab, this);
    auto *deleteAccount = new QPushButton(u"Delete Account\u2026"_s, this);
    deleteAccount->setAccessibleName(u"Delete Account\u2026"_s);
    deleteAccount->setObjectName(u"deleteAccountButton"_s);
    QPalette destructive = deleteAccount->palette();
    destructive.setColor(QPalette::ButtonText, errorTextColor(palette()));
    deleteAccount->setPalette(destructive);
    connect(deleteAccount, &QPushButton::clicked, this, &AccountSettings::confirmDeletion);
    danger->addWidget(deleteAccount, 0, Qt::AlignLeft);
    danger->addWidget(footnote(
        u"Removes the account and all of its online visitors, invites and setup. iPads keep their own logs."_s,
        this));

    m_messageLabel = resultLabel(u"accountMessage"_s, this);
    tab->addWidget(m_messageLabel);
    tab->addStretch(1);

    connect(&m_environment.cloud(), &CloudClient::sessionChanged, this, &AccountSettings::rebuildSession);
    rebuildSession();
    m_changePassword->setEnabled(false);
}

void AccountSettings::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_password->clear();
    rebuildSession();
}

void AccountSettings::rebuildSession() {
    const std::optional<CloudSession> &session = m_environment.cloud().session();
    m_signedIn->setVisible(session.has_value());
    m_signedOut->setVisible(!session.has_value());
    m_email->setText(session ? session->email : QString());
}

void AccountSettings::changePassword() {
    if (!m_changePassword->isEnabled()) {
        return;
    }
    m_changePassword->setEnabled(false);
    QCoro::connect(failureOf(m_environment.cloud().changePassword(m_password->text())), this,
                   [this](const std::optional<QString> &error) {
                       if (error) {
                           setMessage(error);
                           m_changePassword->setEnabled(m_password->text().size() >= 8);
                       } else {
                           m_password->clear();
                           setMessage(u"Password changed."_s);
                       }
                   });
}

void AccountSettings::confirmDeletion() {
    MessageBox::Alert alert{
        u"Delete this account and all of its online data? This can't be undone."_s,
        QString(),
        {{u"Delete Account"_s, QMessageBox::DestructiveRole}, {u"Cancel"_s, QMessageBox::RejectRole}}};
    alert.defaultButton = 1; // Return never deletes an account
    MessageBox::show(this, alert, [this](int button) {
        if (button != 0) {
            return;
        }
        QCoro::connect(failureOf(m_environment.cloud().deleteAccount()), this,
                       [this](const std::optional<QString> &error) {
                           if (error) {
                               setMessage(error);
                           }
                       });
    });
}

void AccountSettings::setMessage(const std::optional<QString> &message) {
    m_message = message;
    m_messageLabel->setText(message.value_or(QString()));
    m_messageLabel->setVisible(message.has_value());
}

// ---- Form

FormSettings::FormSettings(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment) {
    setObjectName(u"formSettings"_s);
    QVBoxLayout *tab = tabLayout(this);
    QVBoxLayout *questions = section(u"Sign-in questions"_s, tab, this);
    for (int id = 0; id < slotCount; ++id) {
        SlotControls controls;
        const QString question = u"Question %1"_s.arg(id + 1);
        auto *line = new QHBoxLayout;
        controls.isOn = new QCheckBox(this);
        controls.isOn->setObjectName(u"slotOn%1"_s.arg(id));
        controls.isOn->setAccessibleName(u"Ask "_s + question);
        controls.isOn->setEnabled(id != 0); // the visitor's name is always asked
        line->addWidget(controls.isOn);
        controls.label = new QLineEdit(this);
        controls.label->setObjectName(u"slotLabel%1"_s.arg(id));
        controls.label->setPlaceholderText(question);
        controls.label->setAccessibleName(question);
        line->addWidget(controls.label, 1);
        controls.type = new QComboBox(this);
        controls.type->setObjectName(u"slotType%1"_s.arg(id));
        controls.type->setAccessibleName(u"Type"_s);
        controls.type->setAccessibleDescription(u"The answer's type for "_s + question);
        for (const FieldType type :
             {FieldType::PlainText, FieldType::Numeric, FieldType::Email, FieldType::Phone}) {
            controls.type->addItem(fieldTypeText(type), int(type));
        }
        line->addWidget(controls.type);
        questions->addLayout(line);

        controls.options = new QWidget(this);
        auto *options = new QHBoxLayout(controls.options);
        options->setContentsMargins(28, 0, 0, 4);
        options->setSpacing(16);
        controls.required = new QCheckBox(u"Required"_s, controls.options);
        controls.required->setAccessibleName(u"Required"_s);
        controls.required->setObjectName(u"slotRequired%1"_s.arg(id));
        controls.required->setAccessibleDescription(question);
        controls.required->setEnabled(id != 0);
        setTextStyle(controls.required, TextStyle::Callout);
        options->addWidget(controls.required);
        controls.employeeList = new QCheckBox(u"Employee List"_s, controls.options);
        controls.employeeList->setAccessibleName(u"Employee List"_s);
        controls.employeeList->setObjectName(u"slotEmployeeList%1"_s.arg(id));
        controls.employeeList->setAccessibleDescription(question);
        setTextStyle(controls.employeeList, TextStyle::Callout);
        options->addWidget(controls.employeeList);
        options->addStretch(1);
        questions->addWidget(controls.options);

        for (QCheckBox *box : {controls.isOn, controls.required, controls.employeeList}) {
            connect(box, &QCheckBox::toggled, this, &FormSettings::sync);
        }
        connect(controls.label, &QLineEdit::textChanged, this, &FormSettings::sync);
        connect(controls.type, &QComboBox::currentIndexChanged, this, &FormSettings::sync);
        m_slots.append(controls);
    }

    auto *placeForm = new QFormLayout;
    m_place = new QLineEdit(this);
    m_place->setObjectName(u"placeNameField"_s);
    m_place->setAccessibleName(u"Place name"_s);
    m_place->setPlaceholderText(u"Shown in invite emails"_s);
    connect(m_place, &QLineEdit::textChanged, this, &FormSettings::sync);
    placeForm->addRow(u"Place name"_s, m_place);
    tab->addLayout(placeForm);

    auto *bottom = new QHBoxLayout;
    m_messageLabel = new QLabel(this);
    m_messageLabel->setObjectName(u"formMessage"_s);
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_messageLabel->setWordWrap(true);
    setTextStyle(m_messageLabel, TextStyle::Caption);
    bottom->addWidget(m_messageLabel, 1);
    m_save = new QPushButton(u"Save"_s, this);
    m_save->setAccessibleName(u"Save"_s);
    m_save->setObjectName(u"saveFormButton"_s);
    connect(m_save, &QPushButton::clicked, this, &FormSettings::save);
    bottom->addWidget(m_save, 0, Qt::AlignBottom);
    tab->addLayout(bottom);
    tab->addStretch(1);

    // A save, or another desk's, changes the saved form: the slots follow it.
    connect(&m_environment.model, &AppModel::settingsChanged, this, &FormSettings::load);
    load();
}

QList<FieldSlot> FormSettings::slotsOf(const KioskSettings &settings) {
    QList<FieldSlot> slots;
    for (int id = 0; id < slotCount; ++id) {
        FieldSlot slot{id};
        for (const KioskField &field : settings.fields) {
            if (field.slot == id) {
                slot = {id,
                        true,
                        field.label,
                        field.fieldType().value_or(FieldType::PlainText),
                        field.required,
                        field.employeeList};
                break;
            }
        }
        if (id == 0) {
            slot.isOn = true;
            slot.required = true;
        }
        slots.append(slot);
    }
    return slots;
}

QList<FieldSlot> FormSettings::slots() const {
    QList<FieldSlot> slots;
    for (int id = 0; id < m_slots.size(); ++id) {
        const SlotControls &controls = m_slots[id];
        slots.append({id, controls.isOn->isChecked(), controls.label->text(),
                      FieldType(controls.type->currentData().toInt()), controls.required->isChecked(),
                      controls.employeeList->isChecked()});
    }
    return slots;
}

void FormSettings::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    load();
}

void FormSettings::load() {
    const KioskSettings &settings = m_environment.model.settings();
    {
        // One sync at the end, not one per control set.
        const QScopedValueRollback loading(m_isLoading, true);
        const QList<FieldSlot> saved = slotsOf(settings);
        for (int id = 0; id < m_slots.size(); ++id) {
            const SlotControls &controls = m_slots[id];
            const FieldSlot &slot = saved[id];
            controls.isOn->setChecked(slot.isOn);
            controls.label->setText(slot.label);
            controls.type->setCurrentIndex(controls.type->findData(int(slot.type)));
            controls.required->setChecked(slot.required);
            controls.employeeList->setChecked(slot.employeeList);
        }
        m_place->setText(settings.placeName.value_or(QString()));
        m_message.reset();
    }
    sync();
}

bool FormSettings::canSave() const {
    const KioskSettings &settings = m_environment.model.settings();
    return !m_isSaving &&
           (slots() != slotsOf(settings) || m_place->text() != settings.placeName.value_or(QString()));
}

void FormSettings::sync() {
    if (m_isLoading) {
        return;
    }
    for (const SlotControls &controls : std::as_const(m_slots)) {
        controls.options->setVisible(controls.isOn->isChecked());
    }
    m_messageLabel->setText(m_message.value_or(u"Saved to your account. iPads update on their next sync."_s));
    setTextColor(m_messageLabel, m_message ? errorTextColor(palette()) : secondaryTextColor(palette()));
    m_save->setEnabled(canSave());
}

void FormSettings::save() {
    if (!canSave()) {
        return;
    }
    QList<KioskField> fields;
    for (const FieldSlot &slot : slots()) {
        if (slot.isOn) {
            fields.append({slot.id, slot.label, fieldTypeText(slot.type), slot.required, slot.employeeList});
        }
    }
    const QString place = m_place->text();
    m_isSaving = true;
    sync();
    QCoro::connect(
        failureOf(m_environment.model.saveForm(fields, m_environment.model.settings().employees,
                                               place.isEmpty() ? std::nullopt : std::optional(place))),
        this, [this](const std::optional<QString> &error) {
            m_isSaving = false;
            m_message = error;
            sync();
        });
}

// ---- Badges

BadgeSettings::BadgeSettings(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment) {
    setObjectName(u"badgeSettings"_s);
    QVBoxLayout *tab = tabLayout(this);
    auto *group = new QGroupBox(this);
    auto *form = new QFormLayout(group);
    m_printer = new QComboBox(group);
    m_printer->setObjectName(u"printerPicker"_s);
    m_printer->setAccessibleName(u"Printer"_s);
    form->addRow(u"Printer"_s, m_printer);
    m_stock = new QComboBox(group);
    m_stock->setObjectName(u"labelPicker"_s);
    m_stock->setAccessibleName(u"Label"_s);
    for (const LabelStock stock : allLabelStocks) {
        m_stock->addItem(labelStockPickerText(stock), int(stock));
    }
    form->addRow(u"Label"_s, m_stock);
    m_autoPrint = new QCheckBox(u"Print a badge at each sign-in"_s, group);
    m_autoPrint->setAccessibleName(u"Print a badge at each sign-in"_s);
    m_autoPrint->setObjectName(u"autoPrintToggle"_s);
    form->addRow(m_autoPrint);
    m_showDialog = new QCheckBox(u"Show the print dialog each time"_s, group);
    m_showDialog->setAccessibleName(u"Show the print dialog each time"_s);
    m_showDialog->setObjectName(u"showDialogToggle"_s);
    form->addRow(m_showDialog);
    tab->addWidget(group);
    tab->addWidget(footnote(
        u"Brother label printers need their CUPS driver installed, then appear here like any other printer."_s,
        this));

    QVBoxLayout *preview = section(u"Preview"_s, tab, this);
    m_preview = new QLabel(this);
    m_preview->setObjectName(u"badgePreview"_s);
    m_preview->setAccessibleName(u"Badge preview"_s);
    m_preview->setAlignment(Qt::AlignCenter);
    preview->addWidget(m_preview);
    auto *testRow = new QHBoxLayout;
    auto *test = new QPushButton(u"Print Test Badge"_s, this);
    test->setAccessibleName(u"Print Test Badge"_s);
    test->setObjectName(u"printTestBadgeButton"_s);
    connect(test, &QPushButton::clicked, this, &BadgeSettings::printTestBadge);
    testRow->addWidget(test);
    m_testLabel = resultLabel(u"testPrintResult"_s, this);
    setTextColor(m_testLabel, errorTextColor(palette()));
    testRow->addWidget(m_testLabel, 1);
    testRow->addStretch();
    preview->addLayout(testRow);
    tab->addStretch(1);

    BadgePrinter &printer = m_environment.printer();
    connect(m_printer, &QComboBox::activated, this, [this](int index) {
        m_environment.printer().setPrinterName(m_printer->itemData(index).toString());
    });
    connect(m_stock, &QComboBox::activated, this, [this](int index) {
        m_environment.printer().setStock(LabelStock(m_stock->itemData(index).toInt()));
        updatePreview();
    });
    connect(m_autoPrint, &QCheckBox::toggled, &printer, &BadgePrinter::setAutoPrint);
    connect(m_showDialog, &QCheckBox::toggled, &printer, &BadgePrinter::setShowDialog);
    load();
}

void BadgeSettings::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    load(); // printers come and go
}

void BadgeSettings::load() {
    const BadgePrinter &printer = m_environment.printer();
    m_printer->clear();
    m_printer->addItem(u"System Default"_s, QString());
    QStringList names = printer.installedPrinterNames();
    // A chosen printer that is away is still the choice: badges print there again when it returns.
    if (!printer.printerName().isEmpty() && !names.contains(printer.printerName())) {
        names.append(printer.printerName());
    }
    for (const QString &name : std::as_const(names)) {
        m_printer->addItem(name, name);
    }
    m_printer->setCurrentIndex(std::max(0, m_printer->findData(printer.printerName())));
    m_stock->setCurrentIndex(m_stock->findData(int(printer.stock())));
    const QSignalBlocker quietAuto(m_autoPrint);
    const QSignalBlocker quietDialog(m_showDialog);
    m_autoPrint->setChecked(printer.autoPrint());
    m_showDialog->setChecked(printer.showDialog());
    updatePreview();
}

void BadgeSettings::updatePreview() {
    const Badge badge = m_environment.printer().badgeFor(u"Robin Sample"_s, QDateTime::currentDateTime());
    const qreal ratio = devicePixelRatioF();
    QImage image = badgeImage(badge, 0.25 * ratio);
    const int maxHeight = qRound(120 * ratio);
    if (image.height() > maxHeight) {
        image = image.scaledToHeight(maxHeight, Qt::SmoothTransformation);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    m_preview->setPixmap(pixmap);
}

void BadgeSettings::printTestBadge() {
    const BadgePrintOutcome result =
        m_environment.printer().print(u"Robin Sample"_s, QDateTime::currentDateTime());
    const QString text = badgePrintMessage(result);
    m_testResult = text.isEmpty() ? std::nullopt : std::optional(text);
    m_testLabel->setText(text);
    m_testLabel->setVisible(!text.isEmpty());
}

// ---- Alerts

AlertSettings::AlertSettings(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment) {
    setObjectName(u"alertSettings"_s);
    QVBoxLayout *tab = tabLayout(this);
    auto *group = new QGroupBox(this);
    auto *form = new QFormLayout(group);
    m_office = new QLineEdit(group);
    m_office->setObjectName(u"officeWebhookField"_s);
    m_office->setAccessibleName(u"Office webhook"_s);
    m_office->setPlaceholderText(u"https://hooks.slack.com/services/\u2026"_s);
    form->addRow(u"Office webhook"_s, m_office);
    m_service = new QLabel(group);
    m_service->setObjectName(u"webhookService"_s);
    form->addRow(u"Service"_s, m_service);
    m_officeProblem = new QLabel(u"Webhook addresses start with https://"_s, group);
    m_officeProblem->setObjectName(u"officeWebhookProblem"_s);
    setTextStyle(m_officeProblem, TextStyle::Caption);
    setTextColor(m_officeProblem, errorTextColor(palette()));
    form->addRow(QString(), m_officeProblem);
    m_signIn = new QCheckBox(u"Alert when a visitor signs in"_s, group);
    m_signIn->setAccessibleName(u"Alert when a visitor signs in"_s);
    m_signIn->setObjectName(u"notifySignInToggle"_s);
    form->addRow(m_signIn);
    m_signOut = new QCheckBox(u"Alert when a visitor signs out"_s, group);
    m_signOut->setAccessibleName(u"Alert when a visitor signs out"_s);
    m_signOut->setObjectName(u"notifySignOutToggle"_s);
    form->addRow(m_signOut);
    tab->addWidget(group);
    tab->addWidget(
        footnote(u"Saved to your account and shared with your iPads. Anyone who has a webhook address "
                 u"can post to that channel, so treat it like a password."_s,
                 this));

    m_messageLabel = resultLabel(u"alertsMessage"_s, this);
    tab->addWidget(m_messageLabel);
    auto *buttons = new QHBoxLayout;
    m_save = new QPushButton(u"Save"_s, this);
    m_save->setAccessibleName(u"Save"_s);
    m_save->setObjectName(u"saveAlertsButton"_s);
    connect(m_save, &QPushButton::clicked, this, &AlertSettings::save);
    buttons->addWidget(m_save);
    m_test = new QPushButton(u"Send Test Message"_s, this);
    m_test->setAccessibleName(u"Send Test Message"_s);
    m_test->setObjectName(u"sendTestMessageButton"_s);
    connect(m_test, &QPushButton::clicked, this, &AlertSettings::sendTestMessage);
    buttons->addWidget(m_test);
    auto *guide = new QPushButton(u"Setup Guide"_s, this);
    guide->setAccessibleName(u"Setup Guide"_s);
    guide->setObjectName(u"setupGuideButton"_s);
    connect(guide, &QPushButton::clicked, this, [this] {
        m_environment.urlOpener.openUrl(m_environment.cloud().websiteURL(u"guides/host-notifications"_s));
    });
    buttons->addWidget(guide);
    buttons->addStretch(1);
    tab->addLayout(buttons);

    // Not account data: no Save, each computer chooses for itself.
    QVBoxLayout *local = section(u"Visitors signed in elsewhere"_s, tab, this);
    m_arrivalNotices = new QCheckBox(u"Show a notice on this computer"_s, this);
    m_arrivalNotices->setAccessibleName(u"Show a notice on this computer"_s);
    m_arrivalNotices->setAccessibleDescription(u"When a visitor signs in on an iPad or at another desk"_s);
    m_arrivalNotices->setObjectName(u"arrivalNoticesToggle"_s);
    local->addWidget(m_arrivalNotices);
    local->addWidget(footnote(u"When a visitor signs in on an iPad or at another desk."_s, this));
    connect(m_arrivalNotices, &QCheckBox::toggled, this, [this](bool checked) {
        m_environment.defaults.setValue(AppModel::showArrivalNoticesKey, checked);
    });
    tab->addStretch(1);

    connect(m_office, &QLineEdit::textChanged, this, &AlertSettings::sync);
    connect(m_signIn, &QCheckBox::toggled, this, &AlertSettings::sync);
    connect(m_signOut, &QCheckBox::toggled, this, &AlertSettings::sync);
    connect(&m_environment.model, &AppModel::notificationsChanged, this, &AlertSettings::load);
    load();
}

void AlertSettings::setTestRoute(std::function<QUrl(const QUrl &)> route) {
    testRoute() = std::move(route);
}

void AlertSettings::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    load();
}

void AlertSettings::load() {
    m_loaded = m_environment.model.notifications();
    const QSignalBlocker quietOffice(m_office);
    const QSignalBlocker quietIn(m_signIn);
    const QSignalBlocker quietOut(m_signOut);
    m_office->setText(m_loaded.officeWebhook);
    m_signIn->setChecked(m_loaded.notifySignIn);
    m_signOut->setChecked(m_loaded.notifySignOut);
    const QSignalBlocker quietNotices(m_arrivalNotices);
    m_arrivalNotices->setChecked(
        m_environment.defaults.value(AppModel::showArrivalNoticesKey, true).toBool());
    sync();
}

NotificationSettings AlertSettings::draft() const {
    NotificationSettings draft = m_loaded; // the personal webhooks are edited on the Employees screen
    draft.officeWebhook = m_office->text();
    draft.notifySignIn = m_signIn->isChecked();
    draft.notifySignOut = m_signOut->isChecked();
    return draft;
}

bool AlertSettings::canSave() const {
    const QString office = m_office->text().trimmed();
    return !m_isSaving && draft() != m_environment.model.notifications() &&
           (office.isEmpty() || validatedWebhookURL(office).has_value());
}

bool AlertSettings::canTest() const {
    return !m_isTesting && validatedWebhookURL(m_office->text()).has_value();
}

void AlertSettings::sync() {
    const std::optional<QUrl> office = validatedWebhookURL(m_office->text());
    m_service->setText(office ? serviceName(Notifier::kind(*office)) : QString());
    if (auto *form = qobject_cast<QFormLayout *>(m_service->parentWidget()->layout())) {
        form->setRowVisible(m_service, office.has_value());
        form->setRowVisible(m_officeProblem, !office && !m_office->text().trimmed().isEmpty());
    }
    m_save->setEnabled(canSave());
    m_test->setEnabled(canTest());
}

void AlertSettings::save() {
    if (!canSave()) {
        return;
    }
    NotificationSettings alerts = draft();
    alerts.officeWebhook = alerts.officeWebhook.trimmed();
    m_isSaving = true;
    sync();
    QCoro::connect(failureOf(m_environment.model.saveNotifications(alerts)), this,
                   [this](const std::optional<QString> &error) {
                       m_isSaving = false;
                       setMessage(error.value_or(u"Saved."_s));
                       sync();
                   });
}

void AlertSettings::sendTestMessage() {
    const std::optional<QUrl> office = validatedWebhookURL(m_office->text());
    if (!canTest() || !office) {
        return;
    }
    m_isTesting = true;
    sync();
    const QUrl address = testRoute() ? testRoute()(*office) : *office;
    QCoro::connect(
        m_environment.model.notifier().post(VisitorAlert::testMessage(QDateTime::currentDateTime()), address),
        this, [this](const std::optional<NotifyError> &error) {
            m_isTesting = false;
            setMessage(error ? error->message() : u"Test message sent."_s);
            sync();
        });
}

void AlertSettings::setMessage(const std::optional<QString> &message) {
    m_message = message;
    m_messageLabel->setText(message.value_or(QString()));
    m_messageLabel->setVisible(message.has_value());
}

} // namespace tallybrook::ui
