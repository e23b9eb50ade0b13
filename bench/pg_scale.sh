#!/usr/bin/env bash
# The hosted project's schema at scale on a real PostgreSQL 15: many accounts sharing one visitors table, the
# desk's poll and search run as the signed-in role under row security, the way the REST gateway runs them.
# Prints load time, per-query latency (median and p99 from pgbench's per-transaction log), each query's plan and
# the index it uses. Fails (non-zero exit) only if a plan reads the whole visitors table; the latency targets
# are printed as PASS/FAIL figures to read, since they depend on the machine.
#
# Usage: bench/pg_scale.sh [accounts=1000] [visitors=1000000]
#        bench/pg_scale.sh 50 20000          a quick smoke run
# PG_SCALE_SECONDS overrides how long each query runs (15 s, or 3 s below 200,000 visitors).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

accounts=${1:-1000}
visitors=${2:-1000000}
if ! [[ $accounts =~ ^[1-9][0-9]*$ && $visitors =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [accounts] [visitors]" >&2
    exit 2
fi
seconds=${PG_SCALE_SECONDS:-$((visitors >= 200000 ? 15 : 3))}
batch=250000          # rows per insert statement: a progress line per batch, no giant single transaction
target_median_ms=5
target_p99_ms=20

# Fast loading only: nothing here needs to survive a crash, and a bigger cache and WAL allowance keep the load
# from stalling on checkpoints. The measured queries only read, so these do not flatter their figures.
extra_options=${PG_OPTIONS:-}
PG_OPTIONS="-c shared_buffers=512MB -c max_wal_size=4GB -c fsync=off -c synchronous_commit=off"
export PG_OPTIONS+=" -c full_page_writes=off -c maintenance_work_mem=1GB $extra_options"

# shellcheck source=../scripts/pg/cluster.sh
source "$here/scripts/pg/cluster.sh"
PATH=$PG_BIN:$PATH

work=$(mktemp -d /tmp/tallybrook-pgscale.XXXXXX)
trap 'rm -rf "$work"' EXIT
cleanup() {
    pg_cluster_stop
    rm -rf "$work"
}

now_s() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now_s)" 'BEGIN { printf "%.1f", b - a }'; }
sql() { psql -X -q -v ON_ERROR_STOP=1 "$@"; }
sql_value() { psql -X -q -A -t -v ON_ERROR_STOP=1 -c "$1"; }
sql_quote() { printf "'%s'" "${1//\'/\'\'}"; }

echo "== Tallybrook schema at scale: $accounts accounts, $visitors visitors, ${seconds}s per query"
echo "machine: $(nproc) cores; $(uptime)"

pg_cluster_start
trap cleanup EXIT
pg_cluster_apply_schema
echo "PostgreSQL: $(sql_value 'show server_version')"

# ---- load

load_start=$(now_s)

# The visitors table's secondary indexes exactly as the migration made them: built once after the load is several
# times faster than maintaining a trigram index row by row, and recreating them from pg_get_indexdef keeps them
# identical to the migration's.
index_defs=$(sql_value "select pg_get_indexdef(indexrelid) || ';' from pg_index
                        where indrelid = 'public.visitors'::regclass and not indisprimary order by 1")
sql -c "do \$\$ declare i regclass; begin
            for i in select indexrelid::regclass from pg_index
                     where indrelid = 'public.visitors'::regclass and not indisprimary loop
                execute format('drop index %s', i);
            end loop;
        end \$\$"

sql -v accounts="$accounts" <<'SQL'
insert into auth.users (id, email, created_at)
select ('00000000-0000-4000-8000-' || lpad(n::text, 12, '0'))::uuid, 'desk' || n || '@example.test',
       now() - interval '3 years'
from generate_series(1, :accounts) as n;
SQL

# One batch: rows lo..hi of the visitors. Rows go in oldest first, like a real log grows, so the heap's order
# follows signed_in_at. Times are denser towards now (age ~ u^2 over two years); account sizes are uneven
# (the first accounts are the busiest, the largest some ten times the median) so the p99 meets big accounts.
# Visitors still on site are among the last 8 hours' arrivals (about 0.5% of all rows), a few per account.
seed_batch() {
    sql -v accounts="$accounts" -v total="$visitors" -v lo="$1" -v hi="$2" <<'SQL'
select setseed(:lo::float8 / (:total + 1)) \g /dev/null
with names as (
    select array['Ann', 'Anna', 'Hannah', 'Joanne', 'Johann', 'James', 'Maria', 'Mark', 'David', 'Sarah',
                 'Zoë', 'Łukasz', 'Siobhán', 'José', 'Søren', 'Chloé', 'Björn', 'Ngozi', 'Aoife', 'Mei',
                 'Priya', 'Omar', 'Fatima', 'Yuki', 'Peter', 'Paula', 'Thomas', 'Emma', 'Oliver', 'Lucas',
                 'Noah', 'Mia', 'Leila', 'Arjun', 'Kevin', 'Grace', 'Daniel', 'Ingrid', 'Rosa', 'Samuel'] as first,
           array['Smith', 'Jones', 'Brown', 'Taylor', 'Wilson', 'O''Connor', 'Müller', 'Nowak', 'García',
                 'Núñez', 'Nguyen', 'Kim', 'Okafor', 'Kowalczyk', 'Dubois', 'Rossi', 'Jensen', 'Murphy',
                 'Tanaka', 'Patel', 'Khan', 'Schmidt', 'Walsh', 'Evans', 'Clarke', 'Hughes', 'Novak',
                 'Larsen', 'Moreau', 'Silva'] as last,
           array['Priya Raman', 'Tom Becker', 'Ana Souza', 'Grace Liu', 'Marcus Hale', 'Ines Duarte',
                 'Ben Carter', 'Keiko Mori', 'Liam Byrne', 'Sofia Conti', 'Reception', 'Facilities'] as host,
           array['Fernhill Logistics', 'Brightwater Surveys', 'Copperleaf Catering', 'Harbour & Finch LLP',
                 'Kestrel IT', 'Meridian Lifts', 'Oakridge Cleaning', 'Bluebell Couriers', 'Atlas Interiors',
                 'Pinecrest Security', 'Café Lumière', 'Städtler Werkzeug', 'Self', ''] as company
)
insert into public.visitors (owner_id, device_record_id, visitor_name, host_name, answers, signed_in_at,
                             signed_out_at, list_name, device_name, created_at)
select owner_id, 'rec-' || g, visitor_name, host_name,
       jsonb_build_array(jsonb_build_object('label', 'Company', 'value', company),
                         jsonb_build_object('label', 'Who are you visiting?', 'value', host_name))
           || case when r_car < 0.4
                   then jsonb_build_array(jsonb_build_object('label', 'Car registration', 'value', plate))
                   else '[]'::jsonb end,
       signed_in_at,
       case when age < interval '8 hours' and r_on_site < 0.25 then null
            else least(now(), signed_in_at + stay) end,
       case when r_list < 0.8 then 'Visitors' when r_list < 0.95 then 'Contractors' else 'Deliveries' end,
       case when r_list < 0.7 then 'Front desk' else 'Side entrance' end,
       signed_in_at
from (
    select g,
           ('00000000-0000-4000-8000-'
               || lpad((1 + floor(:accounts * power(random(), 1.5)))::int::text, 12, '0'))::uuid as owner_id,
           first[1 + floor(random() * cardinality(first))::int] || ' '
               || last[1 + floor(random() * cardinality(last))::int] as visitor_name,
           host[1 + floor(random() * cardinality(host))::int] as host_name,
           company[1 + floor(random() * cardinality(company))::int] as company,
           chr(65 + floor(random() * 26)::int) || chr(65 + floor(random() * 26)::int)
               || lpad(floor(random() * 100)::int::text, 2, '0') || ' '
               || chr(65 + floor(random() * 26)::int) || chr(65 + floor(random() * 26)::int)
               || chr(65 + floor(random() * 26)::int) as plate,
           interval '730 days' * power(1 - (g - 0.5) / :total, 2) as age,
           now() - interval '730 days' * power(1 - (g - 0.5) / :total, 2)
               - random() * interval '5 minutes' as signed_in_at,
           interval '15 minutes' + random() * interval '5 hours' as stay,
           random() as r_car, random() as r_on_site, random() as r_list
    from generate_series(:lo, :hi) as g, names
    offset 0  -- a fence: each random() is drawn once per row, not again wherever the outer query uses it
) as rows;
SQL
}

for ((lo = 1; lo <= visitors; lo += batch)); do
    hi=$((lo + batch - 1 < visitors ? lo + batch - 1 : visitors))
    seed_batch "$lo" "$hi"
    echo "  inserted $hi / $visitors visitors ($(since "$load_start") s)"
done
insert_s=$(since "$load_start")

# The indexes in parallel sessions: the btree builds use parallel workers, the trigram one cannot, so running them
# side by side keeps both cores busy.
index_start=$(now_s)
pids=()
while IFS= read -r def; do
    sql -c "$def" &
    pids+=($!)
done <<<"$index_defs"
for pid in "${pids[@]}"; do wait "$pid"; done
rebuilt=$(sql_value "select pg_get_indexdef(indexrelid) || ';' from pg_index
                     where indrelid = 'public.visitors'::regclass and not indisprimary order by 1")
if [ "$rebuilt" != "$index_defs" ]; then
    echo "FAIL the rebuilt indexes differ from the migration's" >&2
    exit 1
fi
index_s=$(since "$index_start")

# Vacuum sets the visibility map (the counts can then be index-only scans, as on a settled hosted table);
# the checkpoint keeps the load's dirty pages from being written out during the measurements.
vacuum_start=$(now_s)
sql -c 'vacuum analyze auth.users' -c 'vacuum analyze public.visitors' -c 'checkpoint'
vacuum_s=$(since "$vacuum_start")
load_s=$(since "$load_start")

echo "load: ${load_s} s in all (inserts ${insert_s} s, indexes ${index_s} s, vacuum analyze ${vacuum_s} s)"
sql_value "select format('size: table %s, indexes %s (%s)', pg_size_pretty(pg_table_size('public.visitors')),
                         pg_size_pretty(pg_indexes_size('public.visitors')),
                         string_agg(indexrelid::regclass || ' ' || pg_size_pretty(pg_relation_size(indexrelid)),
                                    ', ' order by indexrelid::regclass::text))
           from pg_index where indrelid = 'public.visitors'::regclass"

# Account sizes, and the accounts whose plans are shown: a median-sized one and the busiest.
read -r rows_min rows_median rows_max on_site_max typical busiest < <(sql_value "
    with per_account as (
        select right(owner_id::text, 12)::int as n, count(*) as rows,
               count(*) filter (where signed_out_at is null) as on_site
        from public.visitors group by owner_id)
    select min(rows), percentile_disc(0.5) within group (order by rows), max(rows), max(on_site),
           (select n from per_account order by rows, n offset (select count(*) / 2 from per_account) limit 1),
           (select n from per_account order by rows desc, n limit 1)
    from per_account" | tr '|' ' ')
echo "visitors per account: min $rows_min, median $rows_median, max $rows_max; on site: $(sql_value \
    "select count(*) from public.visitors where signed_out_at is null") in all, at most $on_site_max per account"

# ---- the queries, as the desk's poll and search send them (no owner filter: row security adds it)

today=$(sql_value "select to_char(date_trunc('day', now() at time zone 'utc'), 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')")
# The desk's week starts on Sunday.
week=$(sql_value "select to_char(date_trunc('day', now() at time zone 'utc')
                                 - extract(dow from now() at time zone 'utc') * interval '1 day',
                                 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')")
columns="id, visitor_name, host_name, answers, signed_in_at, signed_out_at, device_name"

names=(on_site_list count_today count_on_site count_week search_common search_rare search_none)
declare -A query pattern
query[on_site_list]="select $columns from public.visitors where signed_out_at is null
    order by signed_in_at desc, id desc limit 200"
query[count_today]="select count(*) from public.visitors where signed_in_at >= :today"
query[count_on_site]="select count(*) from public.visitors where signed_out_at is null"
query[count_week]="select count(*) from public.visitors where signed_in_at >= :week"
for s in search_common search_rare search_none; do
    query[$s]="select $columns from public.visitors where search_text ilike :pat
    order by signed_in_at desc, id desc limit 50 offset 0"
done
# A common first-name fragment, a rare full name (non-ASCII, with an apostrophe), and text nothing matches.
pattern[search_common]="%ann%"
pattern[search_rare]="%siobhán o'c%"
pattern[search_none]="%zzqx%"
poll=(on_site_list count_today count_on_site count_week)

# The signed-in request's setup, as the gateway does it in every request's transaction.
claims="select set_config('request.jwt.claims', json_build_object('sub',
    '00000000-0000-4000-8000-' || lpad(cast(:n as text), 12, '0'), 'role', 'authenticated')::text, true);"

# A backend pays a page fault the first time it touches each page of shared memory (some 10 us a page here), so
# a fresh connection's first queries cost several times their settled figure. The gateway's pooled connections
# have long paid that, so the figures should not: the table and its btree indexes are read into shared buffers
# once (they fit), and every connection first touches all of them in a warm-up transaction that is left out of
# the figures. It reads without parallel workers, whose faults would not count for the connection's own process.
# The trigram index is left out: no plan under row security reads it.
sql -c 'create extension pg_prewarm with schema extensions'
prewarm="select sum(extensions.pg_prewarm(c.oid)) from pg_class c left join pg_index i on i.indexrelid = c.oid
    left join pg_am am on am.oid = c.relam
    where c.oid = 'public.visitors'::regclass or (i.indrelid = 'public.visitors'::regclass and am.amname = 'btree')"
warm_up="begin;
set local max_parallel_workers_per_gather = 0;
select sum(length(search_text)) from public.visitors;
set local enable_seqscan = off;
set local enable_bitmapscan = off;
select count(*) from public.visitors where owner_id is not null;
select count(*) from public.visitors where signed_out_at is null;
commit;"

for q in "${names[@]}"; do
    cat >"$work/$q.sql" <<EOF
\\if :warmed = 0
$warm_up
\\set warmed 1
\\else
\\set n random(1, :accounts)
begin;
set local role authenticated;
$claims
${query[$q]};
commit;
\\endif
EOF
done

# The query with its values written in, for EXPLAIN.
literal_query() {
    local text=${query[$1]}
    text=${text//:today/$(sql_quote "$today")}
    text=${text//:week/$(sql_quote "$week")}
    text=${text//:pat/$(sql_quote "${pattern[$1]:-}")}
    printf '%s' "$text"
}

# One query's EXPLAIN for one account, as the signed-in role. The query runs once first, so the plan shows a
# settled session (caches loaded), as a pooled connection would run it.
explain_sql() { # query name, account number
    cat <<EOF
\\echo @@ $1 $2
begin;
set local role authenticated;
select set_config('request.jwt.claims', json_build_object('sub',
    '00000000-0000-4000-8000-' || lpad('$2', 12, '0'), 'role', 'authenticated')::text, true) \\g /dev/null
$(literal_query "$1") \\g /dev/null
explain (analyze, buffers) $(literal_query "$1");
rollback;
EOF
}

# Index names a plan reads, joined by "+"; "seq scan" if it reads the visitors table whole.
plan_indexes() {
    local found
    local scans='Index (Only )?Scan (Backward )?using [A-Za-z0-9_]+ on visitors'
    scans+='|Bitmap Index Scan on [A-Za-z0-9_]+'
    found=$(grep -oE "$scans" <<<"$1" | awk '{ print ($1 == "Bitmap" ? $NF : $(NF - 2)) }' |
        sort -u | paste -sd+ -) || true
    if grep -q 'Seq Scan on visitors' <<<"$1"; then found="seq scan${found:++$found}"; fi
    printf '%s' "${found:-none}"
}

# ---- plans

# Every plan in one warmed session, split into a file per query and account. The busiest account is there
# because a plan may change with the account's size.
{
    echo "$prewarm \\g /dev/null"
    echo "$warm_up"
    for q in "${names[@]}"; do
        explain_sql "$q" "$typical"
        explain_sql "$q" "$busiest"
    done
} | sql -A -t | awk -v dir="$work" '/^@@ / { out = dir "/plan." $2 "." $3; next } out != "" { print > out }'

echo
echo "== plans (as authenticated under row security; account $typical has $rows_median visitors)"
failed=0
declare -A index busiest_note
for q in "${names[@]}"; do
    plan=$(cat "$work/plan.$q.$typical")
    big=$(cat "$work/plan.$q.$busiest")
    index[$q]=$(plan_indexes "$plan")
    busiest_note[$q]="$(plan_indexes "$big"), $(grep -oE 'Execution Time: [0-9.]+' <<<"$big" | awk '{ print $3 }') ms"
    echo "-- $q${pattern[$q]:+ ($(sql_quote "${pattern[$q]}"))}"
    sed 's/^/   /' <<<"$plan"
    for p in "$plan" "$big"; do
        if grep -q 'Seq Scan on visitors' <<<"$p"; then failed=1; fi
    done
done

# What a fresh connection's first request pays on top (the page faults above): the busiest account's search
# for text nothing matches, the query that reads the most.
fresh=$(sql -A -t <<EOF | grep -oE 'Execution Time: [0-9.]+' | awk '{ print $3 }'
begin;
set local role authenticated;
select set_config('request.jwt.claims', json_build_object('sub',
    '00000000-0000-4000-8000-' || lpad('$busiest', 12, '0'), 'role', 'authenticated')::text, true) \\g /dev/null
explain (analyze) $(literal_query search_none);
rollback;
EOF
)
fresh_note="search_none for the busiest account: ${fresh} ms as a fresh connection's first query, \
$(grep -oE 'Execution Time: [0-9.]+' "$work/plan.search_none.$busiest" | awk '{ print $3 }') ms once warmed"
echo "-- $fresh_note"

# ---- latency

# Median and p99 in ms of a pgbench log's latencies (third column, microseconds), for one script number or all;
# each connection's first transaction (numbered 1: the warm-up) is left out.
percentiles() { # log files..., script number via $script (empty: all)
    awk -v s="${script:-}" '$2 > 1 && (s == "" || $4 == s) { print $3 }' "$@" | sort -n |
        awk '{ v[NR] = $1 } END {
                 if (NR == 0) { print "- - 0"; exit }
                 m = int((NR + 1) / 2); p = int(NR * 0.99); if (p < NR * 0.99) p++
                 printf "%.2f %.2f %d\n", v[m] / 1000, v[p] / 1000, NR }'
}

bench() { # log prefix, clients, pgbench script options...
    local prefix=$1 clients=$2
    shift 2
    (cd "$work" && pgbench -n -M extended -c "$clients" -j "$((clients > 1 ? 2 : 1))" -T "$seconds" \
        --random-seed=20261207 -l --log-prefix="$prefix" -D accounts="$accounts" -D today="$today" \
        -D week="$week" -D warmed=0 "$@" >"$prefix.out" 2>&1) || { cat "$work/$prefix.out"; return 1; }
}

echo
echo "== latency, 1 client, ${seconds}s per query (each transaction: begin, set role, claims, query, commit)"
echo "uptime before: $(uptime)"
declare -A median p99 count mix_median mix_p99
for q in "${names[@]}"; do
    bench "$q" 1 ${pattern[$q]:+-D "pat=${pattern[$q]}"} -f "$work/$q.sql"
    read -r median[$q] p99[$q] count[$q] < <(script='' percentiles "$work/$q".[0-9]*)
    printf '  %-14s median %7s ms  p99 %7s ms  (%s transactions)\n' "$q" "${median[$q]}" "${p99[$q]}" "${count[$q]}"
done

echo
echo "== the poll mix, 4 clients, ${seconds}s (the four poll queries in equal shares)"
mix_args=()
for q in "${poll[@]}"; do mix_args+=(-f "$work/$q.sql"); done
bench mix 4 "${mix_args[@]}"
grep -E '^(tps|latency average)' "$work/mix.out" | sed 's/^/  /'
for i in "${!poll[@]}"; do
    q=${poll[$i]}
    read -r mix_median[$q] mix_p99[$q] n < <(script=$i percentiles "$work"/mix.[0-9]*)
    printf '  %-14s median %7s ms  p99 %7s ms  (%s transactions)\n' "$q" "${mix_median[$q]}" "${mix_p99[$q]}" "$n"
done
echo "uptime after: $(uptime)"

# ---- verdicts and summary

within() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v != "-" && v <= t) }'; }

echo
echo "== checks"
for q in "${names[@]}"; do
    if [[ ${index[$q]} == *"seq scan"* || ${busiest_note[$q]} == *"seq scan"* ]]; then
        echo "FAIL $q: a plan reads the whole visitors table"
    else
        echo "PASS $q: no sequential scan of visitors (${index[$q]})"
    fi
done
for q in "${names[@]}"; do
    verdict=PASS
    within "${median[$q]}" "$target_median_ms" && within "${p99[$q]}" "$target_p99_ms" || verdict=FAIL
    echo "$verdict $q: median ${median[$q]} ms (target ≤ $target_median_ms)," \
        "p99 ${p99[$q]} ms (target ≤ $target_p99_ms)"
done
for q in "${poll[@]}"; do
    verdict=PASS
    within "${mix_median[$q]}" "$target_median_ms" && within "${mix_p99[$q]}" "$target_p99_ms" || verdict=FAIL
    echo "$verdict $q, 4 clients: median ${mix_median[$q]} ms, p99 ${mix_p99[$q]} ms"
done

echo
echo "== summary: $accounts accounts, $visitors visitors, load ${load_s} s;" \
    "targets median ≤ $target_median_ms ms, p99 ≤ $target_p99_ms ms"
printf '%-14s %9s %9s %11s %11s  %-42s %s\n' query "median ms" "p99 ms" "4c median" "4c p99" \
    "index (median account)" "busiest account ($rows_max rows): index, execution (warm)"
for q in "${names[@]}"; do
    printf '%-14s %9s %9s %11s %11s  %-42s %s\n' "$q" "${median[$q]}" "${p99[$q]}" "${mix_median[$q]:--}" \
        "${mix_p99[$q]:--}" "${index[$q]}" "${busiest_note[$q]}"
done
echo "$fresh_note"
echo "machine: $(uptime)"
exit "$failed"
