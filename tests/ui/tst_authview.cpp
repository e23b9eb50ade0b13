#include "DeskTestSupport.h"
#include "ui/AuthView.h"
#include "ui/BusyIndicator.h"
#include "ui/SegmentedControl.h"
#include "ui/Style.h"

#include <QFormLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;
using Mode = AuthView::Mode;

Q_DECLARE_METATYPE(AuthView::Mode)

namespace {

const QUuid deskAccount(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

// Typing as a person would; QTest::keyClicks only knows ASCII.
void type(QLineEdit *field, const QString &text) {
    field->clear();
    bool ascii = true;
    for (const QChar c : text) {
        ascii = ascii && c.unicode() > 0x1f && c.unicode() < 0x7f;
    }
    if (ascii) {
        QTest::keyClicks(field, text);
    } else {
        field->insert(text);
    }
}

QJsonObject bodyOf(const RecordedRequest &request) {
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class TestAuthView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void emailValidity_data();
    void emailValidity();
    void primaryButtonEnablement_data();
    void primaryButtonEnablement();
    void modesShowTheirOwnFields();
    void changingModeClearsTheMessageAndKeepsTheFields();

    void signInWithReturn();
    void failedSignInShowsTheReasonInRed();
    void returnDoesNothingWhileSubmittingIsNotAllowed();
    void nothingElseStartsWhileWorking();
    void signUpNeedingConfirmationStaysInCreateMode();
    void signUpWithASessionSignsIn();
    void signUpForAnExistingAccount();
    void forgotPasswordWithoutAnEmail_data();
    void forgotPasswordWithoutAnEmail();
    void forgotPasswordSendsTheReset();
    void failedPasswordResetShowsTheReason();
    void screenGoneBeforeTheAnswer();

private:
    AuthView &view() { return *m_view; }
    template<class T>
    T *child(const QString &name) {
        T *found = m_view->findChild<T *>(name);
        if (!found) {
            qFatal("no child %s", qPrintable(name));
        }
        return found;
    }
    QLineEdit *email() { return child<QLineEdit>(u"emailField"_s); }
    QLineEdit *password() { return child<QLineEdit>(u"passwordField"_s); }
    QLineEdit *name() { return child<QLineEdit>(u"nameField"_s); }
    QPushButton *primary() { return child<QPushButton>(u"authPrimaryButton"_s); }
    QPushButton *forgot() { return child<QPushButton>(u"forgotPasswordButton"_s); }
    QLabel *message() { return child<QLabel>(u"authMessage"_s); }
    void chooseMode(Mode mode) {
        QTest::mouseClick(child<QToolButton>(mode == Mode::SignIn ? u"signInMode"_s : u"createAccountMode"_s),
                          Qt::LeftButton);
        QCOMPARE(view().mode(), mode);
    }

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<AuthView> m_view;
};

void TestAuthView::init() {
    m_f = std::make_unique<DeskFixture>();
    m_f->backend.addAccount(deskAccount, u"desk"_s);
    m_f->start();
    m_view = std::make_unique<AuthView>(*m_f->cloud.client);
    m_view->resize(700, 640);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestAuthView::cleanup() {
    m_view.reset();
    m_f.reset();
}

void TestAuthView::emailValidity_data() {
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("valid");
    QTest::newRow("leading space is trimmed") << u" ann@example.com"_s << true;
    QTest::newRow("blanks at both ends are trimmed") << u"\t ann@example.com  "_s << true;
    QTest::newRow("line break is not a blank") << u"\nann@example.com"_s << false;
}

void TestAuthView::emailValidity() {
    QFETCH(QString, email);
    QFETCH(bool, valid);
    QCOMPARE(AuthView::isValidEmail(email), valid);
}

void TestAuthView::primaryButtonEnablement_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("enabled");
    const QString email = u"desk@example.com"_s;
    QTest::newRow("create: 7 characters") << Mode::Create << email << u"1234567"_s << false;
    QTest::newRow("create: 8 characters") << Mode::Create << email << u"12345678"_s << true;
    QTest::newRow("create: 4 emoji are 4 characters")
        << Mode::Create << email << u"\U0001F600\U0001F600\U0001F600\U0001F600"_s << false;
    QTest::newRow("create: 8 accented letters")
        << Mode::Create << email << u"\u00e9\u00e8\u00ea\u00eb\u00e9\u00e8\u00ea\u00eb"_s << true;
    QTest::newRow("create: no dot after the at sign")
        << Mode::Create << u"desk@example"_s << u"12345678"_s << false;
    QTest::newRow("create: empty") << Mode::Create << QString() << QString() << false;
    QTest::newRow("sign in: one character") << Mode::SignIn << email << u"x"_s << true;
    QTest::newRow("sign in: a space is a password") << Mode::SignIn << email << u" "_s << true;
    QTest::newRow("sign in: empty password") << Mode::SignIn << email << QString() << false;
    QTest::newRow("sign in: no dot after the at sign")
        << Mode::SignIn << u"desk@example"_s << u"secret"_s << false;
    QTest::newRow("sign in: leading space in the email")
        << Mode::SignIn << u" desk@example.com"_s << u"s"_s << true;
    QTest::newRow("sign in: non-ASCII email") << Mode::SignIn << u"zo\u00eb@example.com"_s << u"s"_s << true;
}

void TestAuthView::primaryButtonEnablement() {
    QFETCH(Mode, mode);
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(bool, enabled);
    QCOMPARE(AuthView::canSubmit(mode, email, password, false), enabled);
    QVERIFY(!AuthView::canSubmit(mode, email, password, true)); // never while a request runs

    chooseMode(mode);
    type(this->email(), email);
    type(this->password(), password);
    QCOMPARE(this->password()->text(), password);
    QCOMPARE(primary()->isEnabled(), enabled);
    QCOMPARE(primary()->text(), AuthView::title(mode));
}

void TestAuthView::modesShowTheirOwnFields() {
    QCOMPARE(view().mode(), Mode::SignIn);
    QCOMPARE(primary()->text(), u"Sign In"_s);
    QVERIFY(!name()->isVisible());
    QVERIFY(!child<QLabel>(u"passwordHint"_s)->isVisible());
    QVERIFY(forgot()->isVisible());
    QCOMPARE(password()->echoMode(), QLineEdit::Password);
    QCOMPARE(child<QLabel>(u"productName"_s)->text(), u"Tallybrook"_s);
    QVERIFY(child<QLabel>(u"productName"_s)->font().weight() >= QFont::DemiBold);

    chooseMode(Mode::Create);
    QCOMPARE(primary()->text(), u"Create Account"_s);
    QVERIFY(name()->isVisible());
    QCOMPARE(child<QLabel>(u"passwordHint"_s)->text(), u"At least 8 characters."_s);
    QVERIFY(child<QLabel>(u"passwordHint"_s)->isVisible());
    QVERIFY(!forgot()->isVisible());
    for (QWidget *control : std::initializer_list<QWidget *>{name(), email(), password(), primary()}) {
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }
}

void TestAuthView::changingModeClearsTheMessageAndKeepsTheFields() {
    forgot()->click();
    QCOMPARE(view().message(), u"Enter your email above first."_s);
    QVERIFY(message()->isVisible());
    type(email(), u"desk@example.com"_s);
    type(password(), u"typed"_s);

    chooseMode(Mode::Create);
    QVERIFY(!view().message());
    QVERIFY(!message()->isVisible());
    QCOMPARE(email()->text(), u"desk@example.com"_s);
    QCOMPARE(password()->text(), u"typed"_s);
}

void TestAuthView::signInWithReturn() {
    m_f->backend.nextSignIn = u"desk"_s;
    m_f->backend.authDelay = std::chrono::milliseconds(300);
    type(email(), u"  desk@example.com"_s);
    type(password(), u"secret pw"_s);
    QTest::keyClick(password(), Qt::Key_Return);

    QVERIFY(view().isWorking());
    QVERIFY(!primary()->isEnabled());
    QVERIFY(child<BusyIndicator>(u"authProgress"_s)->isVisible());
    QTRY_VERIFY(m_f->cloud.client->isSignedIn());
    QTRY_VERIFY(!view().isWorking());
    QVERIFY(!view().message());
    QVERIFY(!child<BusyIndicator>(u"authProgress"_s)->isVisible());

    QCOMPARE(m_f->cloud.server->requestCount(), 1);
    const RecordedRequest request = m_f->cloud.server->requests().constFirst();
    QCOMPARE(request.path, QByteArray("/auth/v1/token"));
    QCOMPARE(request.rawQuery, QByteArray("grant_type=password"));
    QCOMPARE(bodyOf(request).value(u"email").toString(), u"desk@example.com"_s); // trimmed by the client
    QCOMPARE(bodyOf(request).value(u"password").toString(), u"secret pw"_s);
    QCOMPARE(email()->text(), u"  desk@example.com"_s); // the field keeps what was typed
}

void TestAuthView::failedSignInShowsTheReasonInRed() {
    m_f->backend.nextSignIn = u"nobody"_s;
    type(email(), u"desk@example.com"_s);
    type(password(), u"wrong"_s);
    primary()->click();
    QTRY_VERIFY(!view().isWorking());
    QCOMPARE(view().message(), u"That email and password combination did not work."_s);
    QVERIFY(view().messageIsError());
    QCOMPARE(message()->text(), u"That email and password combination did not work."_s);
    QCOMPARE(textColor(message()), errorTextColor(message()->palette()));
    QVERIFY(!m_f->cloud.client->isSignedIn());
    QVERIFY(primary()->isEnabled());
}

void TestAuthView::returnDoesNothingWhileSubmittingIsNotAllowed() {
    type(email(), u"desk@example"_s);
    type(password(), u"secret"_s);
    QTest::keyClick(password(), Qt::Key_Return);
    QTest::keyClick(email(), Qt::Key_Enter, Qt::KeypadModifier);
    QTest::qWait(50);
    QCOMPARE(m_f->cloud.server->requestCount(), 0);
    QVERIFY(!view().isWorking());
}

void TestAuthView::nothingElseStartsWhileWorking() {
    m_f->backend.nextSignIn = u"desk"_s;
    m_f->backend.authDelay = std::chrono::milliseconds(200);
    type(email(), u"desk@example.com"_s);
    type(password(), u"secret"_s);
    primary()->click();
    view().submit();
    QTest::keyClick(password(), Qt::Key_Return);
    QVERIFY(!forgot()->isEnabled());
    view().sendPasswordReset();
    QTRY_VERIFY(m_f->cloud.client->isSignedIn());
    QTRY_VERIFY(!view().isWorking());
    QCOMPARE(m_f->cloud.server->requestCount(), 1);
    QVERIFY(forgot()->isEnabled());
}

void TestAuthView::signUpNeedingConfirmationStaysInCreateMode() {
    // A user without tokens: the account waits for its email to be confirmed.
    m_f->backend.signUpBody = R"({"id":"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e","email":"zoe@example.com",)"
                              R"("confirmation_sent_at":"2025-03-04T09:05:00Z"})";
    chooseMode(Mode::Create);
    type(name(), u"Zo\u00eb \u0141ukasz"_s);
    type(email(), u"zoe@example.com"_s);
    type(password(), u"long enough"_s);
    QTest::keyClick(name(), Qt::Key_Return);
    QTRY_VERIFY(!view().isWorking());

    QCOMPARE(view().message(), u"Check your inbox for a link to confirm your email, then sign in."_s);
    QVERIFY(!view().messageIsError());
    QCOMPARE(textColor(message()), secondaryTextColor(message()->palette()));
    QVERIFY(textColor(message()) != errorTextColor(message()->palette()));
    QCOMPARE(view().mode(), Mode::Create);
    QVERIFY(name()->isVisible());
    QVERIFY(!m_f->cloud.client->isSignedIn());

    const RecordedRequest request = m_f->cloud.server->requests().constFirst();
    QCOMPARE(request.path, QByteArray("/auth/v1/signup"));
    QCOMPARE(bodyOf(request).value(u"data").toObject().value(u"name").toString(), u"Zo\u00eb \u0141ukasz"_s);
}

void TestAuthView::signUpWithASessionSignsIn() {
    m_f->backend.signUpBody = tokenAnswer(u"access-desk"_s, u"refresh-desk"_s, 3600, deskAccount);
    chooseMode(Mode::Create);
    type(email(), u"desk@example.com"_s);
    type(password(), u"12345678"_s);
    primary()->click();
    QTRY_VERIFY(m_f->cloud.client->isSignedIn());
    QTRY_VERIFY(!view().isWorking());
    QVERIFY(!view().message());
    QCOMPARE(m_f->cloud.client->session()->userID, deskAccount);
}

void TestAuthView::signUpForAnExistingAccount() {
    m_f->backend.signUpStatus = 422;
    m_f->backend.signUpBody =
        R"({"code":422,"error_code":"user_already_exists","msg":"User already registered"})";
    chooseMode(Mode::Create);
    type(email(), u"desk@example.com"_s);
    type(password(), u"12345678"_s);
    primary()->click();
    QTRY_VERIFY(!view().isWorking());
    QCOMPARE(view().message(), u"There's already an account for that email. Sign in with it instead."_s);
    QVERIFY(view().messageIsError());
    QCOMPARE(textColor(message()), errorTextColor(message()->palette()));
}

void TestAuthView::forgotPasswordWithoutAnEmail_data() {
    QTest::addColumn<QString>("email");
    QTest::newRow("empty") << QString();
    QTest::newRow("no dot after the at sign") << u"desk@example"_s;
    QTest::newRow("spaces only") << u"   "_s;
}

void TestAuthView::forgotPasswordWithoutAnEmail() {
    QFETCH(QString, email);
    type(this->email(), email);
    QTest::mouseClick(forgot(), Qt::LeftButton);
    QCOMPARE(view().message(), u"Enter your email above first."_s);
    QVERIFY(view().messageIsError());
    QCOMPARE(textColor(message()), errorTextColor(message()->palette()));
    QVERIFY(!view().isWorking());
    QTest::qWait(50);
    QCOMPARE(m_f->cloud.server->requestCount(), 0);
}

void TestAuthView::forgotPasswordSendsTheReset() {
    m_f->backend.authDelay = std::chrono::milliseconds(150);
    type(email(), u" desk@example.com"_s);
    forgot()->click();
    QVERIFY(view().isWorking());
    QVERIFY(!view().message());
    QTRY_VERIFY(!view().isWorking());
    QCOMPARE(view().message(), u"If that email has an account, a reset link is on its way."_s);
    QVERIFY(!view().messageIsError());
    QCOMPARE(textColor(message()), secondaryTextColor(message()->palette()));
    const RecordedRequest request = m_f->cloud.server->requests().constFirst();
    QCOMPARE(request.path, QByteArray("/auth/v1/recover"));
    QCOMPARE(bodyOf(request).value(u"email").toString(), u"desk@example.com"_s);
}

void TestAuthView::failedPasswordResetShowsTheReason() {
    m_f->backend.recoverStatus = 429;
    m_f->backend.recoverBody =
        R"({"code":429,"error_code":"over_email_send_rate_limit","msg":"Email rate limit exceeded"})";
    type(email(), u"desk@example.com"_s);
    forgot()->click();
    QTRY_VERIFY(!view().isWorking());
    QCOMPARE(view().message(), u"Email rate limit exceeded"_s);
    QVERIFY(view().messageIsError());
}

void TestAuthView::screenGoneBeforeTheAnswer() {
    m_f->backend.nextSignIn = u"desk"_s;
    m_f->backend.authDelay = std::chrono::milliseconds(150);
    type(email(), u"desk@example.com"_s);
    type(password(), u"secret"_s);
    primary()->click();
    m_view.reset();
    // The client still signs in; nothing touches the screen that is gone.
    QTRY_VERIFY(m_f->cloud.client->isSignedIn());
    QTest::qWait(20);
}

QTEST_MAIN(TestAuthView)
#include "tst_authview.moc"
