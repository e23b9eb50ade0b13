#include "notify/VisitorAlert.h"

#include "records/DateStyles.h"

using namespace Qt::StringLiterals;

namespace tallybrook {

QString VisitorAlert::summary() const {
    if (event == Event::SignOut)
        return visitorName + u" has signed out"_s;
    if (hostName)
        return visitorName + u" has arrived to see "_s + *hostName;
    return visitorName + u" has signed in"_s;
}

QStringList VisitorAlert::answerLines() const {
    QStringList lines;
    lines.reserve(answers.size());
    for (const VisitorAnswer &answer : answers)
        lines.append((answer.label.isEmpty() ? u"Answer"_s : answer.label) + u": "_s + answer.value);
    return lines;
}

QString VisitorAlert::time(const QLocale &locale, const QTimeZone &zone) const {
    return shortTime(date.toTimeZone(zone).time(), locale);
}

QString VisitorAlert::fullText(const QLocale &locale, const QTimeZone &zone) const {
    QStringList lines = answerLines();
    lines.prepend(summary() + u" · "_s + time(locale, zone));
    return lines.join(u'\n');
}

VisitorAlert VisitorAlert::testMessage(const QDateTime &now) {
    VisitorAlert alert;
    alert.event = Event::SignIn;
    alert.visitorName = u"Test Visitor"_s;
    alert.answers = {{u"Note"_s, u"This is a test from Tallybrook."_s}};
    alert.date = now;
    return alert;
}

QString eventText(VisitorAlert::Event event) {
    return event == VisitorAlert::Event::SignIn ? u"sign_in"_s : u"sign_out"_s;
}

} // namespace tallybrook
