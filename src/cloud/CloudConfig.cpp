#include "cloud/CloudConfig.h"

#include <QHostAddress>
#include <QLoggingCategory>

namespace tallybrook {

Q_LOGGING_CATEGORY(lcConfig, "tallybrook.config")

namespace {

bool isLoopbackHost(const QString &host) {
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString environmentText(const char *name) {
    return qEnvironmentVariable(name).trimmed();
}

QUrl baseURLFromEnvironment(const char *name, const QString &fallback) {
    const QString text = environmentText(name);
    if (!text.isEmpty()) {
        if (auto url = CloudConfig::acceptedBaseURL(text)) {
            return *url;
        }
        qCWarning(lcConfig) << name << "is not an https URL (plain http only on this computer); ignored";
    }
    return CloudConfig::acceptedBaseURL(fallback).value_or(QUrl());
}

} // namespace

std::optional<QUrl> CloudConfig::acceptedBaseURL(const QString &text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !url.userInfo().isEmpty()) {
        return std::nullopt;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https" || (scheme == u"http" && isLoopbackHost(url.host()))) {
        return url;
    }
    return std::nullopt;
}

CloudConfig CloudConfig::fromEnvironment() {
    CloudConfig config;
    config.backendURL =
        baseURLFromEnvironment("TALLYBROOK_BACKEND_URL", QStringLiteral(TALLYBROOK_DEFAULT_BACKEND_URL));
    config.websiteURL =
        baseURLFromEnvironment("TALLYBROOK_WEBSITE_URL", QStringLiteral(TALLYBROOK_DEFAULT_WEBSITE_URL));
    const QString key = environmentText("TALLYBROOK_PUBLISHABLE_KEY");
    config.publishableKey = key.isEmpty() ? QStringLiteral(TALLYBROOK_DEFAULT_PUBLISHABLE_KEY) : key;
    return config;
}

QUrl CloudConfig::pageURL(const QString &path) const {
    return appendingPath(websiteURL, path);
}

QUrl appendingPath(const QUrl &base, const QString &path) {
    QString joined = base.path();
    while (joined.endsWith(u'/')) {
        joined.chop(1);
    }
    QStringView tail(path);
    while (tail.startsWith(u'/')) {
        tail = tail.mid(1);
    }
    QUrl url = base;
    url.setPath(joined + u'/' + tail);
    return url;
}

} // namespace tallybrook
