#include "DeskTestSupport.h"
#include "notify/VisitorAlert.h"
#include "ui/EmployeesView.h"
#include "ui/EmptyState.h"
#include "ui/SettingsTabs.h"
#include "ui/SignInSheet.h"

#include <QCheckBox>
#include <QComboBox>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

namespace {

const QUuid user(u"8b1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QString annHook = u"https://hooks.slack.com/services/T0/B0/ann"_s;

QJsonObject field(int slot, const QString &label, bool employeeList = false) {
    return {{u"slot"_s, slot},
            {u"label"_s, label},
            {u"type"_s, u"Plain Text"_s},
            {u"required"_s, false},
            {u"employee_list"_s, employeeList}};
}

// The account's saved setup as the REST service keeps it; each save replaces a row and is recorded.
struct Setup {
    QJsonObject kiosk{{u"fields"_s, QJsonArray{field(0, u"Name"_s)}},
                      {u"employees"_s, QJsonArray{u"Ann"_s, u"Bo"_s}},
                      {u"place_name"_s, QJsonValue::Null}};
    QJsonObject alerts{{u"office_webhook"_s, u""_s},
                       {u"notify_sign_in"_s, true},
                       {u"notify_sign_out"_s, false},
                       {u"employee_webhooks"_s, QJsonObject{{u"Ann"_s, annHook}}}};

    ScriptedAnswer answer(const RecordedRequest &request) {
        QJsonObject *row = request.path.endsWith("/kiosk_settings")          ? &kiosk
                           : request.path.endsWith("/notification_settings") ? &alerts
                                                                             : nullptr;
        if (!row) {
            return ScriptedAnswer::json(200, "[]", {{"Content-Range", "*/0"}});
        }
        if (request.method == "POST") {
            *row = QJsonDocument::fromJson(request.body).object();
            return ScriptedAnswer::json(201, "");
        }
        return ScriptedAnswer::json(200, QJsonDocument(QJsonArray{*row}).toJson());
    }
};

} // namespace

// The Employees screen and the settings tabs against a scripted account; and against the real server, a
// personal webhook added at the desk getting its host's alert, and a question added in Settings appearing in
// the sign-in sheet.
class TestSetupScreens : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    Setup m_setup;

    void startDesk() {
        m_f = std::make_unique<DeskFixture>();
        m_f->startAgainst(user, [this](const RecordedRequest &request) { return m_setup.answer(request); });
        QVERIFY(awaitTask(m_f->model->loadSetup()).succeeded());
    }
    // A screen of a started desk, shown.
    template<class Screen, class... Args>
    std::unique_ptr<Screen> shown(Args &&...args) {
        startDesk();
        auto screen = std::make_unique<Screen>(m_f->environment(), std::forward<Args>(args)...);
        screen->show();
        return screen;
    }
    template<class Widget>
    static Widget *child(QWidget *parent, const QString &name) {
        return parent->findChild<Widget *>(name);
    }

private Q_SLOTS:
    void cleanup() {
        m_f.reset();
        m_setup = {};
        AlertSettings::setTestRoute({});
    }

    // ---- Employees

    void theHintAndTheEmptyState_data() {
        QTest::addColumn<QJsonArray>("employees");
        QTest::addColumn<bool>("listQuestion");
        QTest::addColumn<bool>("hint");
        QTest::newRow("none: the empty state alone") << QJsonArray{} << false << false;
        QTest::newRow("employees, no question lists them") << QJsonArray{u"Ann"_s} << false << true;
        QTest::newRow("a question lists them") << QJsonArray{u"Ann"_s} << true << false;
    }
    void theHintAndTheEmptyState() {
        QFETCH(QJsonArray, employees);
        QFETCH(bool, listQuestion);
        QFETCH(bool, hint);
        m_setup.kiosk[u"employees"_s] = employees;
        m_setup.kiosk[u"fields"_s] = QJsonArray{field(0, u"Name"_s), field(1, u"Host"_s, listQuestion)};
        const auto view = shown<EmployeesView>();
        QCOMPARE(child<QWidget>(view.get(), u"employeeListHint"_s)->isVisible(), hint);
        QCOMPARE(view->findChild<EmptyState *>()->isVisible(), employees.isEmpty());
        if (hint) { // turning Employee List on for a question takes the hint away
            QVERIFY(awaitTask(m_f->model->saveForm({{0, u"Name"_s, u"Plain Text"_s, true, false},
                                                    {1, u"Host"_s, u"Plain Text"_s, false, true}},
                                                   {u"Ann"_s}, std::nullopt))
                        .succeeded());
            QVERIFY(!child<QWidget>(view.get(), u"employeeListHint"_s)->isVisible());
        }
    }

    void theSheetAcceptsANameAndAnHttpsAddress() {
        const auto sheet = shown<EmployeeSheet>(std::nullopt);
        auto *name = child<QLineEdit>(sheet.get(), u"employeeNameField"_s);
        auto *webhook = child<QLineEdit>(sheet.get(), u"employeeWebhookField"_s);
        auto *save = child<QPushButton>(sheet.get(), u"saveButton"_s);
        auto *problem = child<QLabel>(sheet.get(), u"webhookProblem"_s);
        name->setText(u"   "_s);
        QVERIFY(!save->isEnabled());
        name->setText(u"Cy"_s);
        webhook->setText(u"http://hooks.slack.com/services/T0/B0/cy"_s);
        QVERIFY(!save->isEnabled() && problem->isVisible());
        webhook->clear();
        QVERIFY(save->isEnabled() && !problem->isVisible());
    }

    // Editing Ann shows her webhook; a rename carries it along; cleared, it is gone.
    void editingKeepsOrClearsTheWebhook() {
        const auto view = shown<EmployeesView>();
        view->select(u"Ann"_s);
        QVERIFY(child<QToolButton>(view->toolbarItems(), u"editEmployeeButton"_s)->isEnabled());
        view->openSheet(u"Ann"_s);
        QVERIFY(view->sheet());
        QCOMPARE(child<QLineEdit>(view->sheet(), u"employeeWebhookField"_s)->text(), annHook);
        child<QLineEdit>(view->sheet(), u"employeeNameField"_s)->setText(u"Anna"_s);
        view->sheet()->save();
        QTRY_VERIFY(!view->sheet());
        QCOMPARE(m_f->model->settings().employees, (QStringList{u"Anna"_s, u"Bo"_s}));
        QCOMPARE(m_f->model->notifications().employeeWebhooks,
                 (QMap<QString, QString>{{u"Anna"_s, annHook}}));

        view->openSheet(u"Anna"_s);
        child<QLineEdit>(view->sheet(), u"employeeWebhookField"_s)->clear();
        view->sheet()->save();
        QTRY_VERIFY(!view->sheet());
        QVERIFY(m_f->model->notifications().employeeWebhooks.isEmpty());
    }

    void removingTheSelectionDisablesEditAndRemove() {
        const auto view = shown<EmployeesView>();
        view->select(u"Bo"_s);
        view->remove(u"Bo"_s);
        QTRY_COMPARE(m_f->model->settings().employees, QStringList{u"Ann"_s});
        QVERIFY(!view->selection());
        QVERIFY(!child<QToolButton>(view->toolbarItems(), u"editEmployeeButton"_s)->isEnabled());
        QVERIFY(!child<QToolButton>(view->toolbarItems(), u"removeEmployeeButton"_s)->isEnabled());
    }

    // ---- Settings

    // A form saved with slot 4 alone: the name and slot 4 on, nothing to save; slot 4 off and saved is gone.
    void theFormTab() {
        m_setup.kiosk[u"fields"_s] = QJsonArray{field(4, u"Badge colour"_s)};
        const auto form = shown<FormSettings>();
        const QList<FieldSlot> slots = form->slots();
        QVERIFY(slots[0].isOn && slots[0].required);
        QCOMPARE(slots[4], (FieldSlot{4, true, u"Badge colour"_s, FieldType::PlainText, false, false}));
        QVERIFY(!slots[1].isOn && !slots[5].isOn);
        QVERIFY(!child<QPushButton>(form.get(), u"saveFormButton"_s)->isEnabled());
        child<QCheckBox>(form.get(), u"slotOn4"_s)->setChecked(false);
        QVERIFY(form->canSave());
        form->save();
        QTRY_VERIFY(!form->isSaving());
        QVERIFY(!form->canSave());
        const QJsonArray fields = m_setup.kiosk.value(u"fields").toArray();
        QCOMPARE(fields.size(), 1);
        QCOMPARE(fields[0].toObject().value(u"slot").toInt(), 0);
        QCOMPARE(m_setup.kiosk.value(u"employees").toArray(), (QJsonArray{u"Ann"_s, u"Bo"_s}));
    }

    void theOfficeAddress_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("service"); // empty: none shown
        QTest::addColumn<bool>("problem");
        QTest::addColumn<bool>("canSaveAndTest");
        QTest::newRow("spaces around a Slack address")
            << u"  https://hooks.slack.com/services/T0/B0/office "_s << u"Slack"_s << false << true;
        QTest::newRow("plain http") << u"http://hooks.slack.com/services/T0/B0/office"_s << u""_s << true
                                    << false;
        QTest::newRow("another https address")
            << u"https://example.com/hook"_s << u"Webhook (JSON)"_s << false << true;
    }
    void theOfficeAddress() {
        QFETCH(QString, typed);
        QFETCH(QString, service);
        QFETCH(bool, problem);
        QFETCH(bool, canSaveAndTest);
        const auto alerts = shown<AlertSettings>();
        child<QLineEdit>(alerts.get(), u"officeWebhookField"_s)->setText(typed);
        auto *serviceLabel = child<QLabel>(alerts.get(), u"webhookService"_s);
        QCOMPARE(serviceLabel->isVisible() ? serviceLabel->text() : QString(), service);
        QCOMPARE(child<QLabel>(alerts.get(), u"officeWebhookProblem"_s)->isVisible(), problem);
        QCOMPARE(child<QPushButton>(alerts.get(), u"saveAlertsButton"_s)->isEnabled(), canSaveAndTest);
        QCOMPARE(child<QPushButton>(alerts.get(), u"sendTestMessageButton"_s)->isEnabled(), canSaveAndTest);
        if (canSaveAndTest) {
            alerts->save();
            QTRY_COMPARE(alerts->message().value_or(QString()), u"Saved."_s);
            QCOMPARE(m_setup.alerts.value(u"office_webhook").toString(), typed.trimmed());
            QCOMPARE(m_setup.alerts.value(u"employee_webhooks").toObject().value(u"Ann").toString(), annHook);
        }
    }

    // The test alert reaches the receiver standing in for the office's service.
    void aTestMessage() {
        const auto alerts = shown<AlertSettings>();
        ScriptedHttpServer receiver;
        receiver.setHandler([](const RecordedRequest &) { return ScriptedAnswer::json(200, "ok"); });
        AlertSettings::setTestRoute(
            [&](const QUrl &) { return QUrl(receiver.baseUrl().toString() + u"/hook"_s); });
        child<QLineEdit>(alerts.get(), u"officeWebhookField"_s)
            ->setText(u"https://hooks.slack.com/services/T/B/x"_s);
        alerts->sendTestMessage();
        QTRY_COMPARE(alerts->message().value_or(QString()), u"Test message sent."_s);
        QCOMPARE(receiver.requestCount(), 1);
        const QByteArray body = receiver.requests().constFirst().body;
        QVERIFY2(body.contains("Test Visitor") && body.contains("This is a test from Tallybrook."),
                 body.constData());
    }

    // This computer's choice, stored at once: on unless switched off.
    void theArrivalNoticesSwitch_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checked");
        QTest::newRow("never set") << QVariant() << true;
        QTest::newRow("switched off") << QVariant(false) << false;
    }
    void theArrivalNoticesSwitch() {
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        startDesk();
        if (stored.isValid()) {
            m_f->defaults->setValue(u"showArrivalNotices"_s, stored);
        }
        AlertSettings alerts(m_f->environment());
        alerts.show();
        auto *toggle = child<QCheckBox>(&alerts, u"arrivalNoticesToggle"_s);
        QCOMPARE(toggle->accessibleName(), u"Show a notice on this computer"_s);
        QCOMPARE(toggle->isChecked(), checked);
        toggle->click();
        QCOMPARE(m_f->defaults->value(u"showArrivalNotices"_s, checked).toBool(), !checked);
        QVERIFY(!child<QPushButton>(&alerts, u"saveAlertsButton"_s)->isEnabled()); // nothing for the account
    }

    void thePasswordAndThePrinter() {
        const auto account = shown<AccountSettings>();
        auto *password = child<QLineEdit>(account.get(), u"newPasswordField"_s);
        auto *change = child<QPushButton>(account.get(), u"changePasswordButton"_s);
        password->setText(u"1234567"_s);
        QVERIFY(!change->isEnabled());
        password->setText(u"12345678"_s);
        QVERIFY(change->isEnabled());

        BadgeSettings badges(m_f->environment()); // the fixture's print system has no printer
        badges.show();
        auto *printers = child<QComboBox>(&badges, u"printerPicker"_s);
        QCOMPARE(printers->count(), 1);
        QCOMPARE(printers->itemText(0), u"System Default"_s);
        badges.printTestBadge();
        QCOMPARE(badges.testResult().value_or(QString()),
                 u"No printer is available. Choose one in Settings > Badges."_s);
    }

    // The real server: Ada gets a personal webhook at the desk and her visitor's alert goes there; a question
    // turned on in Settings is asked by the sign-in sheet.
    void aPersonalWebhookAndANewQuestion() {
        DemoDesk demo;
        // Chat services are https only; the receiver stands in for the host's own channel.
        ScriptedHttpServer receiver;
        receiver.setHandler([](const RecordedRequest &) { return ScriptedAnswer::json(200, "ok"); });
        QList<QUrl> alertedAt;
        AppModelOptions options;
        options.deliverAlert = [&](const VisitorAlert &alert, const QUrl &url) {
            alertedAt.append(url);
            static_cast<void>(demo.notifier->post(alert, QUrl(receiver.baseUrl().toString() + url.path())));
        };
        QVERIFY(demo.start(options));
        AppModel &model = *demo.model;
        QVERIFY(awaitTask(model.loadSetup()).succeeded());
        const Environment environment = demo.environment();

        const QString adaHook = u"https://hooks.slack.com/services/T0/B0/ada"_s;
        EmployeesView employees(environment);
        employees.openSheet(std::nullopt);
        child<QLineEdit>(employees.sheet(), u"employeeNameField"_s)->setText(u"Ada Quill"_s);
        child<QLineEdit>(employees.sheet(), u"employeeWebhookField"_s)->setText(adaHook);
        employees.sheet()->save();
        QTRY_VERIFY_WITH_TIMEOUT(!employees.sheet(), 10000);

        const auto host = std::find_if(model.settings().fields.begin(), model.settings().fields.end(),
                                       [](const KioskField &question) { return question.employeeList; });
        QVERIFY(host != model.settings().fields.end());
        VisitorDraft draft;
        for (const KioskField &question : model.settings().fields) {
            draft.answers.insert(question.slot, question.slot == 0 ? u"Grace Hopper"_s : u"x"_s);
        }
        draft.answers.insert(host->slot, u"Ada Quill"_s);
        QVERIFY(awaitTask(model.signIn(draft)).succeeded());
        QTRY_COMPARE(receiver.requestCount(), 1);
        QCOMPARE(alertedAt, QList<QUrl>{QUrl(adaHook)});
        QCOMPARE(receiver.requests().constFirst().path, "/services/T0/B0/ada");

        FormSettings form(environment);
        int freeSlot = 5;
        while (form.slots()[freeSlot].isOn) {
            --freeSlot;
        }
        child<QCheckBox>(&form, u"slotOn%1"_s.arg(freeSlot))->setChecked(true);
        child<QLineEdit>(&form, u"slotLabel%1"_s.arg(freeSlot))->setText(u"Parking spot"_s);
        form.save();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isSaving(), 10000);
        QVERIFY(!form.message());
        SignInSheet sheet(environment, std::nullopt);
        QVERIFY(sheet.answerField(freeSlot));
        QCOMPARE(sheet.answerField(freeSlot)->accessibleName(), u"Parking spot (optional)"_s);
    }
};

QTEST_MAIN(TestSetupScreens)
#include "tst_setupscreens.moc"
