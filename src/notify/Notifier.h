#pragma once

#include "notify/NotifyError.h"
#include "notify/VisitorAlert.h"
#include "notify/Webhook.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <QUrl>
#include <QtGlobal>
#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QSettings;

namespace tallybrook {

// What a Notifier needs besides the network and the preferences; tests shorten the waits and fix the clock.
struct NotifierOptions {
    using Wait = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;
    using Clock = std::function<QDateTime()>;

    std::chrono::milliseconds transferTimeout{10'000};
    std::chrono::milliseconds retryDelay{2'000};
    // Suspends for the retry delay; by default a single-shot QTimer, which runs on the monotonic clock.
    Wait wait;
    // Stamps NotifyLastSuccess; by default the current time.
    Clock clock;
    // The alert's time of day is written in these; without a zone, in the computer's zone at each alert.
    QLocale locale;
    std::optional<QTimeZone> timeZone;
};

// Formats one VisitorAlert for the chat service behind a webhook address and delivers it.
class Notifier final {
public:
    Notifier(QNetworkAccessManager &http, QSettings &preferences, NotifierOptions options = {});
    Q_DISABLE_COPY_MOVE(Notifier)

    // Posts the alert, retrying once after the retry delay: nothing when it was delivered, else why not.
    // Never throws. Records the outcome under lastSuccessKey / lastErrorKey. The task holds nothing of this
    // Notifier, so it may go away while posts are in flight; the network manager and the preferences must
    // not.
    [[nodiscard]] QCoro::Task<std::optional<NotifyError>> post(VisitorAlert alert, QUrl webhook) const;

    [[nodiscard]] static WebhookKind kind(const QUrl &webhook);
    [[nodiscard]] static QJsonObject payload(const VisitorAlert &alert, WebhookKind kind,
                                             const QLocale &locale = QLocale(),
                                             const QTimeZone &zone = QTimeZone::systemTimeZone());
    // Compact JSON, the keys of every object in sorted order.
    [[nodiscard]] static QByteArray body(const QJsonObject &payload);

    // The date of the latest delivery that succeeded.
    static constexpr QLatin1StringView lastSuccessKey{"NotifyLastSuccess"};
    // The message of the latest delivery that failed; removed by the next success.
    static constexpr QLatin1StringView lastErrorKey{"NotifyLastError"};

private:
    QNetworkAccessManager &m_http;
    QSettings &m_preferences;
    NotifierOptions m_options;
};

} // namespace tallybrook
