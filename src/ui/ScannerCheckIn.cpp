#include "ui/ScannerCheckIn.h"

#include "records/DateStyles.h"
#include "records/Timestamps.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextEdit>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

std::optional<QString> ScanDetector::press(int key, const QString &text, quint64 timestampMs) {
    const bool quick = !m_burst.isEmpty() && timestampMs - m_last <= maximumGapMs;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        std::optional<QString> burst;
        if (quick && m_burst.size() >= minimumLength) {
            burst = m_burst;
        }
        m_burst.clear();
        return burst;
    }
    if (text.isEmpty() || !text.at(0).isPrint()) {
        m_burst.clear(); // a modifier or a navigation key: not a scanner's output
        return std::nullopt;
    }
    if (!quick) {
        m_burst.clear();
    }
    m_burst += text;
    m_last = timestampMs;
    return std::nullopt;
}

std::optional<QString> scannedInviteToken(const QString &scanned, const QUrl &website) {
    static const QRegularExpression bareToken(u"^[A-Za-z0-9_-]{16,64}$"_s);
    const QString text = scanned.trimmed();
    if (bareToken.match(text).hasMatch()) {
        return text;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(website.scheme(), Qt::CaseInsensitive) != 0 ||
        url.host().compare(website.host(), Qt::CaseInsensitive) != 0 || url.port() != website.port()) {
        return std::nullopt;
    }
    QString base = website.path();
    if (!base.endsWith(u'/')) {
        base += u'/';
    }
    const QString prefix = base + u"i/"_s;
    const QString path = url.path(QUrl::FullyEncoded);
    if (!path.startsWith(prefix)) {
        return std::nullopt;
    }
    const QString segment = path.mid(prefix.size());
    if (segment.isEmpty() || segment.contains(u'/')) {
        return std::nullopt;
    }
    return QUrl::fromPercentEncoding(segment.toUtf8());
}

namespace {

struct Lookup {
    std::optional<Invite> invite;
    bool failed = false;
    QString error;
};

QCoro::Task<Lookup> lookUp(CloudClient &cloud, QString token, std::shared_ptr<RequestScope> scope) {
    try {
        // Awaited into a local: GCC 12 miscompiles a co_await inside a braced initializer.
        std::optional<Invite> invite = co_await cloud.findInvite(std::move(token), std::move(scope));
        co_return Lookup{std::move(invite), false, {}};
    } catch (const std::exception &error) {
        co_return Lookup{std::nullopt, true, errorMessage(error)};
    }
}

// A text field takes what a scanner types like any other typing.
bool takesText(const QWidget *widget) {
    if (const auto *combo = qobject_cast<const QComboBox *>(widget)) {
        return combo->isEditable();
    }
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
           qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget);
}

} // namespace

ScannerCheckIn::ScannerCheckIn(Environment environment, QWidget *desk, OpenInvite openInvite)
    : QObject(desk), m_environment(environment), m_desk(desk), m_openInvite(std::move(openInvite)),
      m_problem(desk, u"Scanned Invite"_s) {
    qApp->installEventFilter(this);
}

ScannerCheckIn::~ScannerCheckIn() {
    qApp->removeEventFilter(this);
}

bool ScannerCheckIn::listensTo(QObject *watched) const {
    if (!m_desk || QApplication::activeWindow() != m_desk->window()) {
        return false; // another window, or a sheet over the desk, has the keyboard
    }
    // A key event travels up from the focus widget to its parents; it is read once, where it starts.
    QWidget *focus = QApplication::focusWidget();
    return focus ? watched == focus : watched == m_desk->window();
}

bool ScannerCheckIn::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress || !listensTo(watched)) {
        return false;
    }
    auto *key = static_cast<QKeyEvent *>(event);
    if (takesText(QApplication::focusWidget())) {
        m_detector.reset();
        return false;
    }
    const std::optional<QString> burst = m_detector.press(key->key(), key->text(), key->timestamp());
    if (!burst) {
        // Keeps a scan's characters from moving the selection of a list by its first letters.
        return m_detector.isInBurst();
    }
    if (!scannedInviteToken(*burst, m_environment.cloud().websiteURL(QString()))) {
        return false;
    }
    handleScan(*burst);
    return true; // the scanner's Return is not a press of whatever has the focus
}

void ScannerCheckIn::handleScan(const QString &scanned) {
    const QUrl website = m_environment.cloud().websiteURL(QString());
    const std::optional<QString> token = scannedInviteToken(scanned, website);
    if (!token) {
        return;
    }
    const bool wasLink = *token != scanned.trimmed();
    QCoro::connect(
        lookUp(m_environment.cloud(), *token, m_environment.model.requestScope()), this,
        [this, wasLink](const Lookup &found) {
            if (found.failed) {
                m_problem.show(found.error);
                return;
            }
            if (!found.invite) {
                // A bare code may be any barcode that happens to look like a token.
                if (wasLink) {
                    m_problem.show(u"This invite could not be found. It may have been cancelled."_s);
                }
                return;
            }
            const Invite &invite = *found.invite;
            const QLocale locale;
            if (invite.usedAt) {
                const std::optional<QDateTime> at = readTimestamp(*invite.usedAt);
                const QDateTime local = at ? at->toLocalTime() : QDateTime();
                m_problem.show(
                    at ? u"This invite was already used on %1 at %2."_s.arg(
                             weekdayMonthDay(local.date(), locale), shortTime(local.time(), locale))
                       : u"This invite was already used."_s);
                return;
            }
            if (invite.isPast(QDateTime::currentDateTimeUtc())) {
                m_problem.show(u"This invite was for %1."_s.arg(
                    invite.visitDescription(locale).value_or(u"an earlier day"_s)));
                return;
            }
            m_openInvite(invite);
        });
}

} // namespace tallybrook::ui
