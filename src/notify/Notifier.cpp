#include "notify/Notifier.h"

#include "platform/NetworkFailure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QStringView>
#include <qcoronetworkreply.h>
#include <qcorotimer.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

// The services' published webhook hosts.
constexpr QStringView slackHost = u"hooks.slack.com";
constexpr QStringView googleChatHost = u"chat.googleapis.com";
constexpr QStringView discordHosts[] = {u"discord.com", u"discordapp.com"};
constexpr QStringView discordWebhookPath = u"/api/webhooks";
// Teams workflows live on Logic Apps hosts (prod-00.westus.logic.azure.com) and on Power Platform
// environment hosts (default0123.ab.environment.api.powerplatform.com). The leading dot keeps a look-alike
// such as evillogic.azure.com out.
constexpr QStringView teamsHostSuffixes[] = {u".logic.azure.com", u".environment.api.powerplatform.com"};

const QString adaptiveCardSchema = u"http://adaptivecards.io/schemas/adaptive-card.json"_s;

// Slack reads "<!channel>", "<@U123>" and "<https://…|label>" in any text as mentions and links; a visitor's
// name or answer must never ping a whole channel. Slack's own escaping is exactly these three entities.
QString slackEscaped(QString text) {
    text.replace(u'&', u"&amp;"_s);
    text.replace(u'<', u"&lt;"_s);
    text.replace(u'>', u"&gt;"_s);
    return text;
}

// Google Chat reads "<users/all>" as a mention of everyone and has no escape; a zero-width space after each
// "<" keeps the text as it looks and stops the markup.
QString googleChatDefused(QString text) {
    text.replace(u'<', u"<\u200B"_s);
    return text;
}

QJsonObject mrkdwn(const QString &text) {
    return {{u"type"_s, u"mrkdwn"_s}, {u"text"_s, text}};
}

QJsonObject slackPayload(const VisitorAlert &alert, const QString &fullText, const QString &time) {
    QJsonArray blocks;
    blocks.append(QJsonObject{{u"type"_s, u"section"_s},
                              {u"text"_s, mrkdwn(u"*"_s + slackEscaped(alert.summary()) + u"*"_s)}});
    if (!alert.answers.isEmpty()) {
        blocks.append(QJsonObject{{u"type"_s, u"section"_s},
                                  {u"text"_s, mrkdwn(slackEscaped(alert.answerLines().join(u'\n')))}});
    }
    blocks.append(QJsonObject{{u"type"_s, u"context"_s},
                              {u"elements"_s, QJsonArray{mrkdwn(time + u" · Tallybrook"_s)}}});
    return {{u"text"_s, slackEscaped(fullText)}, {u"blocks"_s, blocks}};
}

QJsonObject teamsPayload(const VisitorAlert &alert, const QString &time) {
    QJsonArray body;
    body.append(QJsonObject{{u"type"_s, u"TextBlock"_s},
                            {u"text"_s, alert.summary()},
                            {u"weight"_s, u"Bolder"_s},
                            {u"size"_s, u"Medium"_s},
                            {u"wrap"_s, true}});
    if (!alert.answers.isEmpty()) {
        QJsonArray facts;
        for (const VisitorAnswer &answer : alert.answers)
            facts.append(QJsonObject{{u"title"_s, answer.label}, {u"value"_s, answer.value}});
        body.append(QJsonObject{{u"type"_s, u"FactSet"_s}, {u"facts"_s, facts}});
    }
    body.append(QJsonObject{
        {u"type"_s, u"TextBlock"_s}, {u"text"_s, time}, {u"isSubtle"_s, true}, {u"spacing"_s, u"Small"_s}});
    const QJsonObject card{{u"$schema"_s, adaptiveCardSchema},
                           {u"type"_s, u"AdaptiveCard"_s},
                           {u"version"_s, u"1.4"_s},
                           {u"body"_s, body}};
    const QJsonObject attachment{{u"contentType"_s, u"application/vnd.microsoft.card.adaptive"_s},
                                 {u"content"_s, card}};
    return {{u"type"_s, u"message"_s}, {u"attachments"_s, QJsonArray{attachment}}};
}

QJsonObject genericPayload(const VisitorAlert &alert, const QString &fullText) {
    QJsonArray fields;
    for (const VisitorAnswer &answer : alert.answers)
        fields.append(answer.toJson());
    QJsonObject payload{{u"event"_s, eventText(alert.event)},
                        {u"visitor"_s, alert.visitorName},
                        {u"fields"_s, fields},
                        {u"timestamp"_s, alert.date.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s)},
                        {u"text"_s, fullText}};
    if (alert.hostName)
        payload.insert(u"host"_s, *alert.hostName);
    return payload;
}

using platform::isTransportError;
using platform::transportFailureText;

std::optional<NotifyError> outcomeOf(const QNetworkReply &reply) {
    if (isTransportError(reply.error()))
        return NotifyError::network(transportFailureText(reply));
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status <= 0) {
        if (reply.error() != QNetworkReply::NoError)
            return NotifyError::network(transportFailureText(reply));
        return NotifyError::network(u"No response"_s);
    }
    if (status >= 200 && status <= 299)
        return std::nullopt;
    return NotifyError::http(status);
}

struct DeleteLater {
    void operator()(QObject *object) const {
        if (object)
            object->deleteLater();
    }
};

QCoro::Task<std::optional<NotifyError>> attempt(QPointer<QNetworkAccessManager> http, QNetworkRequest request,
                                                QByteArray body) {
    if (!http) {
        std::optional<NotifyError> gone = NotifyError::network(u"No response"_s);
        co_return gone;
    }
    std::unique_ptr<QNetworkReply, DeleteLater> reply(http->post(request, body));
    QNetworkReply *raw = reply.get();
    // The answer's body is never read; dropping it as it arrives keeps a chatty endpoint from filling memory.
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw] { raw->readAll(); });
    co_await raw;
    std::optional<NotifyError> outcome = outcomeOf(*raw);
    co_return outcome;
}

// Everything one post needs, copied out of the Notifier so the task never reaches back into it.
struct Delivery {
    QPointer<QNetworkAccessManager> http;
    QPointer<QSettings> preferences;
    QNetworkRequest request;
    QByteArray body;
    std::chrono::milliseconds retryDelay;
    NotifierOptions::Wait wait;
    NotifierOptions::Clock clock;
};

QCoro::Task<std::optional<NotifyError>> deliver(Delivery delivery) {
    std::optional<NotifyError> outcome = co_await attempt(delivery.http, delivery.request, delivery.body);
    if (outcome) {
        try {
            co_await delivery.wait(delivery.retryDelay);
        } catch (...) {
            // An interrupted wait still leads to the second attempt, at once.
        }
        outcome = co_await attempt(delivery.http, delivery.request, delivery.body);
    }
    if (delivery.preferences) {
        if (outcome) {
            delivery.preferences->setValue(Notifier::lastErrorKey, outcome->message());
        } else {
            delivery.preferences->setValue(Notifier::lastSuccessKey, delivery.clock());
            delivery.preferences->remove(Notifier::lastErrorKey);
        }
    }
    co_return outcome;
}

} // namespace

Notifier::Notifier(QNetworkAccessManager &http, QSettings &preferences, NotifierOptions options)
    : m_http(http), m_preferences(preferences), m_options(std::move(options)) {
    if (!m_options.wait)
        m_options.wait = [](std::chrono::milliseconds delay) { return QCoro::sleepFor(delay); };
    if (!m_options.clock)
        m_options.clock = [] { return QDateTime::currentDateTimeUtc(); };
}

QCoro::Task<std::optional<NotifyError>> Notifier::post(VisitorAlert alert, QUrl webhook) const {
    Delivery delivery;
    delivery.http = &m_http;
    delivery.preferences = &m_preferences;
    delivery.request = QNetworkRequest(webhook);
    delivery.request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    delivery.request.setTransferTimeout(int(m_options.transferTimeout.count()));
    delivery.body = body(payload(alert, kind(webhook), m_options.locale,
                                 m_options.timeZone.value_or(QTimeZone::systemTimeZone())));
    delivery.retryDelay = m_options.retryDelay;
    delivery.wait = m_options.wait;
    delivery.clock = m_options.clock;
    return deliver(std::move(delivery));
}

WebhookKind Notifier::kind(const QUrl &webhook) {
    const QString host = webhook.host(QUrl::FullyEncoded).toLower();
    if (host == slackHost)
        return WebhookKind::Slack;
    for (const QStringView suffix : teamsHostSuffixes) {
        if (host.endsWith(suffix))
            return WebhookKind::Teams;
    }
    if (host == googleChatHost)
        return WebhookKind::GoogleChat;
    for (const QStringView discordHost : discordHosts) {
        if (host == discordHost) {
            return webhook.path(QUrl::FullyEncoded).startsWith(discordWebhookPath) ? WebhookKind::Discord
                                                                                   : WebhookKind::Generic;
        }
    }
    return WebhookKind::Generic;
}

QJsonObject Notifier::payload(const VisitorAlert &alert, WebhookKind kind, const QLocale &locale,
                              const QTimeZone &zone) {
    const QString time = alert.time(locale, zone);
    const QString fullText = alert.fullText(locale, zone);
    switch (kind) {
    case WebhookKind::Slack:
        return slackPayload(alert, fullText, time);
    case WebhookKind::Teams:
        return teamsPayload(alert, time);
    case WebhookKind::GoogleChat:
        return {{u"text"_s, googleChatDefused(fullText)}};
    case WebhookKind::Discord:
        // An empty "parse" list: no name or answer in the text turns into a mention.
        return {{u"content"_s, fullText}, {u"allowed_mentions"_s, QJsonObject{{u"parse"_s, QJsonArray()}}}};
    case WebhookKind::Generic:
        break;
    }
    return genericPayload(alert, fullText);
}

QByteArray Notifier::body(const QJsonObject &payload) {
    // QJsonObject keeps its keys sorted, so the compact form is already in key order.
    return QJsonDocument(payload).toJson(QJsonDocument::Compact);
}

} // namespace tallybrook
