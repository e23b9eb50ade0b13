#include "website/InviteApi.h"

#include "core/Crypto.h"
#include "core/Outbox.h"
#include "mail/Invitation.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTime>
#include <QUrl>

#include <cmath>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

HttpResponse idAnswer(int status, const QString &id) {
    return HttpResponse::json(status, QJsonDocument(QJsonObject{{u"id"_s, id}}));
}

// An optional text member: absent or null is nothing, a non-text value is refused with `problem`.
std::optional<QString> optionalText(const QJsonObject &body, const QString &key, const QString &problem) {
    const QJsonValue value = body.value(key);
    if (value.isUndefined() || value.isNull()) {
        return std::nullopt;
    }
    if (!value.isString()) {
        throw WebsiteError{422, problem};
    }
    return value.toString();
}

bool isValidGuestEmail(const QString &email) {
    // The same rule the desk checks before it sends an invite.
    static const QRegularExpression format(u"^[^\\s@]+@[^\\s@]+\\.[^\\s@]+$"_s);
    return format.match(email).hasMatch();
}

bool isWellFormedDate(const QString &text) {
    static const QRegularExpression format(u"^[0-9]{4}-[0-9]{2}-[0-9]{2}$"_s);
    return format.match(text).hasMatch() && QDate::fromString(text, u"yyyy-MM-dd"_s).isValid();
}

bool isWellFormedTime(const QString &text) {
    static const QRegularExpression format(u"^[0-9]{2}:[0-9]{2}$"_s);
    return format.match(text).hasMatch() && QTime::fromString(text, u"HH:mm"_s).isValid();
}

} // namespace

InviteApi::InviteApi(ServerContext &context, InviteBackend &backend, Outbox &outbox)
    : m_context(context), m_backend(backend), m_outbox(outbox) {}

QString InviteApi::inviteLink(const QString &token) const {
    // One path segment, whatever the token holds.
    return QString::fromUtf8(m_context.config().publicBaseUrl + "/i/" + QUrl::toPercentEncoding(token));
}

HttpResponse InviteApi::create(const HttpRequest &request) {
    const InviteOwner owner = m_backend.signedIn(request);
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        throw WebsiteError{400, u"The invite could not be read: the request body is not a JSON object."_s};
    }
    const QJsonObject invite = document.object();

    const QJsonValue answersValue = invite.value(u"answers");
    if (!answersValue.isArray()) {
        throw WebsiteError{422, u"The invite has no answers: send them as a list of slot and value pairs."_s};
    }
    const QJsonArray given = answersValue.toArray();
    if (given.size() > maximumAnswers) {
        throw WebsiteError{422, u"The invite has too many answers."_s};
    }
    const InviteSetup setup = m_backend.setupOf(owner);
    QHash<int, QString> labels;
    for (const QJsonValue &field : setup.fields) {
        labels.insert(field[u"slot"].toInt(), field[u"label"].toString());
    }

    QJsonArray answers;
    QSet<int> seen;
    QString visitorName;
    for (const QJsonValue &entry : given) {
        const QJsonValue slotValue = entry[u"slot"];
        const QJsonValue textValue = entry[u"value"];
        const double slotNumber = slotValue.toDouble(-1);
        // The range first: a huge number has no whole-number value to compare with.
        if (!entry.isObject() || !slotValue.isDouble() || !(slotNumber >= 0 && slotNumber <= 10'000) ||
            slotNumber != std::trunc(slotNumber) || !textValue.isString()) {
            throw WebsiteError{422, u"Each answer needs a whole slot number and a text value."_s};
        }
        const int slot = int(slotNumber);
        const QString value = textValue.toString().trimmed();
        if (value.size() > maximumAnswerLength) {
            throw WebsiteError{422,
                               u"An answer is too long (at most %1 characters)."_s.arg(maximumAnswerLength)};
        }
        // The first answer for a slot wins, as at the desk.
        if (seen.contains(slot) || value.isEmpty()) {
            continue;
        }
        seen.insert(slot);
        QJsonObject answer{{u"slot"_s, slot}, {u"value"_s, value}};
        if (const QString label = labels.value(slot).trimmed(); !label.isEmpty()) {
            answer.insert(u"label"_s, label);
        }
        answers.append(answer);
        if (slot == 0) {
            visitorName = value;
        }
    }
    if (visitorName.isEmpty()) {
        throw WebsiteError{422, u"The guest's name is missing: fill in the first question of the form."_s};
    }

    const QString email = optionalText(invite, u"email"_s, u"The guest's email address is not valid."_s)
                              .value_or(QString())
                              .trimmed();
    if (email.isEmpty()) {
        throw WebsiteError{422, u"The guest's email address is missing."_s};
    }
    if (email.size() > 254 || !isValidGuestEmail(email)) {
        throw WebsiteError{422, u"The guest's email address is not valid."_s};
    }
    const QString dateProblem =
        u"The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04."_s;
    const std::optional<QString> visitDate = optionalText(invite, u"visit_date"_s, dateProblem);
    if (visitDate && !isWellFormedDate(*visitDate)) {
        throw WebsiteError{422, dateProblem};
    }
    const QString timeProblem = u"The visit time must be written as HH:mm, for example 14:30."_s;
    const std::optional<QString> visitTime = optionalText(invite, u"visit_time"_s, timeProblem);
    if (visitTime && !isWellFormedTime(*visitTime)) {
        throw WebsiteError{422, timeProblem};
    }
    const QString note =
        optionalText(invite, u"note"_s, u"The note must be text."_s).value_or(QString()).trimmed();
    if (note.size() > maximumNoteLength) {
        throw WebsiteError{422, u"The note is too long (at most %1 characters)."_s.arg(maximumNoteLength)};
    }

    NewInviteRecord record;
    // 128 random bits: the link is the only key to the guest's page.
    record.token = QString::fromLatin1(crypto::randomToken(16));
    record.visitorName = visitorName;
    record.visitorEmail = email;
    record.answers = answers;
    record.visitDate = visitDate;
    record.visitTime = visitTime;
    if (!note.isEmpty()) {
        record.note = note;
    }
    const InviteRecord stored = m_backend.create(owner, record);
    try {
        sendInvitation(owner, setup, stored);
    } catch (const WebsiteError &) {
        // The invite only stays when its email was written.
        m_backend.remove(owner, stored.id);
        throw;
    }
    return idAnswer(201, stored.id);
}

HttpResponse InviteApi::resend(const HttpRequest &request, const QString &inviteId) {
    const InviteOwner owner = m_backend.signedIn(request);
    const std::optional<InviteRecord> invite = m_backend.find(owner, inviteId);
    if (!invite) {
        throw WebsiteError{404, u"Invite not found."_s};
    }
    if (invite->usedAt) {
        throw WebsiteError{422, u"This invite has already been used, so it is not sent again."_s};
    }
    sendInvitation(owner, m_backend.setupOf(owner), *invite);
    return idAnswer(200, invite->id);
}

void InviteApi::sendInvitation(const InviteOwner &owner, const InviteSetup &setup,
                               const InviteRecord &invite) const {
    InvitationContent content;
    content.visitorName = invite.visitorName;
    content.visitorEmail = invite.visitorEmail;
    content.hostName = owner.name;
    content.placeName = setup.placeName;
    content.when =
        pages::visitDescription(invite.visitDate.value_or(QString()), invite.visitTime.value_or(QString()));
    content.note = invite.note.value_or(QString());
    content.link = inviteLink(invite.token);
    if (m_outbox.write(invitationMessage(content)).isEmpty()) {
        throw WebsiteError{500, u"The invitation email could not be written. Please try again."_s};
    }
}

} // namespace tbserver
