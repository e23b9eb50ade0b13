#!/usr/bin/env bash
# Installs what the desk needs, builds it, starts the local backend (tallybrook-server, with the demo account) on
# 127.0.0.1:54321 and runs the desk against it. A server already answering there is used as it is. The server
# this script started is stopped when the desk quits or on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly host=127.0.0.1
readonly port=54321
readonly base_url="http://${host}:${port}"
readonly server_bin=build/server/tallybrook-server
readonly desk_bin=build/src/app/tallybrook
readonly server_log=build/tallybrook-server.log

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default --parallel "$(nproc)"

# True when something accepts connections on the port.
listening() {
  (exec 3<>"/dev/tcp/${host}/${port}") 2>/dev/null
}

# True when a Tallybrook server answers there: GET /api/mac/version gives 200.
answers() {
  if command -v curl >/dev/null 2>&1; then
    curl -fsS -m 3 -o /dev/null "${base_url}/api/mac/version" 2>/dev/null
    return
  fi
  (
    exec 3<>"/dev/tcp/${host}/${port}" || exit 1
    printf 'GET /api/mac/version HTTP/1.1\r\nHost: %s:%s\r\nConnection: close\r\n\r\n' "$host" "$port" >&3
    IFS= read -r -t 3 status_line <&3 || exit 1
    [[ $status_line == "HTTP/1.1 200"* ]]
  ) 2>/dev/null
}

server_pid=""
stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    echo "Stopping tallybrook-server (pid $server_pid)."
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

demo="demo@tallybrook.local  password: tallybrook-demo"
if answers; then
  echo "A Tallybrook server already answers at ${base_url}; using it (it keeps running afterwards)."
elif listening; then
  echo "Port ${port} on ${host} is taken by something that is not a Tallybrook server; stop it and try again." >&2
  exit 1
else
  "$server_bin" --listen "${host}:${port}" --seed-demo >"$server_log" 2>&1 </dev/null &
  server_pid=$!
  for _ in $(seq 1 150); do
    if answers; then
      break
    fi
    if ! kill -0 "$server_pid" 2>/dev/null; then
      echo "tallybrook-server did not start:" >&2
      cat "$server_log" >&2
      server_pid=""
      exit 1
    fi
    sleep 0.1
  done
  if ! answers; then
    echo "tallybrook-server did not answer at ${base_url} in time; its log:" >&2
    cat "$server_log" >&2
    exit 1
  fi
  if line=$(grep -m1 '^demo account:' "$server_log"); then
    demo=${line#demo account: }
    demo=${demo%  (created)}
    demo=${demo%  (already there)}
  fi
  echo "Started tallybrook-server at ${base_url} (log: ${server_log})."
fi

export TALLYBROOK_BACKEND_URL="$base_url"
export TALLYBROOK_WEBSITE_URL="$base_url"

echo "Demo account: ${demo}"

if [ -x "$desk_bin" ]; then
  status=0
  "$desk_bin" "$@" || status=$?
  exit "$status"
fi

echo
echo "The desk window is not built yet. The local backend is ready:"
echo "  website, help pages and invite links: ${base_url}/"
echo "  Auth and REST for the desk:            ${base_url}/auth/v1, ${base_url}/rest/v1"
echo "  emails it writes:                      the outbox folder of its data folder (see ${server_log})"
if [ -n "$server_pid" ]; then
  echo "Press Ctrl-C to stop the server."
  wait "$server_pid" || true
  server_pid=""
fi
