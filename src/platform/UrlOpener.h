#pragma once

#include <QUrl>
#include <QtGlobal>

namespace tallybrook::platform {

// Opens a web address in the person's default browser. Views hold this interface so that tests record the
// address instead of starting a browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    Q_DISABLE_COPY_MOVE(UrlOpener)

    // Whether the platform took the address; there is nothing the desk could do about a refusal.
    virtual bool openUrl(const QUrl &url) = 0;

protected:
    UrlOpener() = default;
};

// The desktop's browser, through QDesktopServices.
class DesktopUrlOpener final : public UrlOpener {
public:
    DesktopUrlOpener() = default;

    bool openUrl(const QUrl &url) override;
};

} // namespace tallybrook::platform
