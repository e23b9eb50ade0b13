#pragma once

#include "records/InviteRecords.h"
#include "ui/DeskActions.h"
#include "ui/Environment.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QKeyEvent;

namespace tallybrook::ui {

// Tells a barcode scanner from a person at the keyboard. A scanner types like a keyboard, but a whole code
// arrives as one fast burst ending in Return; a person never keeps every key within a few milliseconds of
// the last one for long.
class ScanDetector final {
public:
    static constexpr int minimumLength = 8;
    static constexpr quint64 maximumGapMs = 30;

    // One key press, with the time the platform gave it; the burst when this press is the Return that ends
    // one. A slower key starts a new burst, so a scan right after some typing is still caught.
    std::optional<QString> press(int key, const QString &text, quint64 timestampMs);
    void reset() { m_burst.clear(); }
    // The last key continued a quick run: most likely a scanner's, not meant for the widget with the focus.
    [[nodiscard]] bool isInBurst() const { return m_burst.size() >= 2; }

private:
    QString m_burst;
    quint64 m_last = 0;
};

// The invite token a scanned text names: an invite link of this website ("<website>/i/<token>"), or a bare
// token. None for anything else.
[[nodiscard]] std::optional<QString> scannedInviteToken(const QString &scanned, const QUrl &website);

// While the desk's window is active and no text field has the focus, a scanned invite opens the sign-in
// sheet for its guest; an invite already used or for another day says so instead.
class ScannerCheckIn final : public QObject {
    Q_OBJECT

public:
    using OpenInvite = std::function<void(const Invite &)>;
    ScannerCheckIn(Environment environment, QWidget *desk, OpenInvite openInvite);
    ~ScannerCheckIn() override;
    Q_DISABLE_COPY_MOVE(ScannerCheckIn)

    // What the last scan could not do, while its alert shows.
    [[nodiscard]] const std::optional<QString> &message() const { return m_problem.message(); }
    // Looks up a scanned text and acts on it, as a burst from the scanner does.
    void handleScan(const QString &scanned);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    [[nodiscard]] bool listensTo(QObject *watched) const;

    Environment m_environment;
    QPointer<QWidget> m_desk;
    OpenInvite m_openInvite;
    ScanDetector m_detector;
    ProblemAlert m_problem;
};

} // namespace tallybrook::ui
