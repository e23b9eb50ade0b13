# A throwaway PostgreSQL 15 of our own: its own folder, port and socket, trust on the socket only, owned by an
# unprivileged user when we run as root (the server refuses to run as root). Source it, then:
#   pg_cluster_start            sets PGHOST, PGPORT, PGUSER=postgres, PGDATABASE=postgres
#   pg_cluster_apply_schema     the auth stub, then every migration, then pgTAP
#   pg_cluster_stop             (also on exit)
PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}

pg_cluster_as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

pg_cluster_start() {
    PG_DIR=$(mktemp -d /tmp/tallybrook-pg.XXXXXX)
    chmod 755 "$PG_DIR"
    [ "$(id -u)" -eq 0 ] && chown nobody "$PG_DIR"
    pg_cluster_as_owner "$PG_BIN/initdb" -D "$PG_DIR/data" -U postgres --auth=trust --encoding=UTF8 \
        --locale=C.UTF-8 >"$PG_DIR/initdb.log" 2>&1 || { cat "$PG_DIR/initdb.log"; return 1; }
    # Any free port: it only names the socket file; nothing listens on TCP.
    export PGPORT=$((30000 + RANDOM % 20000)) PGHOST=$PG_DIR PGUSER=postgres PGDATABASE=postgres
    pg_cluster_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 60 \
        -o "-k $PG_DIR -p $PGPORT -c listen_addresses= ${PG_OPTIONS:-}" start >/dev/null ||
        { cat "$PG_DIR/server.log"; return 1; }
    trap pg_cluster_stop EXIT
}

pg_cluster_apply_schema() {
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    psql -q -v ON_ERROR_STOP=1 -f "$here/scripts/pg/auth-stub.sql" >/dev/null &&
        for migration in "$here"/supabase/migrations/*.sql; do
            psql -q -v ON_ERROR_STOP=1 -f "$migration" >/dev/null || return 1
        done &&
        psql -q -v ON_ERROR_STOP=1 -c 'create extension pgtap' >/dev/null
}

pg_cluster_stop() {
    if [ -n "${PG_DIR:-}" ] && [ -d "$PG_DIR/data" ]; then
        pg_cluster_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate stop >/dev/null 2>&1 || true
        rm -rf "$PG_DIR"
    fi
    PG_DIR=
}
