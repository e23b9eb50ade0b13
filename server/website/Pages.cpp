#include "website/Pages.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace tbserver::pages {

using namespace Qt::StringLiterals;

namespace {

const QString style = uR"(
body{margin:0;background:#f4f5f7;color:#1d1f23;font:16px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif}
main{max-width:36rem;margin:3rem auto;padding:2rem 2.25rem;background:#fff;border-radius:14px;
box-shadow:0 1px 3px rgba(0,0,0,.08)}
h1{font-size:1.6rem;line-height:1.25;margin:.2rem 0 1rem}
h2{font-size:1.1rem;margin:1.6rem 0 .4rem}
.eyebrow{color:#5b6270;font-size:.85rem;letter-spacing:.06em;text-transform:uppercase;margin:0}
.when{font-size:1.2rem;font-weight:600;margin:.4rem 0 1rem}
.note{background:#f4f5f7;border-radius:8px;padding:.75rem 1rem;white-space:pre-wrap}
.status{border-left:4px solid #2f6fdf;padding-left:.8rem}
.status.done{border-color:#2e9e5b}.status.past{border-color:#b5651d}
.problem{color:#b3261e}
label{display:block;margin:.8rem 0 .2rem;font-weight:600}
input{font:inherit;width:100%;box-sizing:border-box;padding:.5rem .6rem;border:1px solid #c4c8d0;border-radius:6px}
button{font:inherit;margin-top:1.2rem;padding:.55rem 1.2rem;border:0;border-radius:6px;background:#2f6fdf;color:#fff}
footer{max-width:36rem;margin:0 auto 3rem;color:#7a808c;font-size:.85rem;text-align:center}
a{color:#2f6fdf}
)"_s;

QByteArray document(const QString &title, const QString &body) {
    const QString html = u"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                         u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                         u"<title>"_s +
                         escaped(title) + u" · Tallybrook</title>\n<style>"_s + style +
                         u"</style>\n</head>\n<body>\n<main>\n"_s + body +
                         u"</main>\n<footer>Tallybrook · <a href=\"/support\">Support</a> · "
                         u"<a href=\"/privacy\">Privacy</a></footer>\n</body>\n</html>\n"_s;
    return html.toUtf8();
}

HttpResponse page(int status, const QString &title, const QString &body) {
    HttpResponse response = HttpResponse::html(status, document(title, body));
    response.setHeader("Cache-Control", "no-store");
    return response;
}

// A page of a heading and paragraphs given as plain text.
HttpResponse simplePage(int status, const QString &title, const QStringList &paragraphs) {
    QString body = u"<h1>"_s + escaped(title) + u"</h1>\n"_s;
    for (const QString &paragraph : paragraphs) {
        body += u"<p>"_s + escaped(paragraph) + u"</p>\n"_s;
    }
    return page(status, title, body);
}

QString section(const QString &heading, const QStringList &paragraphs) {
    QString html = u"<h2>"_s + escaped(heading) + u"</h2>\n"_s;
    for (const QString &paragraph : paragraphs) {
        html += u"<p>"_s + escaped(paragraph) + u"</p>\n"_s;
    }
    return html;
}

std::optional<QDate> visitDay(const QString &visitDate) {
    static const QRegularExpression format(u"^([0-9]{4})-([0-9]{2})-([0-9]{2})$"_s);
    const QRegularExpressionMatch match = format.match(visitDate);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate day(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return day.isValid() ? std::optional(day) : std::nullopt;
}

} // namespace

QString escaped(const QString &text) {
    QString html = text.toHtmlEscaped();
    html.replace(u'\'', u"&#39;"_s);
    return html;
}

QString visitDescription(const QString &visitDate, const QString &visitTime) {
    const std::optional<QDate> day = visitDay(visitDate);
    if (!day) {
        return u"Any day"_s;
    }
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString text = english.toString(*day, u"dddd, MMMM d, yyyy"_s);
    const QTime time = QTime::fromString(visitTime, u"HH:mm"_s);
    if (time.isValid()) {
        text += u" at "_s + time.toString(u"HH:mm"_s);
    }
    return text;
}

HttpResponse home() {
    return page(
        200, u"Tallybrook"_s,
        u"<p class=\"eyebrow\">This computer</p>\n<h1>Tallybrook local server</h1>\n"
        u"<p>This server keeps the desk's accounts, visitor log, invites and settings on this computer. "
        u"Point the desk at this address and sign in there.</p>\n"
        u"<ul>\n<li><a href=\"/support\">Support</a></li>\n"
        u"<li><a href=\"/guides/kiosk-setup\">Setting up the sign-in form</a></li>\n"
        u"<li><a href=\"/guides/host-notifications\">Host notifications</a></li>\n"
        u"<li><a href=\"/privacy\">Privacy</a></li>\n</ul>\n"_s);
}

HttpResponse support() {
    return page(
        200, u"Tallybrook Support"_s,
        u"<h1>Tallybrook Support</h1>\n"_s +
            section(u"Signing in"_s, {u"Sign in at the desk with the email address and password of your "
                                      u"account. If you forgot the "
                                      u"password, choose \u201cForgot password\u201d on the desk's sign-in "
                                      u"screen: a reset link is "
                                      u"sent to your email address."_s}) +
            section(
                u"Emails from this server"_s,
                {u"Invitations, confirmations and password resets go out through the mail server the office "
                 u"set up for it. Without one, each message is saved as an .eml file in the outbox folder of "
                 u"the server's data folder, where you can open it with any mail program."_s}) +
            section(u"Visitors and invites"_s, {u"Visitors signed in at the desk appear in the visitor log "
                                                u"at once. Invited guests receive a "
                                                u"link to their invitation; when they arrive, pick their "
                                                u"invite on the sign-in sheet and their "
                                                u"answers are filled in for you."_s}) +
            section(u"Still stuck?"_s,
                    {u"Write to support@tallybrook.app with what you did and what you saw. "
                     u"A screenshot helps."_s}));
}

HttpResponse privacy() {
    return page(
        200, u"Privacy Policy"_s,
        u"<h1>Privacy Policy</h1>\n"_s +
            section(
                u"What is kept"_s,
                {u"Your account's email address and name, a hash of its password, the sign-in form you set "
                 u"up, your employee list, the visitors signed in at the desk with their answers and times, "
                 u"and the invites you send."_s}) +
            section(
                u"Where it is kept"_s,
                {u"Everything stays in the data folder of this server. Nothing is sent to anyone else, "
                 u"except "
                 u"the emails it sends to the people they are for, through the office's own mail server."_s}) +
            section(
                u"Host notifications"_s,
                {u"When you set up a webhook, the desk posts the visitor's name, answers and time to that "
                 u"address when the visitor signs in or out. Remove the webhook to stop it."_s}) +
            section(u"Deleting your data"_s, {u"Deleting your account at the desk removes the account and "
                                              u"all of its visitors, invites and "
                                              u"settings from this server at once."_s}));
}

HttpResponse dashboard() {
    return simplePage(
        200, u"Dashboard"_s,
        {u"Everything about your account is managed at the desk: the sign-in form and employees in "
         u"Settings, visitors on the Today and Visitors screens, guests on the Invites screen."_s,
         u"This local server has no separate web dashboard."_s});
}

HttpResponse hostNotificationsGuide() {
    return page(
        200, u"Host Notifications Guide"_s,
        u"<h1>Host Notifications</h1>\n"_s +
            section(u"What they do"_s,
                    {u"When a visitor signs in, Tallybrook can post a message to your team chat so that the "
                     u"person "
                     u"they are visiting knows at once. You can also be told when visitors sign out."_s}) +
            section(
                u"Setting them up"_s,
                {u"1. In your team chat, create an incoming webhook for the channel that should receive the "
                 u"messages, and copy its address."_s,
                 u"2. At the desk, open Settings and paste the address as the office webhook. Every visitor "
                 u"alert goes there unless the host has a webhook of their own."_s,
                 u"3. To alert a host directly, give that employee their own webhook address in Settings."_s,
                 u"4. Choose whether to send alerts for sign-ins, sign-outs or both."_s}) +
            section(
                u"Who gets the alert"_s,
                {u"The host is the employee chosen in the sign-in form's employee question. If the visitor "
                 u"named nobody on the list, the office webhook receives the alert."_s}));
}

HttpResponse kioskSetupGuide() {
    return page(
        200, u"Kiosk Setup Guide"_s,
        u"<h1>Setting up the sign-in form</h1>\n"_s +
            section(u"The questions"_s, {u"The first question always asks for the visitor's name. Add the "
                                         u"questions your office needs: "
                                         u"company, who they are visiting, email, phone. Mark a question as "
                                         u"required when it must not "
                                         u"be left empty."_s}) +
            section(u"Employees"_s,
                    {u"Add the people visitors come to see on the Employees screen. A question that "
                     u"uses the employee list lets visitors pick their host, who can then be "
                     u"alerted."_s}) +
            section(
                u"Place name"_s,
                {u"Give your office a place name in Settings. It appears in invitation emails so guests know "
                 u"where they are going."_s}) +
            section(u"The kiosk"_s,
                    {u"The iPad kiosk app shares the same form and employee list: sign in there with "
                     u"the same account and it follows every change you make at the desk."_s}));
}

HttpResponse notFound() {
    return simplePage(404, u"Page not found"_s,
                      {u"There is no page at this address. Check the link, or start from the home page."_s});
}

HttpResponse inviteUnavailable() {
    return simplePage(
        502, u"Your invitation could not be loaded"_s,
        {u"This page could not reach the office's visitor records just now. Please try again in a "
         u"moment."_s});
}

HttpResponse guestInvite(const GuestInvite &invite, const QDate &today) {
    const QString place = invite.placeName.trimmed();
    QString body = u"<p class=\"eyebrow\">"_s + escaped(place.isEmpty() ? u"Your invitation"_s : place) +
                   u"</p>\n<h1>Welcome, "_s + escaped(invite.visitorName) + u"</h1>\n"_s;
    body +=
        u"<p class=\"when\">"_s + escaped(visitDescription(invite.visitDate, invite.visitTime)) + u"</p>\n"_s;
    if (!invite.note.trimmed().isEmpty()) {
        body += u"<p class=\"note\">"_s + escaped(invite.note.trimmed()) + u"</p>\n"_s;
    }
    const std::optional<QDate> day = visitDay(invite.visitDate);
    if (!invite.usedAt.isEmpty()) {
        body +=
            u"<p class=\"status done\">You have signed in with this invitation. Thank you for visiting.</p>\n"_s;
    } else if (day && *day < today) {
        body +=
            u"<p class=\"status past\">This invitation was for a day that has passed. Please ask your host "
            u"for a new one.</p>\n"_s;
    } else {
        body +=
            u"<p class=\"status\">When you arrive, tell the front desk your name: your answers are ready and "
            u"signing in takes a moment.</p>\n"_s;
    }
    return page(200, u"Your invitation"_s, body);
}

HttpResponse inviteNotFound() {
    return simplePage(404, u"Invitation not found"_s,
                      {u"This invitation link is not valid. It may have been cancelled, or the link was not "
                       u"copied completely. Please ask your host for a new invitation."_s});
}

HttpResponse emailConfirmed() {
    return simplePage(200, u"Email confirmed"_s,
                      {u"Your email address is confirmed. Sign in at the desk with your email address and "
                       u"password."_s});
}

HttpResponse linkFailed(const QString &description) {
    return simplePage(400, u"This link did not work"_s,
                      {description.isEmpty() ? u"The link is invalid or has expired."_s : description,
                       u"Ask for a new email from the desk's sign-in screen."_s});
}

HttpResponse signInAtDesk() {
    return simplePage(200, u"Tallybrook"_s, {u"You can close this page and continue at the desk."_s});
}

namespace {

// `afterForm`: HTML that follows the form (a hosted link's script).
HttpResponse resetForm(const QString &token, const QString &problem, const QString &afterForm) {
    QString body = u"<h1>Choose a new password</h1>\n"_s;
    if (!problem.isEmpty()) {
        body += u"<p class=\"problem\" role=\"alert\">"_s + escaped(problem) + u"</p>\n"_s;
    }
    body += u"<form method=\"post\" action=\"/auth/callback\">\n"
            u"<input type=\"hidden\" name=\"token\" value=\""_s +
            escaped(token) +
            u"\">\n"
            u"<label for=\"password\">New password</label>\n"
            u"<input id=\"password\" name=\"password\" type=\"password\" minlength=\"6\" maxlength=\"72\" "
            u"autocomplete=\"new-password\" required>\n"
            u"<label for=\"repeat\">Repeat the new password</label>\n"
            u"<input id=\"repeat\" name=\"repeat\" type=\"password\" minlength=\"6\" maxlength=\"72\" "
            u"autocomplete=\"new-password\" required>\n"
            u"<button type=\"submit\">Change password</button>\n</form>\n"_s +
            afterForm;
    return page(problem.isEmpty() ? 200 : 422, u"Choose a new password"_s, body);
}

} // namespace

HttpResponse resetPasswordForm(const QString &token, const QString &problem) {
    return resetForm(token, problem, QString());
}

HttpResponse resetPasswordFormFromLink() {
    const QString linkReader =
        QString::fromUtf8("<p id=\"expired\" hidden>The link is invalid, was used already or has "
                          "expired. Ask for a new one with "
                          "&#8220;Forgot password&#8221; on the desk's sign-in screen.</p>\n"
                          "<script>\n"
                          "(function () {\n"
                          "  var link = new URLSearchParams(location.hash.slice(1));\n"
                          "  var token = link.get('access_token');\n"
                          "  history.replaceState(null, '', location.pathname + location.search);\n"
                          "  if (token && link.get('type') === 'recovery') {\n"
                          "    document.querySelector('input[name=token]').value = token;\n"
                          "  } else {\n"
                          "    document.querySelector('form').hidden = true;\n"
                          "    document.querySelector('h1').textContent = 'This reset link has expired';\n"
                          "    document.getElementById('expired').hidden = false;\n"
                          "  }\n"
                          "})();\n"
                          "</script>\n");
    return resetForm(QString(), QString(), linkReader);
}

HttpResponse resetLinkExpired() {
    return simplePage(
        400, u"This reset link has expired"_s,
        {u"The link is invalid, was used already or is older than an hour. Ask for a new one with "
         u"\u201cForgot password\u201d on the desk's sign-in screen."_s});
}

HttpResponse passwordChanged() {
    return simplePage(
        200, u"Password changed"_s,
        {u"Your password is changed, and every desk that was signed in with the old one has been "
         u"signed out. Sign in at the desk with the new password."_s});
}

} // namespace tbserver::pages
