#include "notify/Webhook.h"

using namespace Qt::StringLiterals;

namespace tallybrook {

std::optional<QUrl> validatedWebhookURL(const QString &text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"https"_s, Qt::CaseInsensitive) != 0 || url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace tallybrook
