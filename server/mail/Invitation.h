#pragma once

#include "mail/MailMessage.h"

namespace tbserver {

// What a guest's invitation says, as plain values.
struct InvitationContent {
    QString visitorName, visitorEmail;
    QString hostName;  // may be empty
    QString placeName; // may be empty
    QString when;      // already-formatted visit description, e.g. "Tuesday, March 4 at 14:30" or "Any day"
    QString note;      // may be empty
    QString link;      // the guest's invite link
};

// The invitation email: the plain text guests have always had, and an HTML alternative that also shows the
// link as a QR code for the desk's scanner.
[[nodiscard]] MailMessage invitationMessage(const InvitationContent &content);

} // namespace tbserver
