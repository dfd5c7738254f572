#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL cluster and removes the cluster afterwards:
#
#   tests/records/with_postgres.sh COMMAND [ARGUMENTS...]
#
# The cluster lives in a temporary folder, belongs to the postgres user when run as root
# (the server refuses to run as root), listens on a unix socket in that folder only (no TCP
# port at all) and is stopped whatever the command does. The command sees
#   ORVEL_TEST_POSTGRES      the URL of an empty database "orvel" on it
#   ORVEL_TEST_POSTGRES_STOP a command that stops the server (and _START one that starts it
#                            again), for tests of a server that goes away mid-run
# A server that cannot be made or started is an error: the command does not run, and the
# script fails saying why.
set -euo pipefail

fail() {
  echo "with_postgres.sh: $*" >&2
  exit 1
}

bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)"
[ -n "$bin" ] && [ -x "$bin/initdb" ] || fail "no PostgreSQL server installed (Debian package postgresql)"

dir="$(mktemp -d "${TMPDIR:-/tmp}/orvel-pg.XXXXXX")"
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || fail "no user postgres to run the server as"
  chown postgres "$dir"
  as_owner=(runuser -u postgres --)
fi
pg_ctl=("${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -s)
printf -v stop_cmd '%q ' "${pg_ctl[@]}" stop -m fast
printf -v start_cmd '%q ' "${pg_ctl[@]}" start

cleanup() {
  "${pg_ctl[@]}" stop -m immediate >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT

"${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --no-sync >"$dir/initdb.log" 2>&1 ||
  fail "initdb failed: $(tail -n 5 "$dir/initdb.log")"
cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 60
EOF
"${pg_ctl[@]}" start >/dev/null || fail "the server did not start: $(tail -n 5 "$dir/server.log")"
"${as_owner[@]}" "$bin/createdb" -h "$dir" -U postgres orvel || fail "createdb failed"

export ORVEL_TEST_POSTGRES="postgresql://postgres@/orvel?host=$dir"
export ORVEL_TEST_POSTGRES_STOP="$stop_cmd"
export ORVEL_TEST_POSTGRES_START="$start_cmd"
"$@"
