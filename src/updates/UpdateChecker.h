#pragma once

#include "updates/VersionManifest.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace tallybrook {

struct UpdateStatus {
    enum class Kind { UpToDate, Available, Required };
    Kind kind = Kind::UpToDate;
    QString version; // Available and Required: the channel's latest version
    QUrl url;

    friend bool operator==(const UpdateStatus &, const UpdateStatus &) = default;
};

// Asks the website which versions exist, at creation, every six hours and when the desk becomes active
// after an hour without a check. Every failure is silent and leaves the status as it was.
class UpdateChecker final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRequired READ isRequired NOTIFY statusChanged)

public:
    enum class Channel { Direct, AppStore };
    using Clock = std::function<QDateTime()>;

    struct Options {
        QUrl manifestURL;
        QString runningVersion;
        Channel channel = Channel::Direct;
        std::chrono::milliseconds timeout{15'000};
        std::chrono::milliseconds interval{21'600'000};
        std::chrono::seconds activationAge{3'600};
        bool checkAtCreation = true;
        Clock clock;
    };

    UpdateChecker(QNetworkAccessManager &http, Options options, QObject *parent = nullptr);
    ~UpdateChecker() override;
    Q_DISABLE_COPY_MOVE(UpdateChecker)

    [[nodiscard]] const UpdateStatus &status() const { return m_status; }
    [[nodiscard]] bool isRequired() const { return m_status.kind == UpdateStatus::Kind::Required; }
    [[nodiscard]] const std::optional<QString> &dismissedVersion() const { return m_dismissedVersion; }
    void setDismissedVersion(const std::optional<QString> &version);
    [[nodiscard]] const std::optional<QDateTime> &lastCheck() const { return m_lastCheck; }

    // The available version and its address, unless the person closed that very offer.
    [[nodiscard]] std::optional<UpdateStatus> offeredUpdate() const;

    QCoro::Task<void> check();

    // The status a manifest gives the running version on a channel; up to date when that channel's download
    // link may not be opened.
    [[nodiscard]] static UpdateStatus evaluate(const VersionManifest &manifest, Channel channel,
                                               const QString &runningVersion);
    // The channel of this build: direct unless built for the store.
    [[nodiscard]] static Channel buildChannel();

public Q_SLOTS:
    // Connected to the platform's notice that the application became active.
    void applicationBecameActive();

Q_SIGNALS:
    void statusChanged();
    void dismissedVersionChanged();

private:
    void startCheck();
    [[nodiscard]] QDateTime now() const;

    QNetworkAccessManager &m_http;
    Options m_options;
    UpdateStatus m_status;
    std::optional<QString> m_dismissedVersion;
    std::optional<QDateTime> m_lastCheck;
    QTimer m_timer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace tallybrook
