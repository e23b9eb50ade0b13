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

// The website's HTML pages: small, self-contained (inline style; a script only where a hosted project's link
// carries its token in the fragment, which never reaches the server), every text HTML-escaped.
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
// The same form for a hosted project's reset link, which brings its session in the fragment
// ("#access_token=…&type=recovery"): a script moves it into the form, or says the link expired.
[[nodiscard]] HttpResponse resetPasswordFormFromLink();
[[nodiscard]] HttpResponse resetLinkExpired();
[[nodiscard]] HttpResponse passwordChanged();

} // namespace pages

} // namespace tbserver
