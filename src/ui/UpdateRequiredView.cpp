#include "ui/UpdateRequiredView.h"

#include "platform/UrlOpener.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

UpdateRequiredView::UpdateRequiredView(QString runningVersion, platform::UrlOpener &urlOpener,
                                       std::function<void()> quit, QWidget *parent)
    : QWidget(parent), m_runningVersion(std::move(runningVersion)), m_urlOpener(urlOpener),
      m_quit(std::move(quit)), m_message(new QLabel(this)), m_download(new QPushButton(this)) {
    setObjectName(u"updateRequiredView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(16);
    layout->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setObjectName(u"updateRequiredIcon"_s);
    icon->setPixmap(
        tintedSymbol(u"arrow.down.circle", QSize(56, 56), accentColor(palette()), devicePixelRatioF()));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *title = new QLabel(u"Update Required"_s, this);
    title->setObjectName(u"updateRequiredTitle"_s);
    setTextStyle(title, TextStyle::Title, QFont::Bold);
    layout->addWidget(title, 0, Qt::AlignHCenter);

    m_message->setObjectName(u"updateRequiredMessage"_s);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignHCenter);
    m_message->setTextFormat(Qt::PlainText);
    // A row of its own, so that the wrapped text is measured at its own width, not the window's.
    m_message->setMaximumWidth(420);
    auto *messageRow = new QHBoxLayout;
    messageRow->addStretch(1);
    messageRow->addWidget(m_message, 100);
    messageRow->addStretch(1);
    layout->addLayout(messageRow);

    m_download->setObjectName(u"downloadUpdateButton"_s);
    m_download->setText(u"Download Update"_s);
    m_download->setAccessibleName(u"Download Update"_s);
    m_download->setDefault(true);
    m_download->setMinimumWidth(160);
    connect(m_download, &QPushButton::clicked, this, &UpdateRequiredView::download);
    layout->addWidget(m_download, 0, Qt::AlignHCenter);

    auto *quitButton = new QPushButton(u"Quit"_s, this);
    quitButton->setObjectName(u"quitButton"_s);
    quitButton->setAccessibleName(u"Quit"_s);
    quitButton->setMinimumWidth(160);
    connect(quitButton, &QPushButton::clicked, this, [this] {
        if (m_quit) {
            m_quit();
        }
    });
    layout->addWidget(quitButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setFocusProxy(m_download);
}

QString UpdateRequiredView::message(const QString &runningVersion, const QString &version) {
    return u"This version of Tallybrook ("_s + runningVersion +
           u") is no longer supported. Download version "_s + version + u" to keep signing in visitors."_s;
}

void UpdateRequiredView::setUpdate(const QString &version, const QUrl &url) {
    m_version = version;
    m_url = url;
    m_message->setText(message(m_runningVersion, version));
}

void UpdateRequiredView::download() {
    m_urlOpener.openUrl(m_url);
}

void UpdateRequiredView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        download();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UpdateRequiredView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_download->setFocus();
}

} // namespace tallybrook::ui
