#!/usr/bin/env bash
# The hosted project's schema on a real PostgreSQL: every pgTAP file under supabase/tests, and the check that the
# local server's tables have the same columns (names, JSON or not, nullability) as the migration's.
# Usage: scripts/pg/run-tests.sh [path to tallybrook-server]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
server=${1:-}
source "$here/scripts/pg/cluster.sh"
pg_cluster_start
pg_cluster_apply_schema

failed=0
for test in "$here"/supabase/tests/*.sql; do
    # Tuples only, so the output is the TAP stream; a SQL error stops the file and fails it.
    if ! output=$(psql -X -q -t -A -v ON_ERROR_STOP=1 -f "$test" 2>&1); then
        echo "$output"
        echo "FAIL $(basename "$test"): the file stopped on an error"
        failed=1
    elif echo "$output" | grep -q '^not ok\|^# Looks like'; then
        echo "$output"
        echo "FAIL $(basename "$test")"
        failed=1
    else
        echo "ok   $(basename "$test"): $(echo "$output" | grep -c '^ok') checks"
    fi
done

if [ -n "$server" ]; then
    expected=$("$server" --print-columns | sort)
    actual=$(psql -X -q -t -A -F ' ' -c "
        select table_name, column_name,
               case when data_type in ('json', 'jsonb') then 'json' else 'scalar' end,
               case when is_nullable = 'YES' then 'null' else 'not-null' end
        from information_schema.columns
        where table_schema = 'public'
          and table_name in ('visitors', 'invites', 'kiosk_settings', 'notification_settings')" | sort)
    if [ "$expected" != "$actual" ]; then
        echo "FAIL the local server and the migration disagree (< server, > migration):"
        diff <(echo "$expected") <(echo "$actual") || true
        failed=1
    else
        echo "ok   the local server's columns equal the migration's ($(echo "$expected" | wc -l) columns)"
    fi
fi
exit $failed
