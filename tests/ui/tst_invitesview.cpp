#include "DeskTestSupport.h"
#include "records/DateStyles.h"
#include "ui/EmptyState.h"
#include "ui/InviteCodeSheet.h"
#include "ui/InvitesView.h"
#include "ui/MessageBox.h"
#include "ui/NewInviteSheet.h"
#include "ui/SignInSheet.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QNetworkReply>
#include <QProcess>
#include <QScrollArea>
#include <QTimeEdit>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QUuid user(u"7a1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

QJsonObject field(int slot, const QString &label, const QString &type = u"Text"_s, bool required = false) {
    return {{u"slot"_s, slot},
            {u"label"_s, label},
            {u"type"_s, type},
            {u"required"_s, required},
            {u"employee_list"_s, false}};
}

// The account's invites and form as the REST service and the website's invite service keep them.
struct Invitations {
    QJsonArray invites;
    QJsonArray fields{field(0, u"Name"_s, u"Text"_s, true), field(1, u"Company"_s)};
    std::optional<QByteArray> failing; // the message every invite call fails with
    std::chrono::milliseconds delay{0};
    QList<QByteArray> calls; // "METHOD path"
    QList<QJsonObject> created;

    ScriptedAnswer answer(const RecordedRequest &request) {
        const QByteArray path = request.path;
        if (path.endsWith("/kiosk_settings")) {
            return ScriptedAnswer::json(
                200,
                QJsonDocument(QJsonArray{QJsonObject{{u"fields"_s, fields}, {u"employees"_s, QJsonArray{}}}})
                    .toJson());
        }
        if (!path.contains("invites")) {
            return ScriptedAnswer::json(200, "[]", {{"Content-Range", "*/0"}});
        }
        calls.append(request.method + ' ' + path.mid(path.indexOf("invites")));
        if (failing) { // the REST service says "message", the website "error"
            return ScriptedAnswer::json(503,
                                        R"({"message":")" + *failing + R"(","error":")" + *failing + R"("})");
        }
        if (request.method == "POST" && path.endsWith("/invites")) {
            created.append(QJsonDocument::fromJson(request.body).object());
            return ScriptedAnswer::json(201, "{}");
        }
        if (request.method == "DELETE") {
            return ScriptedAnswer::json(204, "");
        }
        return ScriptedAnswer::json(200, request.method == "GET" ? QJsonDocument(invites).toJson() : "{}")
            .delayedBy(delay);
    }
};

} // namespace

// The Invites screen, the new-invite sheet and the invite code, against a scripted account; and against the
// real server, an invite made, mailed, opened and used.
class TestInvitesView : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<InvitesView> m_view;
    Invitations m_account;
    QList<Invite> m_signedIn;

    void startDesk() {
        m_f = std::make_unique<DeskFixture>();
        m_f->startAgainst(user, [this](const RecordedRequest &request) { return m_account.answer(request); });
        QVERIFY(awaitTask(m_f->model->loadSetup()).succeeded());
    }
    void showList() {
        startDesk();
        m_view = std::make_unique<InvitesView>(m_f->environment(),
                                               [this](const Invite &invite) { m_signedIn.append(invite); });
        showScreen(*m_view, {900, 500});
    }
    QList<InviteRow *> rows() const { return m_view->findChildren<InviteRow *>(); }
    InviteRow *rowOf(const QString &name) const {
        const QList<InviteRow *> all = rows();
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&](InviteRow *row) { return row->invite().visitorName == name; });
        return found == all.end() ? nullptr : *found;
    }
    static QString labelText(QWidget *row, const QString &name) {
        return row->findChild<QLabel *>(name)->text();
    }
    static QStringList menuItems(InviteRow *row) {
        QStringList items;
        for (QAction *action : row->findChild<QMenu *>(u"inviteMenu"_s)->actions()) {
            items.append(action->isSeparator() ? u"-"_s : action->text());
        }
        return items;
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() {
        m_view.reset();
        m_f.reset();
        m_account = {};
        m_signedIn.clear();
        MessageBox::clearNextAnswers();
    }

    void rowsSayWhereEachInviteStands_data() {
        QTest::addColumn<QJsonObject>("invite");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("canSignIn");
        QTest::addColumn<QStringList>("menu");
        const QDate tomorrow = QDate::currentDate().addDays(1);
        const QString day = weekdayMonthDay(tomorrow, QLocale());
        const QStringList unused{u"Show QR Code"_s, u"Copy Link"_s, u"Send Invite Again"_s, u"-"_s,
                                 u"Cancel Invite\u2026"_s};
        const QStringList used{u"Show QR Code"_s, u"Copy Link"_s};
        const QDateTime usedAt(QDate(2025, 3, 4), QTime(14, 5, 6, 123), QTimeZone(3600));
        QTest::newRow("used, six fraction digits and an offset")
            << inviteJson(u"Ann"_s, {{u"used_at"_s, u"2025-03-04T14:05:06.123456+01:00"_s}})
            << u"ann@example.com \u00B7 Any day"_s
            << QString(u"Signed in "_s + abbreviatedDateTime(usedAt, QLocale())) << false << used;
        QTest::newRow("used, unreadable time")
            << inviteJson(u"Bo"_s, {{u"used_at"_s, u"yesterday"_s}}) << u"bo@example.com \u00B7 Any day"_s
            << u"Signed in"_s << false << used;
        QTest::newRow("expired yesterday")
            << inviteJson(u"Cy"_s,
                          {{u"visit_date"_s, QDate::currentDate().addDays(-1).toString(Qt::ISODate)}})
            << QString(u"cy@example.com \u00B7 "_s +
                       weekdayMonthDay(QDate::currentDate().addDays(-1), QLocale()))
            << u"Expired"_s << false << unused;
        QTest::newRow("a day and 09:30")
            << inviteJson(u"Di"_s,
                          {{u"visit_date"_s, tomorrow.toString(Qt::ISODate)}, {u"visit_time"_s, u"09:30"_s}})
            << QString(u"di@example.com \u00B7 "_s + day + u" at 9:30\u202FAM"_s) << u"Waiting"_s << true
            << unused;
    }
    void rowsSayWhereEachInviteStands() {
        QFETCH(QJsonObject, invite);
        QFETCH(QString, detail);
        QFETCH(QString, status);
        QFETCH(bool, canSignIn);
        QFETCH(QStringList, menu);
        m_account.invites = {invite};
        showList();
        QTRY_COMPARE(rows().size(), 1);
        InviteRow *row = rows().constFirst();
        QCOMPARE(labelText(row, u"inviteDetail"_s), QString(detail).replace(u'\u202F', u' '));
        QCOMPARE(labelText(row, u"inviteStatus"_s), status);
        QCOMPARE(menuItems(row), menu);
        auto *signIn = row->findChild<QPushButton *>(u"signInInviteButton"_s);
        QCOMPARE(signIn != nullptr, canSignIn);
        if (signIn) {
            signIn->click();
            QCOMPARE(m_signedIn.size(), 1);
            QCOMPARE(m_signedIn.constFirst().visitorName, invite.value(u"visitor_name").toString());
        }
    }

    // "No invites yet" only once the first load has answered; a failed load keeps the rows and says why.
    void emptyStateAndFailedLoads() {
        m_account.delay = 300ms;
        showList();
        auto *stack = m_view->findChild<QScrollArea *>(u"inviteList"_s);
        auto *empty = m_view->findChild<EmptyState *>();
        QVERIFY(stack->isVisible() && !empty->isVisible());
        QTRY_VERIFY(empty->isVisible());

        m_account.delay = 0ms;
        m_account.invites = {inviteJson(u"Ann"_s)};
        m_view->reload();
        QTRY_COMPARE(rows().size(), 1);
        m_account.failing = "The invites are resting";
        m_view->reload();
        QTRY_COMPARE(m_view->notice().value_or(QString()), u"The invites are resting"_s);
        QCOMPARE(rows().size(), 1);
        QVERIFY(stack->isVisible());
    }

    // Cancel removes the row without asking the server again; resend says where it went; the link is the
    // website's, with the token as one path segment.
    void cancelResendAndCopy() {
        m_account.invites = {inviteJson(u"Ann"_s), inviteJson(u"Bo"_s)};
        showList();
        QTRY_COMPARE(rows().size(), 2);
        const Invite bo = rows().at(1)->invite();

        MessageBox::setNextAnswer(u"Keep Invite"_s);
        m_view->askToCancel(bo);
        QTRY_COMPARE(MessageBox::pendingAnswerCount(), 0);
        MessageBox::setNextAnswer(u"Cancel Invite"_s);
        m_view->askToCancel(bo);
        QTRY_COMPARE(m_view->invites().size(), 1);
        QCOMPARE(rows().size(), 1);
        QCOMPARE(m_account.calls, (QList<QByteArray>{"GET invites", "DELETE invites"}));

        m_view->resend(m_view->invites().constFirst());
        QTRY_COMPARE(m_view->notice().value_or(QString()), u"Sent again to ann@example.com."_s);
        QCOMPARE(m_account.calls.last(),
                 "POST invites/" + m_view->invites().constFirst().id.toString(QUuid::WithoutBraces).toUtf8() +
                     "/resend");

        m_view->copyLink(m_view->invites().constFirst());
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 m_f->cloud.client->websiteURL(u"i/"_s).toString(QUrl::FullyEncoded) + u"tok%2FAnn"_s);
    }

    void theSheetBuildsTheInvite_data() {
        QTest::addColumn<bool>("emailQuestion");
        QTest::addColumn<QString>("address"); // typed in the separate field or in the form's Email question
        QTest::addColumn<bool>("date");       // the date toggle (a time is always set)
        QTest::addColumn<QString>("message"); // empty: sent
        QTest::addColumn<QJsonObject>("sent");
        QTest::addColumn<bool>("refused"); // by the server, with the message
        const auto row = [](const char *name, bool emailQuestion, const QString &address, bool date,
                            const QString &message, const QJsonObject &sent = {}, bool refused = false) {
            QTest::newRow(name) << emailQuestion << address << date << message << sent << refused;
        };
        const QString bad = u"Please enter a valid email address to send the invite to."_s;
        const QJsonArray answers{QJsonObject{{u"slot"_s, 0}, {u"value"_s, QString(200, u'x')}}};
        QJsonObject ann{{u"answers"_s, answers}, {u"email"_s, u"ann@example.com"_s}};
        row("separate address, no date: the time is not sent", false, u"  ann@example.com "_s, false, {},
            ann);
        row("blank address", false, u""_s, false, bad);
        row("no dot after the at sign", false, u"ann@example"_s, false, bad);
        row("the form's Email question, badly typed", true, u"ann@"_s, false,
            u"Please enter a valid email for Email."_s);
        // A refused invite leaves the sheet open with everything typed and the server's words under the form.
        row("refused by the server", false, u"ann@example.com"_s, false, u"The mail room is closed"_s, {},
            true);
        row("the form's Email question", true, u" ann@example.com\n"_s, false, {},
            QJsonObject{
                {u"answers"_s,
                 QJsonArray{answers[0], QJsonObject{{u"slot"_s, 2}, {u"value"_s, u"ann@example.com"_s}}}},
                {u"email"_s, u"ann@example.com"_s}});
        ann.insert(u"visit_date"_s, QDate::currentDate().toString(Qt::ISODate));
        ann.insert(u"visit_time"_s, u"09:30"_s);
        row("separate address, day and time", false, u"ann@example.com"_s, true, {}, ann);
    }
    void theSheetBuildsTheInvite() {
        QFETCH(bool, emailQuestion);
        QFETCH(QString, address);
        QFETCH(bool, date);
        QFETCH(QString, message);
        QFETCH(QJsonObject, sent);
        QFETCH(bool, refused);
        m_account.failing = refused ? std::optional(message.toUtf8()) : std::nullopt;
        if (emailQuestion) {
            m_account.fields.append(field(2, u"Email"_s, u"Email"_s));
        }
        startDesk();
        NewInviteSheet sheet(m_f->environment());
        sheet.show();
        auto *sendButton = sheet.findChild<QPushButton *>(u"sendInviteButton"_s);
        auto *separate = sheet.findChild<QLineEdit *>(u"inviteEmailField"_s);
        QCOMPARE(separate->isVisible(), !emailQuestion);
        sheet.answerField(0)->setText(QString(250, u'x'));
        (emailQuestion ? sheet.answerField(2) : separate)->setText(address);
        sheet.findChild<QCheckBox *>(u"setVisitDateToggle"_s)->setChecked(true);
        sheet.findChild<QCheckBox *>(u"setVisitTimeToggle"_s)->setChecked(true);
        sheet.findChild<QTimeEdit *>(u"visitTimePicker"_s)->setTime(QTime(9, 30));
        sheet.findChild<QCheckBox *>(u"setVisitDateToggle"_s)->setChecked(date);
        QCOMPARE(sheet.findChild<QTimeEdit *>(u"visitTimePicker"_s)->isVisible(), date);

        sheet.send();
        QCOMPARE(sheet.isSending(), message.isEmpty() || refused);
        QCOMPARE(sendButton->isEnabled(), !sheet.isSending());
        if (message.isEmpty()) {
            QTRY_VERIFY(!sheet.isVisible());
            QCOMPARE(m_account.created, QList<QJsonObject>{sent});
            return;
        }
        QTRY_VERIFY(!sheet.isSending());
        QCOMPARE(sheet.message().value_or(QString()), message);
        QVERIFY(m_account.created.isEmpty());
        QVERIFY(sheet.isVisible() && sendButton->isEnabled());
        QCOMPARE(sheet.answerField(0)->text(), QString(250, u'x'));
    }

    // The code scans back to exactly the link, and every pixel of it is black or white.
    void theCodeScansBackToTheLink() {
        QTemporaryDir dir;
        const QUrl link(u"http://127.0.0.1:54321/i/tok%2Fen-%C3%A9"_s);
        Invite invite;
        invite.visitorName = u"Ann"_s;
        InviteCodeSheet sheet(invite, link);
        sheet.show();
        auto *code = sheet.findChild<QLabel *>(u"inviteCode"_s);
        QCOMPARE(code->size(), QSize(260, 260));
        const QImage image = code->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                QVERIFY2(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255), "a grey pixel");
            }
        }
        QVERIFY(image.save(dir.filePath(u"code.png"_s)));
        QProcess scan;
        scan.start(u"zbarimg"_s, {u"--quiet"_s, u"--raw"_s, dir.filePath(u"code.png"_s)});
        QVERIFY(scan.waitForFinished(20000));
        QCOMPARE(scan.readAllStandardOutput().trimmed(), link.toString(QUrl::FullyEncoded).toUtf8());
    }

    // The real server: an invite made in the sheet is mailed with its link, the link opens the guest's page,
    // and "Sign In" on the row signs the guest in with the invite's answers.
    void anInviteMadeMailedAndUsed() {
        DemoDesk demo;
        QVERIFY(demo.start());
        AppModel &model = *demo.model;
        CloudClient &cloud = *demo.cloud;
        QVERIFY(awaitTask(model.loadSetup()).succeeded());
        const Environment environment = demo.environment();

        NewInviteSheet sheet(environment);
        sheet.show();
        for (const KioskField &question : model.settings().fields) {
            sheet.answerField(question.slot)
                ->setText(question.slot == 0                         ? u"Grace Hopper"_s
                          : question.fieldType() == FieldType::Email ? u"grace@example.com"_s
                                                                     : u"Answer %1"_s.arg(question.slot));
        }
        if (auto *separate = sheet.findChild<QLineEdit *>(u"inviteEmailField"_s); separate->isVisible()) {
            separate->setText(u"grace@example.com"_s);
        }
        sheet.send();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.isVisible(), 10000);
        QVERIFY(!sheet.message());

        std::optional<SignInSheet> signIn;
        m_view = std::make_unique<InvitesView>(environment, [&](const Invite &invite) {
            signIn.emplace(environment, invite);
            signIn->signIn();
        });
        showScreen(*m_view, {900, 500});
        QTRY_VERIFY(!m_view->isLoading());
        InviteRow *grace = rowOf(u"Grace Hopper"_s);
        QVERIFY(grace);
        const Invite invite = grace->invite();
        const QString link = cloud.inviteLink(invite.token).toString(QUrl::FullyEncoded);

        QDir outbox(demo.server.dataDir() + u"/outbox"_s);
        bool mailed = false;
        for (const QString &name : outbox.entryList({u"*.eml"_s})) {
            QFile mail(outbox.filePath(name));
            QVERIFY(mail.open(QIODevice::ReadOnly));
            const QByteArray text = mail.readAll();
            mailed = mailed || (text.contains("grace@example.com") && text.contains(link.toUtf8()));
        }
        QVERIFY2(mailed, "no invitation with the link in the outbox");
        std::unique_ptr<QNetworkReply> page(demo.f.cloud.http->get(QNetworkRequest(QUrl(link))));
        QTRY_VERIFY(page->isFinished());
        QCOMPARE(page->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY(page->readAll().contains("Grace Hopper"));

        grace->findChild<QPushButton *>(u"signInInviteButton"_s)->click();
        QVERIFY(signIn && signIn->invite());
        QCOMPARE(signIn->answerField(0)->text(), u"Grace Hopper"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_view->invites().size() > 0 && m_view->invites().constFirst().usedAt,
                                 10000);
        grace = rowOf(u"Grace Hopper"_s);
        QVERIFY(grace && grace->invite().id == invite.id);
        QVERIFY(labelText(grace, u"inviteStatus"_s).startsWith(u"Signed in "_s));
        const std::optional<QList<VisitorRow>> onSite = runTask(cloud.onSiteVisitors());
        QVERIFY(onSite && std::any_of(onSite->begin(), onSite->end(), [](const VisitorRow &row) {
                    return row.visitorName == u"Grace Hopper";
                }));
        m_view.reset(); // before the server goes
    }
};

QTEST_MAIN(TestInvitesView)
#include "tst_invitesview.moc"
