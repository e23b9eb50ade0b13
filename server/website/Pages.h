#pragma once

#include "http/HttpMessage.h"

#include <QDate>
#include <QString>

namespace tbserver {

// What the guest's page shows of an invite.
struct GuestInvite {
    QString visitorName;
    QString placeName; // empty when the account has none
    QString visitDate; // "yyyy-MM-dd" or empty
    QString visitTime; // "HH:mm" or empty
    QString note;
    QByteArray usedAt; // stored timestamp, empty while unused
};

// The website's HTML pages: small, self-contained (inline style, no scripts), every text HTML-escaped.
namespace pages {

[[nodiscard]] QString escaped(const QString &text);
// "Tuesday, March 4, 2025 at 14:30", "Tuesday, March 4, 2025" or "Any day".
[[nodiscard]] QString visitDescription(const QString &visitDate, const QString &visitTime);

[[nodiscard]] HttpResponse home();
[[nodiscard]] HttpResponse support();
[[nodiscard]] HttpResponse privacy();
[[nodiscard]] HttpResponse dashboard();
[[nodiscard]] HttpResponse hostNotificationsGuide();
[[nodiscard]] HttpResponse kioskSetupGuide();
[[nodiscard]] HttpResponse notFound();

[[nodiscard]] HttpResponse guestInvite(const GuestInvite &invite, const QDate &today);
[[nodiscard]] HttpResponse inviteNotFound();
// The accounts' service did not answer: a 502 page asking to try again.
[[nodiscard]] HttpResponse inviteUnavailable();

// The pages behind the links in the confirmation and password-reset emails.
[[nodiscard]] HttpResponse emailConfirmed();
[[nodiscard]] HttpResponse linkFailed(const QString &description);
[[nodiscard]] HttpResponse signInAtDesk();
[[nodiscard]] HttpResponse resetPasswordForm(const QString &token, const QString &problem);
[[nodiscard]] HttpResponse resetLinkExpired();
[[nodiscard]] HttpResponse passwordChanged();

} // namespace pages

} // namespace tbserver
