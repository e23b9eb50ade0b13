#pragma once

#include "core/ServerContext.h"
#include "http/HttpMessage.h"
#include "rest/RestQuery.h"
#include "rest/RestTables.h"

#include <QJsonObject>
#include <QMutex>

namespace tbserver {

// The hosted REST service for the account tables (visitors, invites, kiosk_settings, notification_settings)
// rpc/delete_account and rpc/invite_for_guest: the subset of its query language the desk uses, answered with
// its status codes, headers and error bodies. Every statement is scoped to the bearer token's account; a
// request without a token reads nothing and writes nothing.
class RestService final {
public:
    explicit RestService(ServerContext &context);
    Q_DISABLE_COPY_MOVE(RestService)

    // What each connection the service reads or writes through needs: its SQL functions and cache sizes.
    static void prepareConnection(Database &db);

    // `subpath` is the part after the service's prefix, without a leading "/".
    [[nodiscard]] HttpResponse handle(const HttpRequest &request, QByteArrayView subpath);

    // At most this many search-index hits make a search run from the index; more, and the account's rows are
    // walked newest first instead (a common text fills a page quickly that way).
    static constexpr qsizetype searchIndexLimit = 3000;
    // Tests set 0 to check that walking the rows gives the same answers as the index.
    void setSearchIndexLimit(qsizetype limit) { m_searchIndexLimit = limit; }

    struct Caller {
        bool anonymous = true;
        // The service key without a bearer token: only the guest page's invite lookup takes it.
        bool service = false;
        QByteArray userId; // canonical lower-case uuid
    };

private:
    struct Preferences;

    [[nodiscard]] Caller authenticate(const HttpRequest &request) const;
    [[nodiscard]] HttpResponse read(const HttpRequest &request, const RestTable &table, const Caller &caller);
    [[nodiscard]] HttpResponse insert(const HttpRequest &request, const RestTable &table,
                                      const Caller &caller);
    [[nodiscard]] HttpResponse update(const HttpRequest &request, const RestTable &table,
                                      const Caller &caller);
    [[nodiscard]] HttpResponse remove(const HttpRequest &request, const RestTable &table,
                                      const Caller &caller);
    [[nodiscard]] HttpResponse rpc(const HttpRequest &request, QByteArrayView name, const Caller &caller);
    [[nodiscard]] HttpResponse inviteForGuest(const HttpRequest &request, const Caller &caller);

    // The rowids (as a JSON array) of the caller's rows that the filters match, in the requested order and
    // range.
    [[nodiscard]] QByteArray matchingRows(const RestTable &table, const rest::RestQuery &query,
                                          const Caller &caller);
    // {count, JSON array} of the selected columns of those rows, in the order of the array.
    [[nodiscard]] std::pair<qsizetype, QByteArray>
    representation(const RestTable &table, const rest::RestQuery &query, const QByteArray &rowids);

    // Where a walk through rows page by page stands: the values of the order columns of the last row given.
    struct Walk {
        QByteArray key;
        quint64 generation = 0; // the writer's change sequence of the state it was read from
        qint64 nextOffset = 0;
        QList<QVariant> lastRow;
    };
    static constexpr qsizetype maxWalks = 32;
    // The last row of the page before `offset` in the walk, if this server gave that page from this state.
    [[nodiscard]] std::optional<QList<QVariant>> walkFrom(const QByteArray &key, quint64 generation,
                                                          qint64 offset) const;
    void rememberWalk(Database &db, const RestTable &table, const QList<rest::OrderItem> &order,
                      const QByteArray &key, quint64 generation, qint64 nextOffset, const QByteArray &rowids);

    ServerContext &m_context;
    qsizetype m_searchIndexLimit = searchIndexLimit;
    // Shared by the workers that answer reads.
    mutable QMutex m_walksMutex;
    QList<Walk> m_walks;
};

} // namespace tbserver
