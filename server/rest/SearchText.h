#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <optional>

namespace tbserver {

class Database;

// The text the visitor search matches against: the visitor's name, the host and every answer's label and
// value, joined by single spaces and lower-cased. The server keeps it; clients never write it.
[[nodiscard]] QByteArray searchTextFor(const QString &visitorName, const std::optional<QString> &hostName,
                                       const QJsonArray &answers);
// The same from stored column text (answers as JSON text).
[[nodiscard]] QByteArray searchTextFor(QByteArrayView visitorName, std::optional<QByteArrayView> hostName,
                                       QByteArrayView answersJson);

// Registers, on this connection, the SQL functions the REST service's statements use:
//   tb_like(value, pattern, mode)  PostgreSQL LIKE (mode 0) / ILIKE (1; 2 when the value is stored
//   lower-case)
//                                  semantics with backslash escapes; NULL for NULL
//   tb_search_text(visitor_name, host_name, answers)  searchTextFor
void registerSqlFunctions(Database &db);

} // namespace tbserver
