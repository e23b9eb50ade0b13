#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace tallybrook::platform {
class UrlOpener;
}

namespace tallybrook::ui {

// The screen that replaces a window's content while the running version is no longer supported: it offers
// the download (Return) and quitting, and nothing else.
class UpdateRequiredView final : public QWidget {
    Q_OBJECT

public:
    UpdateRequiredView(QString runningVersion, platform::UrlOpener &urlOpener, std::function<void()> quit,
                       QWidget *parent = nullptr);

    void setUpdate(const QString &version, const QUrl &url);
    [[nodiscard]] const QString &version() const { return m_version; }
    [[nodiscard]] const QUrl &url() const { return m_url; }

    void download();

    // "This version of Tallybrook (1.0) is no longer supported. Download version 2.0 to keep signing in
    // visitors."
    [[nodiscard]] static QString message(const QString &runningVersion, const QString &version);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QString m_runningVersion;
    platform::UrlOpener &m_urlOpener;
    std::function<void()> m_quit;
    QString m_version;
    QUrl m_url;
    QLabel *m_message;
    QPushButton *m_download;
};

} // namespace tallybrook::ui
