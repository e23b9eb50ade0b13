#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tallybrook {

// The chat service behind a webhook address; each takes its own JSON shape.
enum class WebhookKind { Slack, Teams, GoogleChat, Discord, Generic };

// The one rule for a usable webhook address: trimmed, https (any letter case), with a host. Anything else is
// nothing, so an address that would send visitor details in the clear is never stored or used.
[[nodiscard]] std::optional<QUrl> validatedWebhookURL(const QString &text);

} // namespace tallybrook
