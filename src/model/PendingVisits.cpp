#include "model/PendingVisits.h"

#include "platform/PrivateFile.h"
#include "records/Timestamps.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcPending, "tallybrook.pending")

QJsonObject itemJson(const PendingVisits::Item &item) {
    QJsonObject object{
        {u"kind"_s, item.kind == PendingVisits::Item::Kind::SignIn ? u"sign-in"_s : u"sign-out"_s},
        {u"visitor"_s, item.visitor.toJson()},
        {u"at"_s, item.at.toUTC().toString(Qt::ISODateWithMs)}};
    if (item.inviteId) {
        object.insert(u"invite_id"_s, *item.inviteId);
    }
    if (item.visitorId) {
        object.insert(u"visitor_id"_s, item.visitorId->toString(QUuid::WithoutBraces));
    }
    return object;
}

std::optional<PendingVisits::Item> itemOf(const QJsonValue &value) {
    const QJsonObject object = value.toObject();
    const QJsonObject visitor = object.value(u"visitor").toObject();
    const QString kind = object.value(u"kind").toString();
    const QDateTime at = QDateTime::fromString(object.value(u"at").toString(), Qt::ISODateWithMs);
    const std::optional<QDateTime> signedIn = readTimestamp(visitor.value(u"signed_in_at").toString());
    const QUuid visitorId(object.value(u"visitor_id").toString());
    // A sign-in is known by the id the desk gave it; a sign-out by that or by the backend's id.
    const bool named = !visitor.value(u"device_record_id").toString().isEmpty() ||
                       (kind == u"sign-out" && !visitorId.isNull());
    if ((kind != u"sign-in" && kind != u"sign-out") || !at.isValid() || !signedIn || !named ||
        visitor.value(u"visitor_name").toString().isEmpty()) {
        return std::nullopt;
    }
    PendingVisits::Item item;
    item.kind = kind == u"sign-in" ? PendingVisits::Item::Kind::SignIn : PendingVisits::Item::Kind::SignOut;
    item.at = at;
    item.visitor.ownerID = QUuid(visitor.value(u"owner_id").toString());
    item.visitor.deviceRecordID = visitor.value(u"device_record_id").toString();
    item.visitor.visitorName = visitor.value(u"visitor_name").toString();
    if (const QJsonValue host = visitor.value(u"host_name"); host.isString()) {
        item.visitor.hostName = host.toString();
    }
    for (const QJsonValue &answer : visitor.value(u"answers").toArray()) {
        item.visitor.answers.append(VisitorAnswer::fromJson(answer));
    }
    item.visitor.signedInAt = *signedIn;
    item.visitor.deviceName = visitor.value(u"device_name").toString();
    if (const QJsonValue invite = object.value(u"invite_id"); invite.isString()) {
        item.inviteId = invite.toString();
    }
    if (!visitorId.isNull()) {
        item.visitorId = visitorId;
    }
    return item;
}

} // namespace

PendingVisits::PendingVisits(QString folder) : m_folder(std::move(folder)) {}

QString PendingVisits::filePath() const {
    return QDir(m_folder).filePath(u"pending-"_s + m_account.toString(QUuid::WithoutBraces) + u".json"_s);
}

std::optional<QString> PendingVisits::load(const QUuid &account) {
    m_account = account;
    m_items.clear();
    if (m_folder.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = platform::readPrivateFile(filePath());
    if (!bytes) {
        return std::nullopt; // nothing pending
    }
    const QJsonObject document = QJsonDocument::fromJson(*bytes).object();
    QList<Item> items;
    bool readable = document.value(u"version").toInt() == formatVersion;
    for (const QJsonValue &value : document.value(u"items").toArray()) {
        const std::optional<Item> item = itemOf(value);
        readable = readable && item.has_value();
        if (item) {
            items.append(*item);
        }
    }
    if (!readable) {
        // Kept for a person to look at; the desk starts with an empty list rather than guess.
        const QString aside =
            filePath() + u".unreadable-"_s + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s);
        QFile::rename(filePath(), aside);
        qCWarning(lcPending) << "set aside an unreadable list of unsaved visits as" << aside;
        return u"A list of visits not yet saved could not be read; it was kept as %1."_s.arg(aside);
    }
    m_items = std::move(items);
    return std::nullopt;
}

int PendingVisits::pendingSignIns() const {
    return int(std::count_if(m_items.cbegin(), m_items.cend(),
                             [](const Item &item) { return item.kind == Item::Kind::SignIn; }));
}

bool PendingVisits::isPending(const QString &deviceRecordID) const {
    return std::any_of(m_items.cbegin(), m_items.cend(), [&](const Item &item) {
        return item.kind == Item::Kind::SignIn && item.visitor.deviceRecordID == deviceRecordID;
    });
}

bool PendingVisits::append(const Item &item) {
    m_items.append(item);
    return save();
}

bool PendingVisits::removeFirst() {
    if (m_items.isEmpty()) {
        return true;
    }
    m_items.removeFirst();
    return save();
}

bool PendingVisits::save() {
    if (m_folder.isEmpty()) {
        return true; // kept in memory only (no folder given)
    }
    if (m_items.isEmpty()) {
        return platform::removePrivateFile(filePath());
    }
    QJsonArray items;
    for (const Item &item : std::as_const(m_items)) {
        items.append(itemJson(item));
    }
    QDir().mkpath(m_folder);
    return platform::writePrivateFile(
        filePath(), QJsonDocument(QJsonObject{{u"version"_s, formatVersion}, {u"items"_s, items}})
                        .toJson(QJsonDocument::Compact));
}

} // namespace tallybrook
