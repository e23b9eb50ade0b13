#include "ui/UpdateGate.h"

#include "platform/UrlOpener.h"
#include "ui/MessageBox.h"
#include "ui/UpdateRequiredView.h"
#include "updates/UpdateChecker.h"

#include <QDialog>
#include <QShowEvent>
#include <QStackedLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int downloadButton = 0;

} // namespace

UpdateGate::UpdateGate(UpdateChecker &updates, platform::UrlOpener &urlOpener, Options options,
                       QWidget *content, QWidget *parent)
    : QWidget(parent), m_updates(updates), m_urlOpener(urlOpener), m_options(std::move(options)),
      m_content(content), m_stack(new QStackedLayout(this)) {
    setObjectName(u"updateGate"_s);
    if (m_options.runningVersion.isEmpty()) {
        m_options.runningVersion = u"0"_s;
    }
    m_content->setParent(this);
    m_stack->addWidget(m_content);
    connect(&m_updates, &UpdateChecker::statusChanged, this, &UpdateGate::sync);
    connect(&m_updates, &UpdateChecker::dismissedVersionChanged, this, &UpdateGate::sync);
    sync();
}

QString UpdateGate::offerMessage(const QString &offeredVersion, const QString &runningVersion) {
    return u"Tallybrook "_s + offeredVersion + u" is ready. You're using "_s + runningVersion + u"."_s;
}

void UpdateGate::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    sync();
}

void UpdateGate::sync() {
    const UpdateStatus &status = m_updates.status();
    if (status.kind == UpdateStatus::Kind::Required) {
        block();
        m_requiredView->setUpdate(status.version, status.url);
        closeAlert();
        return;
    }
    unblock();
    const auto offer = m_updates.offeredUpdate();
    if (offer && isVisible()) {
        showAlert();
    } else if (!offer) {
        closeAlert();
    }
}

void UpdateGate::block() {
    if (m_requiredView) {
        return;
    }
    closeContentDialogs();
    m_requiredView = new UpdateRequiredView(m_options.runningVersion, m_urlOpener, m_options.quit, this);
    m_stack->addWidget(m_requiredView);
    m_stack->setCurrentWidget(m_requiredView);
}

void UpdateGate::unblock() {
    if (!m_requiredView) {
        return;
    }
    UpdateRequiredView *screen = m_requiredView;
    m_requiredView = nullptr;
    m_stack->setCurrentWidget(m_content);
    m_stack->removeWidget(screen);
    screen->deleteLater();
}

void UpdateGate::closeContentDialogs() {
    // Sheets and alerts of the content are windows of their own; they must go with the content.
    const auto dialogs = m_content->findChildren<QDialog *>();
    for (QDialog *dialog : dialogs) {
        if (dialog->isVisible()) {
            dialog->reject();
        }
    }
}

void UpdateGate::showAlert() {
    const auto offer = m_updates.offeredUpdate();
    if (!offer) {
        return;
    }
    if (m_alert) {
        // A newer version arrived while the alert was open: it offers that one now.
        MessageBox::setMessage(m_alert, offerMessage(offer->version, m_options.runningVersion));
        return;
    }
    if (m_alertPending) {
        return;
    }
    MessageBox::Alert alert;
    alert.title = u"A New Version Is Available"_s;
    alert.message = offerMessage(offer->version, m_options.runningVersion);
    alert.buttons = {{u"Download"_s, QMessageBox::AcceptRole}, {u"Later"_s, QMessageBox::RejectRole}};
    alert.defaultButton = downloadButton;
    alert.cancelButton = 1;
    m_alertPending = true;
    m_alert = MessageBox::show(this, alert, [this](int button) { alertAnswered(button); });
    if (m_alert) {
        m_alert->setObjectName(u"updateAlert"_s);
    }
}

void UpdateGate::alertAnswered(int button) {
    m_alertPending = false;
    m_alert = nullptr;
    const auto offer = m_updates.offeredUpdate();
    if (!offer) {
        return;
    }
    if (button == downloadButton) {
        m_urlOpener.openUrl(offer->url);
    }
    m_updates.setDismissedVersion(offer->version);
}

void UpdateGate::closeAlert() {
    // The offer went away by itself (required now, or dismissed in the other window). Closing reports an
    // answer, but with no offer left alertAnswered() records nothing.
    m_alertPending = false;
    if (QMessageBox *box = m_alert) {
        m_alert = nullptr;
        box->close();
    }
}

} // namespace tallybrook::ui
