#include "notify/Notifier.h"
#include "notify/VisitorAlert.h"
#include "notify/Webhook.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tallybrook;

Q_DECLARE_METATYPE(tallybrook::VisitorAlert)
Q_DECLARE_METATYPE(tallybrook::WebhookKind)
Q_DECLARE_METATYPE(std::optional<QUrl>)

// What an alert looks like to each chat service, and which service an address belongs to.
class TestNotifyPayloads : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void validatesWebhookURLs_data();
    void validatesWebhookURLs();
    void tellsTheServiceFromTheAddress_data();
    void tellsTheServiceFromTheAddress();
    void timeFollowsTheDesksLocaleAndZone();
    void payloads_data();
    void payloads();
    void mentionsInVisitorTextStayInert_data();
    void mentionsInVisitorTextStayInert();
    void bodyIsCompactWithSortedKeys();
};

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QDateTime at1405 = QDateTime({2025, 3, 4}, {14, 5, 9}, Qt::UTC);

VisitorAlert alert(VisitorAlert::Event event, QString name, QList<VisitorAnswer> answers,
                   std::optional<QString> host) {
    return {event, std::move(name), std::move(answers), std::move(host), at1405};
}

// Zoë came to see Łukasz and answered two questions, one of them without a label.
const VisitorAlert arrival = alert(VisitorAlert::Event::SignIn, u"Zoë Quinn"_s,
                                   {{u"Company"_s, u"Acme"_s}, {u""_s, u"Blue badge"_s}}, u"Łukasz"_s);
const VisitorAlert bareSignIn = alert(VisitorAlert::Event::SignIn, u"Sam"_s, {}, std::nullopt);
const VisitorAlert departure =
    alert(VisitorAlert::Event::SignOut, u"Zoë Quinn"_s, {{u""_s, u"Blue badge"_s}}, u"Łukasz"_s);

QJsonObject json(const char *text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad expected JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

} // namespace

void TestNotifyPayloads::validatesWebhookURLs_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<QUrl>>("expected");

    const QUrl slack(u"https://hooks.slack.com/services/T0/B0/x"_s);
    QTest::newRow("https with host") << slack.toString() << std::optional(slack);
    QTest::newRow("blanks and line breaks trimmed")
        << u"  \n" + slack.toString() + u"\t\r\n"_s << std::optional(slack);
    QTest::newRow("scheme in capitals") << u"HTTPS://hooks.slack.com/services/T0/B0/x"_s
                                        << std::optional(QUrl(u"https://hooks.slack.com/services/T0/B0/x"_s));
    QTest::newRow("http refused") << u"http://hooks.slack.com/services/T0/B0/x"_s << std::optional<QUrl>();
    QTest::newRow("no host") << u"https:///services/x"_s << std::optional<QUrl>();
    QTest::newRow("no scheme") << u"hooks.slack.com/services/x"_s << std::optional<QUrl>();
    QTest::newRow("other scheme") << u"ftp://example.com/hook"_s << std::optional<QUrl>();
    QTest::newRow("empty") << u""_s << std::optional<QUrl>();
    QTest::newRow("space inside") << u"https://exa mple.com/hook"_s << std::optional<QUrl>();
}

void TestNotifyPayloads::validatesWebhookURLs() {
    QFETCH(QString, text);
    QFETCH(std::optional<QUrl>, expected);
    QCOMPARE(validatedWebhookURL(text), expected);
}

void TestNotifyPayloads::tellsTheServiceFromTheAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<WebhookKind>("expected");

    const auto row = [](const char *name, const QString &address, WebhookKind kind) {
        QTest::newRow(name) << address << kind;
    };
    row("slack", u"https://hooks.slack.com/services/T0/B0/x"_s, WebhookKind::Slack);
    row("slack in capitals", u"https://HOOKS.Slack.COM/services/T0/B0/x"_s, WebhookKind::Slack);
    row("slack host as a prefix", u"https://hooks.slack.com.example.net/services/x"_s, WebhookKind::Generic);
    row("ends with slack's host", u"https://evilhooks.slack.com/services/x"_s, WebhookKind::Generic);
    row("other slack host", u"https://slack.com/services/x"_s, WebhookKind::Generic);
    row("logic apps workflow",
        u"https://prod-12.westus.logic.azure.com:443/workflows/abc/triggers/manual/paths/invoke"_s,
        WebhookKind::Teams);
    row("power platform workflow",
        u"https://default0123.ab.environment.api.powerplatform.com:443/powerautomate/automations/direct/workflows/1"_s,
        WebhookKind::Teams);
    row("logic apps in capitals", u"https://PROD-1.WESTUS.LOGIC.AZURE.COM/workflows/a"_s, WebhookKind::Teams);
    row("logic apps suffix without a dot", u"https://evillogic.azure.com/workflows/a"_s,
        WebhookKind::Generic);
    row("logic apps domain itself", u"https://logic.azure.com/workflows/a"_s, WebhookKind::Generic);
    row("power platform look-alike", u"https://x.environment.api.powerplatform.com.example.org/a"_s,
        WebhookKind::Generic);
    row("google chat", u"https://chat.googleapis.com/v1/spaces/AAA/messages?key=k&token=t"_s,
        WebhookKind::GoogleChat);
    row("google chat subdomain", u"https://x.chat.googleapis.com/v1/spaces/AAA/messages"_s,
        WebhookKind::Generic);
    row("discord", u"https://discord.com/api/webhooks/123/token"_s, WebhookKind::Discord);
    row("discord's older host", u"https://discordapp.com/api/webhooks/123/token"_s, WebhookKind::Discord);
    row("discord in capitals", u"https://Discord.com/api/webhooks/123/token"_s, WebhookKind::Discord);
    row("discord outside webhooks", u"https://discord.com/channels/123/456"_s, WebhookKind::Generic);
    row("discord path in capitals", u"https://discord.com/API/webhooks/123/token"_s, WebhookKind::Generic);
    row("discord subdomain", u"https://canary.discord.com/api/webhooks/123/token"_s, WebhookKind::Generic);
    row("anything else", u"https://example.com/hooks/desk"_s, WebhookKind::Generic);
}

void TestNotifyPayloads::tellsTheServiceFromTheAddress() {
    QFETCH(QString, address);
    QFETCH(WebhookKind, expected);
    QCOMPARE(Notifier::kind(QUrl(address)), expected);
}

void TestNotifyPayloads::timeFollowsTheDesksLocaleAndZone() {
    QCOMPARE(bareSignIn.fullText(QLocale(QLocale::German, QLocale::Germany), QTimeZone("Europe/Berlin")),
             u"Sam has signed in · 15:05"_s);
}

void TestNotifyPayloads::payloads_data() {
    QTest::addColumn<VisitorAlert>("alert");
    QTest::addColumn<WebhookKind>("kind");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("slack, answers and host") << arrival << WebhookKind::Slack << json(R"({
        "text": "Zoë Quinn has arrived to see Łukasz · 2:05 PM\nCompany: Acme\nAnswer: Blue badge",
        "blocks": [
            {"type": "section", "text": {"type": "mrkdwn", "text": "*Zoë Quinn has arrived to see Łukasz*"}},
            {"type": "section", "text": {"type": "mrkdwn", "text": "Company: Acme\nAnswer: Blue badge"}},
            {"type": "context", "elements": [{"type": "mrkdwn", "text": "2:05 PM · Tallybrook"}]}]})");
    QTest::newRow("slack, no answers: two blocks") << bareSignIn << WebhookKind::Slack << json(R"({
        "text": "Sam has signed in · 2:05 PM",
        "blocks": [
            {"type": "section", "text": {"type": "mrkdwn", "text": "*Sam has signed in*"}},
            {"type": "context", "elements": [{"type": "mrkdwn", "text": "2:05 PM · Tallybrook"}]}]})");

    QTest::newRow("teams, answers and host") << arrival << WebhookKind::Teams << json(R"({
        "type": "message",
        "attachments": [{"contentType": "application/vnd.microsoft.card.adaptive", "content": {
            "$schema": "http://adaptivecards.io/schemas/adaptive-card.json",
            "type": "AdaptiveCard", "version": "1.4",
            "body": [
                {"type": "TextBlock", "text": "Zoë Quinn has arrived to see Łukasz", "weight": "Bolder",
                 "size": "Medium", "wrap": true},
                {"type": "FactSet", "facts": [{"title": "Company", "value": "Acme"},
                                              {"title": "", "value": "Blue badge"}]},
                {"type": "TextBlock", "text": "2:05 PM", "isSubtle": true, "spacing": "Small"}]}}]})");
    QTest::newRow("teams, no answers: no fact set") << bareSignIn << WebhookKind::Teams << json(R"({
        "type": "message",
        "attachments": [{"contentType": "application/vnd.microsoft.card.adaptive", "content": {
            "$schema": "http://adaptivecards.io/schemas/adaptive-card.json",
            "type": "AdaptiveCard", "version": "1.4",
            "body": [
                {"type": "TextBlock", "text": "Sam has signed in", "weight": "Bolder", "size": "Medium",
                 "wrap": true},
                {"type": "TextBlock", "text": "2:05 PM", "isSubtle": true, "spacing": "Small"}]}}]})");

    QTest::newRow("google chat, answers and host") << arrival << WebhookKind::GoogleChat << json(R"({
        "text": "Zoë Quinn has arrived to see Łukasz · 2:05 PM\nCompany: Acme\nAnswer: Blue badge"})");
    QTest::newRow("google chat, no answers")
        << bareSignIn << WebhookKind::GoogleChat << json(R"({"text": "Sam has signed in · 2:05 PM"})");

    QTest::newRow("discord, answers and host") << arrival << WebhookKind::Discord << json(R"({
        "content": "Zoë Quinn has arrived to see Łukasz · 2:05 PM\nCompany: Acme\nAnswer: Blue badge",
        "allowed_mentions": {"parse": []}})");
    QTest::newRow("discord, no answers") << bareSignIn << WebhookKind::Discord << json(R"({
        "content": "Sam has signed in · 2:05 PM", "allowed_mentions": {"parse": []}})");

    QTest::newRow("generic, answers and host") << arrival << WebhookKind::Generic << json(R"({
        "event": "sign_in", "visitor": "Zoë Quinn",
        "fields": [{"label": "Company", "value": "Acme"}, {"label": "", "value": "Blue badge"}],
        "timestamp": "2025-03-04T14:05:09Z",
        "text": "Zoë Quinn has arrived to see Łukasz · 2:05 PM\nCompany: Acme\nAnswer: Blue badge",
        "host": "Łukasz"})");
    QTest::newRow("generic, no answers, no host") << bareSignIn << WebhookKind::Generic << json(R"({
        "event": "sign_in", "visitor": "Sam", "fields": [], "timestamp": "2025-03-04T14:05:09Z",
        "text": "Sam has signed in · 2:05 PM"})");
    QTest::newRow("generic, sign-out keeps the host") << departure << WebhookKind::Generic << json(R"({
        "event": "sign_out", "visitor": "Zoë Quinn", "fields": [{"label": "", "value": "Blue badge"}],
        "timestamp": "2025-03-04T14:05:09Z",
        "text": "Zoë Quinn has signed out · 2:05 PM\nAnswer: Blue badge", "host": "Łukasz"})");

    VisitorAlert fromBerlin = bareSignIn;
    fromBerlin.date = QDateTime({2025, 3, 4}, {15, 5, 9, 870}, QTimeZone("Europe/Berlin"));
    QTest::newRow("generic, timestamp at UTC in whole seconds")
        << fromBerlin << WebhookKind::Generic << json(R"({
        "event": "sign_in", "visitor": "Sam", "fields": [], "timestamp": "2025-03-04T14:05:09Z",
        "text": "Sam has signed in · 2:05 PM"})");
}

void TestNotifyPayloads::payloads() {
    QFETCH(VisitorAlert, alert);
    QFETCH(WebhookKind, kind);
    QFETCH(QJsonObject, expected);
    const QJsonObject payload = Notifier::payload(alert, kind, english, QTimeZone::utc());
    QCOMPARE(payload, expected);
    // What goes on the wire reads back as the same object.
    QCOMPARE(QJsonDocument::fromJson(Notifier::body(payload)).object(), expected);
}

void TestNotifyPayloads::mentionsInVisitorTextStayInert_data() {
    QTest::addColumn<WebhookKind>("kind");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("slack escapes its control characters") << WebhookKind::Slack << json(R"({
        "text": "&lt;!channel&gt; &amp; co has signed in · 2:05 PM\nNote: &lt;@U123&gt;",
        "blocks": [
            {"type": "section", "text": {"type": "mrkdwn", "text": "*&lt;!channel&gt; &amp; co has signed in*"}},
            {"type": "section", "text": {"type": "mrkdwn", "text": "Note: &lt;@U123&gt;"}},
            {"type": "context", "elements": [{"type": "mrkdwn", "text": "2:05 PM · Tallybrook"}]}]})");
    QTest::newRow("google chat breaks the mention markup")
        << WebhookKind::GoogleChat
        << json("{\"text\": \"<\u200B!channel> & co has signed in \u00B7 2:05 PM\\nNote: <\u200B@U123>\"}");
    QTest::newRow("discord parses no mentions") << WebhookKind::Discord << json(R"({
        "content": "<!channel> & co has signed in · 2:05 PM\nNote: <@U123>",
        "allowed_mentions": {"parse": []}})");
}

void TestNotifyPayloads::mentionsInVisitorTextStayInert() {
    QFETCH(WebhookKind, kind);
    QFETCH(QJsonObject, expected);
    const VisitorAlert pinging =
        alert(VisitorAlert::Event::SignIn, u"<!channel> & co"_s, {{u"Note"_s, u"<@U123>"_s}}, std::nullopt);
    QCOMPARE(Notifier::payload(pinging, kind, english, QTimeZone::utc()), expected);
}

void TestNotifyPayloads::bodyIsCompactWithSortedKeys() {
    const QByteArray body =
        Notifier::body(Notifier::payload(bareSignIn, WebhookKind::Teams, english, QTimeZone::utc()));
    // Built outside QCOMPARE: moc reads the "//" of a URL inside a macro's raw string as a comment.
    const QByteArray expected(
        R"({"attachments":[{"content":{"$schema":"http://adaptivecards.io/schemas/)"
        R"(adaptive-card.json","body":[{"size":"Medium","text":"Sam has signed in",)"
        R"("type":"TextBlock","weight":"Bolder","wrap":true},{"isSubtle":true,)"
        R"("spacing":"Small","text":"2:05 PM","type":"TextBlock"}],"type":"AdaptiveCard",)"
        R"("version":"1.4"},"contentType":"application/vnd.microsoft.card.adaptive"}],)"
        R"("type":"message"})");
    QCOMPARE(body, expected);
}

QTEST_GUILESS_MAIN(TestNotifyPayloads)

#include "tst_notifypayloads.moc"
