#include "updates/UpdateChecker.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <qcoronetworkreply.h>

namespace tallybrook {

namespace {

struct DeleteLater {
    void operator()(QObject *object) const {
        if (object) {
            object->deleteLater();
        }
    }
};

} // namespace

UpdateChecker::UpdateChecker(QNetworkAccessManager &http, Options options, QObject *parent)
    : QObject(parent), m_http(http), m_options(std::move(options)) {
    // QTimer runs on the monotonic clock: a changed wall clock neither hurries nor delays the next check.
    m_timer.setInterval(m_options.interval);
    connect(&m_timer, &QTimer::timeout, this, &UpdateChecker::startCheck);
    m_timer.start();
    if (m_options.checkAtCreation) {
        startCheck();
    }
}

UpdateChecker::~UpdateChecker() {
    *m_alive = false;
}

QDateTime UpdateChecker::now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentDateTimeUtc();
}

void UpdateChecker::setDismissedVersion(const std::optional<QString> &version) {
    if (m_dismissedVersion != version) {
        m_dismissedVersion = version;
        Q_EMIT dismissedVersionChanged();
    }
}

std::optional<UpdateStatus> UpdateChecker::offeredUpdate() const {
    if (m_status.kind != UpdateStatus::Kind::Available || m_dismissedVersion == m_status.version) {
        return std::nullopt;
    }
    return m_status;
}

void UpdateChecker::applicationBecameActive() {
    if (m_lastCheck && m_lastCheck->secsTo(now()) > m_options.activationAge.count()) {
        startCheck();
    }
}

void UpdateChecker::startCheck() {
    // check() never throws; the task may be dropped.
    check();
}

QCoro::Task<void> UpdateChecker::check() {
    m_lastCheck = now();
    QNetworkRequest request(m_options.manifestURL);
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(int(m_options.timeout.count()));
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(m_http.get(request));
    const auto alive = m_alive;
    co_await reply.get();
    const bool transportFailed = int(reply->error()) > 0 && int(reply->error()) < 200;
    if (!*alive || transportFailed ||
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
        co_return;
    }
    const auto manifest = VersionManifest::fromJson(reply->readAll());
    if (!manifest) {
        co_return;
    }
    const UpdateStatus status = evaluate(*manifest, m_options.channel, m_options.runningVersion);
    if (status != m_status) {
        m_status = status;
        Q_EMIT statusChanged();
    }
}

UpdateStatus UpdateChecker::evaluate(const VersionManifest &manifest, Channel channel,
                                     const QString &runningVersion) {
    const auto &found = channel == Channel::Direct ? manifest.direct : manifest.appStore;
    if (!found || !found->hasOpenableDownloadURL()) {
        return {};
    }
    const QString running = runningVersion.isEmpty() ? QStringLiteral("0") : runningVersion;
    if (compareVersions(running, found->minimumVersion) < 0) {
        return {UpdateStatus::Kind::Required, found->latestVersion, found->downloadURL};
    }
    if (compareVersions(running, found->latestVersion) < 0) {
        return {UpdateStatus::Kind::Available, found->latestVersion, found->downloadURL};
    }
    return {};
}

UpdateChecker::Channel UpdateChecker::buildChannel() {
    return QStringLiteral(TALLYBROOK_CHANNEL_NAME) == u"store" ? Channel::AppStore : Channel::Direct;
}

} // namespace tallybrook
