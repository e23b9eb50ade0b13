#include "notify/Notifier.h"
#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace tallybrook;
using namespace tallybrook::testing;

using PostResult = std::optional<NotifyError>;

Q_DECLARE_METATYPE(PostResult)
Q_DECLARE_METATYPE(tallybrook::VisitorAlert)
Q_DECLARE_METATYPE(tallybrook::WebhookKind)
Q_DECLARE_METATYPE(std::optional<tallybrook::WebhookKind>)

namespace tallybrook {
// Failure messages name the error instead of leaving it out.
char *toString(const std::optional<NotifyError> &outcome) {
    return QTest::toString(outcome ? outcome->message() : u"delivered"_s);
}
} // namespace tallybrook

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);

VisitorAlert alert(VisitorAlert::Event event, QString name, QList<VisitorAnswer> answers,
                   std::optional<QString> host) {
    return {event, std::move(name), std::move(answers), std::move(host),
            QDateTime({2025, 3, 4}, {14, 5, 9}, Qt::UTC)};
}

// Zoë came to see Łukasz, at 14:05 UTC.
const VisitorAlert arrival = alert(VisitorAlert::Event::SignIn, u"Zoë"_s, {}, u"Łukasz"_s);

QJsonObject json(const char *text) {
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// What a delivery needs, destroyed in reverse: the notifier first.
struct Fixture {
    QTemporaryDir dir;
    QSettings preferences{dir.filePath(u"desk.ini"_s), QSettings::IniFormat};
    std::unique_ptr<ScriptedHttpServer> server = std::make_unique<ScriptedHttpServer>();
    QNetworkAccessManager http;
    std::unique_ptr<Notifier> notifier;
    QList<std::chrono::milliseconds> waits;
};

} // namespace

// Host alerts: which address is usable, which service it belongs to, what each service is sent, and the
// delivery with its single retry and the outcome it records.
class TestNotifier : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_f.emplace(); }
    void cleanup() { m_f.reset(); }

    void addresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<WebhookKind>>("kind"); // none: not a usable address
        const auto row = [](const char *name, const char16_t *text, std::optional<WebhookKind> kind) {
            QTest::newRow(name) << QString::fromUtf16(text) << kind;
        };
        using enum WebhookKind;
        row("blanks and line breaks trimmed", u" \n https://hooks.slack.com/services/T0/B0/x\t\r\n", Slack);
        row("scheme and host in capitals", u"HTTPS://HOOKS.Slack.COM/services/T0/B0/x", Slack);
        row("http refused", u"http://hooks.slack.com/services/T0/B0/x", {});
        row("no host", u"https:///services/x", {});
        row("space inside", u"https://exa mple.com/hook", {});
        row("slack host as a prefix", u"https://hooks.slack.com.example.net/services/x", Generic);
        row("ends with slack's host", u"https://evilhooks.slack.com/services/x", Generic);
        row("logic apps workflow", u"https://prod-12.westus.logic.azure.com:443/workflows/abc", Teams);
        row("power platform workflow", u"https://default0123.ab.environment.api.powerplatform.com/flows/1",
            Teams);
        row("logic apps suffix without a dot", u"https://evillogic.azure.com/workflows/a", Generic);
        row("power platform look-alike", u"https://x.environment.api.powerplatform.com.example.org/a",
            Generic);
        row("google chat", u"https://chat.googleapis.com/v1/spaces/AAA/messages?key=k&token=t", GoogleChat);
        row("discord", u"https://discord.com/api/webhooks/123/token", Discord);
        row("discord's older host", u"https://discordapp.com/api/webhooks/123/token", Discord);
        row("discord outside webhooks", u"https://discord.com/channels/123/456", Generic);
    }
    void addresses() {
        QFETCH(QString, text);
        QFETCH(std::optional<WebhookKind>, kind);
        const std::optional<QUrl> url = validatedWebhookURL(text);
        QCOMPARE(url ? std::optional(Notifier::kind(*url)) : std::nullopt, kind);
    }
    // Defined below the class: moc reads the "//" of a URL in a raw string as a comment.
    void payloads_data();
    void payloads() {
        QFETCH(VisitorAlert, alert);
        QFETCH(WebhookKind, kind);
        QFETCH(QJsonObject, expected);
        const QJsonObject payload = Notifier::payload(alert, kind, english, QTimeZone::utc());
        QCOMPARE(payload, expected);
        // On the wire: compact, the keys of every object in sorted order.
        QCOMPARE(Notifier::body(payload), QJsonDocument(expected).toJson(QJsonDocument::Compact));
    }

    void retriesOnceAndRecordsTheOutcome_data() {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<PostResult>("expected");
        QTest::newRow("200 at once") << QList<int>{200} << PostResult();
        QTest::newRow("500 then 200") << QList<int>{500, 200} << PostResult();
        QTest::newRow("the second status is reported")
            << QList<int>{500, 503} << PostResult(NotifyError::http(503));
        QTest::newRow("a 3xx answer is no delivery")
            << QList<int>{300, 300} << PostResult(NotifyError::http(300));
    }
    void retriesOnceAndRecordsTheOutcome() {
        QFETCH(QList<int>, statuses);
        QFETCH(PostResult, expected);
        for (int status : statuses)
            m_f->server->enqueue(ScriptedAnswer::json(status, R"({"error":"nope"})"));
        // A third answer that must never be asked for.
        m_f->server->enqueue(ScriptedAnswer::json(200, "{}"));
        const QDateTime earlier = m_now.addDays(-1);
        m_f->preferences.setValue(Notifier::lastSuccessKey, earlier);
        m_f->preferences.setValue(Notifier::lastErrorKey, u"an older failure"_s);
        NotifierOptions options;
        options.locale = QLocale(QLocale::German, QLocale::Germany);
        options.timeZone = QTimeZone("Europe/Berlin");

        const auto outcome = awaitTask(makeNotifier(options).post(arrival, hook()));
        QVERIFY(outcome.finished);
        QCOMPARE(*outcome.value, expected);
        QCOMPARE(m_f->server->requestCount(), statuses.size());
        QCOMPARE(m_f->waits, statuses.size() == 2 ? QList{std::chrono::milliseconds(2s)}
                                                  : QList<std::chrono::milliseconds>());
        // Both attempts send the same request; a loopback address is no chat service, so it gets the generic
        // object, its time in the desk's style.
        for (const RecordedRequest &request : m_f->server->requests()) {
            QCOMPARE(request.method + ' ' + request.path + ' ' + request.header("Content-Type"),
                     "POST /hooks/desk application/json");
            QCOMPARE(request.body, Notifier::body(Notifier::payload(arrival, WebhookKind::Generic,
                                                                    options.locale, *options.timeZone)));
            QVERIFY(request.body.contains("Łukasz · 15:05"));
        }
        // A success stamps its time and clears the last error; a failure keeps the last success.
        const QString message = u"The service answered with error %1. Check the webhook URL."_s;
        QCOMPARE(m_f->preferences.value(Notifier::lastErrorKey),
                 expected ? QVariant(message.arg(statuses.constLast())) : QVariant());
        QCOMPARE(m_f->preferences.value(Notifier::lastSuccessKey).toDateTime(), expected ? earlier : m_now);
    }
    void transportFailuresAreNetworkErrors() {
        // A hanging endpoint, with the real timer this time, shortened.
        m_f->server->enqueue(ScriptedAnswer::hang());
        m_f->server->enqueue(ScriptedAnswer::hang());
        NotifierOptions options;
        options.transferTimeout = 200ms;
        options.retryDelay = 100ms;
        Notifier notifier(m_f->http, m_f->preferences, options);
        QElapsedTimer clock;
        clock.start();
        const auto hung = awaitTask(notifier.post(arrival, hook()), 5000);
        QVERIFY2(hung.finished, "the post never ended");
        QCOMPARE(*hung.value, PostResult(NotifyError::network(u"The request timed out."_s)));
        QCOMPARE(m_f->server->requestCount(), 2);
        QVERIFY2(clock.elapsed() >= 450, "both attempts and the pause between them, timers a little early");
        QCOMPARE(m_f->preferences.value(Notifier::lastErrorKey).toString(), u"The request timed out."_s);

        const QUrl closed = hook();
        m_f->server.reset();
        const auto refused = awaitTask(makeNotifier().post(arrival, closed));
        QVERIFY(refused.finished);
        QCOMPARE(*refused.value, PostResult(NotifyError::network(u"Could not connect to the server."_s)));
        QCOMPARE(m_f->waits.size(), 1);
    }
    void notifierMayGoAwayWhilePosting() {
        m_f->server->enqueue(ScriptedAnswer::json(500, "{}").delayedBy(100ms));
        m_f->server->enqueue(ScriptedAnswer::json(200, "{}"));
        auto outcome = start(makeNotifier().post(arrival, hook()));
        QVERIFY(m_f->server->waitForRequests(1));
        m_f->notifier.reset();
        QTRY_VERIFY(outcome->finished);
        QCOMPARE(*outcome->value, PostResult());
        QCOMPARE(m_f->server->requestCount(), 2);
        QCOMPARE(m_f->preferences.value(Notifier::lastSuccessKey).toDateTime(), m_now);
    }

private:
    [[nodiscard]] Notifier &makeNotifier(NotifierOptions options = {}) {
        // The retry's pause is recorded, not waited for.
        options.wait = [this](std::chrono::milliseconds delay) -> QCoro::Task<void> {
            m_f->waits.append(delay);
            co_return;
        };
        options.clock = [this] { return m_now; };
        m_f->notifier = std::make_unique<Notifier>(m_f->http, m_f->preferences, options);
        return *m_f->notifier;
    }
    [[nodiscard]] QUrl hook() const { return m_f->server->baseUrl().resolved(QUrl(u"/hooks/desk"_s)); }

    std::optional<Fixture> m_f;
    QDateTime m_now = QDateTime({2025, 3, 4}, {9, 5}, Qt::UTC);
};

void TestNotifier::payloads_data() {
    QTest::addColumn<VisitorAlert>("alert");
    QTest::addColumn<WebhookKind>("kind");
    QTest::addColumn<QJsonObject>("expected");
    // Visitor text that the chat services would read as mentions of everyone.
    const VisitorAlert pinging =
        alert(VisitorAlert::Event::SignIn, u"<!here> Zoë"_s,
              {{u"Company"_s, u"<@U1> & Acme"_s}, {u""_s, u"Blue badge"_s}}, u"Łukasz"_s);
    // Discord's alert names no host.
    VisitorAlert hostless = pinging;
    hostless.hostName.reset();
    // Signed out on a Berlin clock, with a fraction of a second.
    VisitorAlert departure =
        alert(VisitorAlert::Event::SignOut, u"Zoë"_s, {{u""_s, u"Blue badge"_s}}, u"Łukasz"_s);
    departure.date = QDateTime({2025, 3, 4}, {15, 5, 9, 870}, QTimeZone("Europe/Berlin"));

    QTest::newRow("slack escapes its control characters") << pinging << WebhookKind::Slack << json(R"({
        "text": "&lt;!here&gt; Zoë has arrived to see Łukasz · 2:05 PM\nCompany: &lt;@U1&gt; &amp; Acme\nAnswer: Blue badge",
        "blocks": [{"type": "section", "text": {"type": "mrkdwn", "text": "*&lt;!here&gt; Zoë has arrived to see Łukasz*"}},
            {"type": "section", "text": {"type": "mrkdwn", "text": "Company: &lt;@U1&gt; &amp; Acme\nAnswer: Blue badge"}},
            {"type": "context", "elements": [{"type": "mrkdwn", "text": "2:05 PM · Tallybrook"}]}]})");
    QTest::newRow("teams, answers as facts") << pinging << WebhookKind::Teams << json(R"({"type": "message",
        "attachments": [{"contentType": "application/vnd.microsoft.card.adaptive", "content": {
            "$schema": "http://adaptivecards.io/schemas/adaptive-card.json", "type": "AdaptiveCard", "version": "1.4",
            "body": [{"type": "TextBlock", "text": "<!here> Zoë has arrived to see Łukasz", "weight": "Bolder",
                      "size": "Medium", "wrap": true},
                     {"type": "FactSet", "facts": [{"title": "Company", "value": "<@U1> & Acme"},
                                                   {"title": "", "value": "Blue badge"}]},
                     {"type": "TextBlock", "text": "2:05 PM", "isSubtle": true, "spacing": "Small"}]}}]})");
    QTest::newRow("google chat breaks the mention markup")
        << pinging << WebhookKind::GoogleChat
        << json("{\"text\": \"<\u200B!here> Zoë has arrived to see Łukasz \u00B7 2:05 PM\\nCompany: "
                "<\u200B@U1> & Acme\\n"
                "Answer: Blue badge\"}");
    QTest::newRow("discord parses no mentions, no host") << hostless << WebhookKind::Discord << json(R"({
        "content": "<!here> Zoë has signed in · 2:05 PM\nCompany: <@U1> & Acme\nAnswer: Blue badge",
        "allowed_mentions": {"parse": []}})");
    QTest::newRow("generic sign-out: host kept, timestamp at UTC in whole seconds")
        << departure << WebhookKind::Generic
        << json(R"({"event": "sign_out", "visitor": "Zoë", "host": "Łukasz",
        "fields": [{"label": "", "value": "Blue badge"}], "timestamp": "2025-03-04T14:05:09Z",
        "text": "Zoë has signed out · 2:05 PM\nAnswer: Blue badge"})");
}

QTEST_GUILESS_MAIN(TestNotifier)

#include "tst_notifier.moc"
