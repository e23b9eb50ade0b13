#pragma once

#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace tallybrook {

// Where the desk's backend and website live, and how long each kind of request may take.
struct CloudConfig {
    QUrl backendURL;
    QString publishableKey;
    QUrl websiteURL;

    std::chrono::milliseconds publicAuthTimeout{15'000};
    std::chrono::milliseconds authorizedTimeout{30'000};
    std::chrono::milliseconds signOutTimeout{10'000};

    // The build's defaults, overridden by TALLYBROOK_BACKEND_URL, TALLYBROOK_PUBLISHABLE_KEY and
    // TALLYBROOK_WEBSITE_URL. An override that is not an acceptable base URL is ignored with a warning.
    [[nodiscard]] static CloudConfig fromEnvironment();

    // https anywhere; plain http only for this computer (localhost, 127.0.0.0/8, ::1), so tokens never
    // cross a network in the clear.
    [[nodiscard]] static std::optional<QUrl> acceptedBaseURL(const QString &text);

    // A website page such as "support" or "guides/kiosk-setup".
    [[nodiscard]] QUrl pageURL(const QString &path) const;
};

// Appends path segments to a base URL with exactly one "/" at each joint; "/" inside a path is kept.
[[nodiscard]] QUrl appendingPath(const QUrl &base, const QString &path);

} // namespace tallybrook
