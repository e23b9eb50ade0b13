// The REST query string (select, order, limit, offset, on_conflict and every filter) against each table.
// The first byte picks the table.

#include "FuzzCheck.h"
#include "http/HttpMessage.h"
#include "rest/RestQuery.h"

using namespace tbserver;
using namespace tbserver::rest;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const QList<RestTable> &tables = restTables();
    const RestTable &table = tables[data[0] % tables.size()];
    const QByteArrayView raw(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    for (const QueryPair &pair : decodeQuery(raw)) {
        FUZZ_CHECK(pair.key.size() <= raw.size() && pair.value.size() <= raw.size());
    }
    try {
        const RestQuery query = parseRestQuery(table, raw);
        // Whatever was read names the table's own columns, and nothing negative reaches the SQL.
        for (const SelectItem &item : query.select) {
            FUZZ_CHECK(item.column && item.column->readable && !item.key.isEmpty());
        }
        for (const Filter &filter : query.filters) {
            FUZZ_CHECK(filter.column && table.column(filter.column->name) == filter.column);
            const bool matches = filter.op == FilterOp::Like || filter.op == FilterOp::ILike;
            FUZZ_CHECK(matches == bool(filter.pattern));
        }
        for (const OrderItem &item : query.order) {
            FUZZ_CHECK(item.column);
        }
        for (const RestColumn *column : query.onConflict) {
            FUZZ_CHECK(column);
        }
        FUZZ_CHECK(!query.limit || *query.limit >= 0);
        FUZZ_CHECK(query.offset >= 0);
    } catch (const HttpFailure &failure) {
        // A query the server cannot read is the caller's fault, never the server's.
        FUZZ_CHECK(failure.response.status >= 400 && failure.response.status < 500);
        FUZZ_CHECK(!failure.response.body.isEmpty());
    }
    return 0;
}
