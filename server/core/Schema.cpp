#include "core/Schema.h"

#include "core/Database.h"

#include <QList>

namespace tbserver {

namespace {

// Every timestamp column holds ServerContext::timestamp text (fixed width, UTC), so text order is time order.
// Ids are lower-case UUID text. JSON columns hold compact JSON text.
const QList<QByteArray> migrations = {
    // 1: accounts, sessions, the account's tables and the search index.
    R"sql(
CREATE TABLE users (
    id TEXT PRIMARY KEY,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password_hash TEXT NOT NULL,
    user_metadata TEXT NOT NULL DEFAULT '{}',
    email_confirmed_at TEXT,
    confirmation_token_hash TEXT,
    confirmation_sent_at TEXT,
    recovery_token_hash TEXT,
    recovery_sent_at TEXT,
    created_at TEXT NOT NULL,
    updated_at TEXT NOT NULL,
    last_sign_in_at TEXT
);
CREATE TABLE sessions (
    id TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    created_at TEXT NOT NULL,
    updated_at TEXT NOT NULL
);
CREATE INDEX sessions_user ON sessions(user_id);
CREATE TABLE refresh_tokens (
    id INTEGER PRIMARY KEY,
    token_hash TEXT NOT NULL UNIQUE,
    parent_hash TEXT,
    session_id TEXT NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
    user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    revoked INTEGER NOT NULL DEFAULT 0,
    created_at TEXT NOT NULL,
    updated_at TEXT NOT NULL
);
CREATE INDEX refresh_tokens_session ON refresh_tokens(session_id);

CREATE TABLE visitors (
    id TEXT PRIMARY KEY,
    owner_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    device_record_id TEXT,
    visitor_name TEXT NOT NULL,
    host_name TEXT,
    answers TEXT NOT NULL DEFAULT '[]',
    signed_in_at TEXT NOT NULL,
    signed_out_at TEXT,
    list_name TEXT,
    device_name TEXT,
    search_text TEXT NOT NULL DEFAULT '',
    created_at TEXT NOT NULL
);
CREATE INDEX visitors_owner_signed_in ON visitors(owner_id, signed_in_at DESC, id DESC);
CREATE INDEX visitors_owner_on_site ON visitors(owner_id, signed_in_at DESC) WHERE signed_out_at IS NULL;
CREATE VIRTUAL TABLE visitors_search USING fts5(
    search_text, content='visitors', content_rowid='rowid', tokenize='trigram');
CREATE TRIGGER visitors_search_insert AFTER INSERT ON visitors BEGIN
    INSERT INTO visitors_search(rowid, search_text) VALUES (new.rowid, new.search_text);
END;
CREATE TRIGGER visitors_search_delete AFTER DELETE ON visitors BEGIN
    INSERT INTO visitors_search(visitors_search, rowid, search_text) VALUES ('delete', old.rowid, old.search_text);
END;
CREATE TRIGGER visitors_search_update AFTER UPDATE OF search_text ON visitors BEGIN
    INSERT INTO visitors_search(visitors_search, rowid, search_text) VALUES ('delete', old.rowid, old.search_text);
    INSERT INTO visitors_search(rowid, search_text) VALUES (new.rowid, new.search_text);
END;

CREATE TABLE invites (
    id TEXT PRIMARY KEY,
    owner_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    token TEXT NOT NULL UNIQUE,
    visitor_name TEXT NOT NULL,
    visitor_email TEXT NOT NULL,
    answers TEXT NOT NULL DEFAULT '[]',
    visit_date TEXT,
    visit_time TEXT,
    note TEXT,
    created_at TEXT NOT NULL,
    used_at TEXT
);
CREATE INDEX invites_owner_created ON invites(owner_id, created_at DESC);

CREATE TABLE kiosk_settings (
    owner_id TEXT PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
    fields TEXT NOT NULL DEFAULT '[]',
    employees TEXT NOT NULL DEFAULT '[]',
    place_name TEXT,
    updated_at TEXT
);
CREATE TABLE notification_settings (
    owner_id TEXT PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
    office_webhook TEXT NOT NULL DEFAULT '',
    notify_sign_in INTEGER NOT NULL DEFAULT 1,
    notify_sign_out INTEGER NOT NULL DEFAULT 0,
    employee_webhooks TEXT NOT NULL DEFAULT '{}',
    updated_at TEXT
);
)sql",
    // 2: visitors get an INTEGER PRIMARY KEY ("seq") for the search index to follow: the implicit rowid of a
    // table with a text primary key may be renumbered by VACUUM, which would silently detach the index. The
    // on-site index also orders by id, as the desk's list does.
    R"sql(
CREATE TABLE visitors_v2 (
    seq INTEGER PRIMARY KEY,
    id TEXT NOT NULL UNIQUE,
    owner_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    device_record_id TEXT,
    visitor_name TEXT NOT NULL,
    host_name TEXT,
    answers TEXT NOT NULL DEFAULT '[]',
    signed_in_at TEXT NOT NULL,
    signed_out_at TEXT,
    list_name TEXT,
    device_name TEXT,
    search_text TEXT NOT NULL DEFAULT '',
    created_at TEXT NOT NULL
);
INSERT INTO visitors_v2 (id, owner_id, device_record_id, visitor_name, host_name, answers, signed_in_at,
                         signed_out_at, list_name, device_name, search_text, created_at)
    SELECT id, owner_id, device_record_id, visitor_name, host_name, answers, signed_in_at, signed_out_at, list_name,
           device_name, search_text, created_at
    FROM visitors ORDER BY signed_in_at, id;
DROP TABLE visitors_search;
DROP TABLE visitors;
ALTER TABLE visitors_v2 RENAME TO visitors;
CREATE INDEX visitors_owner_signed_in ON visitors(owner_id, signed_in_at DESC, id DESC);
CREATE INDEX visitors_owner_on_site ON visitors(owner_id, signed_in_at DESC, id DESC) WHERE signed_out_at IS NULL;
CREATE VIRTUAL TABLE visitors_search USING fts5(
    search_text, content='visitors', content_rowid='seq', tokenize='trigram');
INSERT INTO visitors_search(visitors_search) VALUES ('rebuild');
CREATE TRIGGER visitors_search_insert AFTER INSERT ON visitors BEGIN
    INSERT INTO visitors_search(rowid, search_text) VALUES (new.seq, new.search_text);
END;
CREATE TRIGGER visitors_search_delete AFTER DELETE ON visitors BEGIN
    INSERT INTO visitors_search(visitors_search, rowid, search_text) VALUES ('delete', old.seq, old.search_text);
END;
CREATE TRIGGER visitors_search_update AFTER UPDATE OF search_text ON visitors BEGIN
    INSERT INTO visitors_search(visitors_search, rowid, search_text) VALUES ('delete', old.seq, old.search_text);
    INSERT INTO visitors_search(rowid, search_text) VALUES (new.seq, new.search_text);
END;
CREATE INDEX invites_owner_used ON invites(owner_id, used_at);
)sql",
    // 3: the log index carries the search text, so that walking an account's log newest first for a common
    // search text never reads the rows themselves.
    R"sql(
DROP INDEX visitors_owner_signed_in;
CREATE INDEX visitors_owner_signed_in ON visitors(owner_id, signed_in_at DESC, id DESC, search_text);
)sql",
};

} // namespace

int schemaVersion() {
    return int(migrations.size());
}

void migrate(Database &db) {
    for (int version = db.userVersion(); version < migrations.size(); ++version) {
        db.transaction([&] {
            db.exec(migrations[version]);
            db.setUserVersion(version + 1);
        });
    }
}

} // namespace tbserver
