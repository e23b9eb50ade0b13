#pragma once

namespace tbserver {

class Database;

// Brings the database to the newest schema version, one migration at a time, each in its own transaction.
void migrate(Database &db);

[[nodiscard]] int schemaVersion();

} // namespace tbserver
