// The record endpoints of CloudClient: the visitor log, the account's setup and invites.
#include "cloud/CloudClient.h"
#include "records/JsonRead.h"
#include "records/Timestamps.h"
#include "records/Uuid.h"

#include <QJsonDocument>

#include <limits>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

// Sign-in times share whole seconds; the id makes the order total, so offset paging is stable.
constexpr auto visitorOrder = u"signed_in_at.desc,id.desc";

const QByteArray preferHeader = QByteArrayLiteral("Prefer");

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QCoro::Task<CloudResponse> CloudClient::restCall(QByteArray method, QString table, QueryItems items,
                                                 HeaderList extra, QByteArray body,
                                                 std::shared_ptr<RequestScope> scope) {
    CloudRequest request = co_await authorizedRequest(restRequestURL(table, items));
    request.method = std::move(method);
    request.headers.append(extra);
    request.body = std::move(body);
    request.scope = std::move(scope);
    co_return co_await perform(std::move(request));
}

QCoro::Task<void> CloudClient::websiteCall(QString path, QByteArray body,
                                           std::shared_ptr<RequestScope> scope) {
    CloudRequest request = co_await authorizedRequest(websiteURL(path));
    request.method = QByteArrayLiteral("POST");
    request.body = std::move(body);
    request.scope = std::move(scope);
    co_await performWebsite(std::move(request));
}

QCoro::Task<QList<VisitorRow>> CloudClient::fetchVisitors(QueryItems items,
                                                          std::shared_ptr<RequestScope> scope) {
    QueryItems query;
    query.append({u"select"_s, visitorColumns.toString()});
    query.append({u"order"_s, QString::fromUtf16(visitorOrder)});
    query.append(items);
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("GET"), u"visitors"_s, std::move(query), HeaderList(),
                          QByteArray(), std::move(scope));
    co_return json::decodeArray<VisitorRow>(response.body);
}

QCoro::Task<QList<VisitorRow>> CloudClient::onSiteVisitors(std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"signed_out_at"_s, u"is.null"_s});
    items.append({u"limit"_s, QString::number(onSiteLimit)});
    co_return co_await fetchVisitors(std::move(items), std::move(scope));
}

QCoro::Task<QList<VisitorRow>> CloudClient::visitorPage(VisitorQuery query, int limit, int offset,
                                                        std::shared_ptr<RequestScope> scope) {
    QueryItems items = query.queryItems();
    items.append({u"limit"_s, QString::number(limit)});
    items.append({u"offset"_s, QString::number(offset)});
    co_return co_await fetchVisitors(std::move(items), std::move(scope));
}

QCoro::Task<QList<VisitorRow>> CloudClient::allVisitors(VisitorQuery query,
                                                        std::shared_ptr<RequestScope> scope,
                                                        std::function<void(int)> fetched) {
    QList<VisitorRow> rows;
    for (;;) {
        // A scope aborted between two pages fails the next one before it is sent.
        const QList<VisitorRow> page = co_await visitorPage(query, exportPageSize, int(rows.size()), scope);
        rows.append(page);
        if (fetched) {
            fetched(int(rows.size()));
        }
        if (page.size() < exportPageSize) {
            break;
        }
    }
    co_return rows;
}

QCoro::Task<int> CloudClient::countVisitors(QueryItems items, std::shared_ptr<RequestScope> scope) {
    HeaderList prefer;
    prefer.append({preferHeader, QByteArrayLiteral("count=exact")});
    QueryItems query;
    query.append({u"select"_s, u"id"_s});
    query.append({u"limit"_s, u"1"_s});
    query.append(items);
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("GET"), u"visitors"_s, std::move(query), std::move(prefer),
                          QByteArray(), std::move(scope));
    co_return totalFromContentRange(response.header("Content-Range"));
}

int CloudClient::totalFromContentRange(const QByteArray &contentRange) {
    const qsizetype slash = contentRange.lastIndexOf('/');
    if (slash < 0) {
        return 0;
    }
    const QByteArray total = contentRange.mid(slash + 1).trimmed();
    if (total.isEmpty() ||
        !std::all_of(total.begin(), total.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    bool ok = false;
    const qlonglong value = total.toLongLong(&ok);
    if (!ok) {
        return std::numeric_limits<int>::max();
    }
    return int(std::min<qlonglong>(value, std::numeric_limits<int>::max()));
}

QCoro::Task<DeskCounts> CloudClient::deskCounts(QDateTime now, QTimeZone zone,
                                                std::shared_ptr<RequestScope> outer) {
    const QDate day = now.toTimeZone(zone).date();
    // Qt numbers Monday 1 to Sunday 7: going back dayOfWeek % 7 days lands on Sunday.
    const QDateTime dayStart = day.startOfDay(zone);
    const QDateTime weekStart = day.addDays(-(day.dayOfWeek() % 7)).startOfDay(zone);

    QueryItems todayItems;
    todayItems.append({u"signed_in_at"_s, u"gte."_s + writeTimestamp(dayStart)});
    QueryItems onSiteItems;
    onSiteItems.append({u"signed_out_at"_s, u"is.null"_s});
    QueryItems weekItems;
    weekItems.append({u"signed_in_at"_s, u"gte."_s + writeTimestamp(weekStart)});

    // All three are on their way before any answer is awaited; the first failure cancels the others.
    const auto scope = outer ? outer->child() : std::make_shared<RequestScope>();
    QCoro::Task<int> today = countVisitors(std::move(todayItems), scope);
    QCoro::Task<int> onSite = countVisitors(std::move(onSiteItems), scope);
    QCoro::Task<int> thisWeek = countVisitors(std::move(weekItems), scope);
    DeskCounts counts;
    try {
        counts.today = co_await std::move(today);
        counts.onSite = co_await std::move(onSite);
        counts.thisWeek = co_await std::move(thisWeek);
    } catch (...) {
        scope->abort();
        throw;
    }
    co_return counts;
}

QCoro::Task<VisitorRow> CloudClient::insertVisitor(NewVisitor visitor, std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, visitorColumns.toString()});
    HeaderList prefer;
    prefer.append({preferHeader, QByteArrayLiteral("return=representation")});
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("POST"), u"visitors"_s, std::move(items), std::move(prefer),
                          compact(visitor.toJson()), std::move(scope));
    const QList<VisitorRow> stored = json::decodeArray<VisitorRow>(response.body);
    if (stored.isEmpty()) {
        throw CloudError::server(200, u"The visitor could not be saved. Please try again."_s);
    }
    co_return stored.constFirst();
}

QCoro::Task<bool> CloudClient::signOutVisitor(QUuid id, QDateTime at, std::shared_ptr<RequestScope> scope) {
    co_return co_await signOutWhere({u"id"_s, u"eq."_s + uuidLower(id)}, std::move(at), std::move(scope));
}

QCoro::Task<bool> CloudClient::signOutWhere(std::pair<QString, QString> match, QDateTime at,
                                            std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append(std::move(match));
    items.append({u"signed_out_at"_s, u"is.null"_s});
    // The changed rows come back, so a visitor signed out elsewhere meanwhile is told apart (no row).
    items.append({u"select"_s, u"id"_s});
    HeaderList prefer;
    prefer.append({preferHeader, QByteArrayLiteral("return=representation")});
    QJsonObject body;
    body.insert(u"signed_out_at"_s, writeTimestamp(at));
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("PATCH"), u"visitors"_s, std::move(items), std::move(prefer),
                          compact(body), std::move(scope));
    // The visitor is signed out either way; an answer without the rows (a 204 from a proxy, say) is taken as
    // ours rather than failing a sign-out that happened.
    if (response.body.trimmed().isEmpty()) {
        co_return true;
    }
    co_return !json::parseArray(response.body).isEmpty();
}

QCoro::Task<std::optional<VisitorRow>>
CloudClient::findVisitorByDeviceRecord(QString deviceRecordID, std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, visitorColumns.toString()});
    items.append({u"device_record_id"_s, u"eq."_s + deviceRecordID});
    items.append({u"limit"_s, u"1"_s});
    const QList<VisitorRow> found = co_await fetchVisitors(std::move(items), std::move(scope));
    co_return found.isEmpty() ? std::nullopt : std::optional(found.constFirst());
}

QCoro::Task<bool> CloudClient::signOutByDeviceRecord(QString deviceRecordID, QDateTime at,
                                                     std::shared_ptr<RequestScope> scope) {
    co_return co_await signOutWhere({u"device_record_id"_s, u"eq."_s + deviceRecordID}, std::move(at),
                                    std::move(scope));
}

QCoro::Task<std::optional<KioskSettings>>
CloudClient::loadKioskSettings(std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, u"fields,employees,place_name"_s});
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("GET"), u"kiosk_settings"_s, std::move(items), HeaderList(),
                          QByteArray(), std::move(scope));
    const QList<KioskSettings> saved = json::decodeArray<KioskSettings>(response.body);
    co_return saved.isEmpty() ? std::nullopt : std::optional(saved.constFirst());
}

QCoro::Task<std::optional<NotificationSettings>>
CloudClient::loadNotificationSettings(std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, u"office_webhook,notify_sign_in,notify_sign_out,employee_webhooks"_s});
    const CloudResponse response =
        co_await restCall(QByteArrayLiteral("GET"), u"notification_settings"_s, std::move(items),
                          HeaderList(), QByteArray(), std::move(scope));
    const QList<NotificationSettings> saved = json::decodeArray<NotificationSettings>(response.body);
    co_return saved.isEmpty() ? std::nullopt : std::optional(saved.constFirst());
}

QCoro::Task<QList<Invite>> CloudClient::loadInvites(bool pendingOnly, int limit,
                                                    std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, inviteColumns.toString()});
    items.append({u"order"_s, u"created_at.desc"_s});
    items.append({u"limit"_s, QString::number(limit)});
    if (pendingOnly) {
        items.append({u"used_at"_s, u"is.null"_s});
    }
    const CloudResponse response = co_await restCall(QByteArrayLiteral("GET"), u"invites"_s, std::move(items),
                                                     HeaderList(), QByteArray(), std::move(scope));
    co_return json::decodeArray<Invite>(response.body);
}

QCoro::Task<std::optional<Invite>> CloudClient::findInvite(QString token,
                                                           std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"select"_s, inviteColumns.toString()});
    items.append({u"token"_s, u"eq."_s + token});
    items.append({u"limit"_s, u"1"_s});
    const CloudResponse response = co_await restCall(QByteArrayLiteral("GET"), u"invites"_s, std::move(items),
                                                     HeaderList(), QByteArray(), std::move(scope));
    const QList<Invite> found = json::decodeArray<Invite>(response.body);
    co_return found.isEmpty() ? std::nullopt : std::optional(found.constFirst());
}

QCoro::Task<void> CloudClient::deleteInvite(QUuid id, std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"id"_s, u"eq."_s + uuidLower(id)});
    co_await restCall(QByteArrayLiteral("DELETE"), u"invites"_s, std::move(items), HeaderList(), QByteArray(),
                      std::move(scope));
}

QCoro::Task<void> CloudClient::markInviteUsed(QUuid id, QDateTime at, std::shared_ptr<RequestScope> scope) {
    QueryItems items;
    items.append({u"id"_s, u"eq."_s + uuidLower(id)});
    HeaderList prefer;
    prefer.append({preferHeader, QByteArrayLiteral("return=minimal")});
    QJsonObject body;
    body.insert(u"used_at"_s, writeTimestamp(at));
    co_await restCall(QByteArrayLiteral("PATCH"), u"invites"_s, std::move(items), std::move(prefer),
                      compact(body), std::move(scope));
}

QCoro::Task<void> CloudClient::createInvite(NewInvite invite, std::shared_ptr<RequestScope> scope) {
    co_await websiteCall(u"api/invites"_s, compact(invite.toJson()), std::move(scope));
}

QCoro::Task<void> CloudClient::resendInvite(QUuid id, std::shared_ptr<RequestScope> scope) {
    co_await websiteCall(u"api/invites/"_s + uuidLower(id) + u"/resend"_s, QByteArray(), std::move(scope));
}

} // namespace tallybrook
