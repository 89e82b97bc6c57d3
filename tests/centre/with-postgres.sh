#!/usr/bin/env bash
# with-postgres.sh PROGRAM [ARGS...]: runs PROGRAM beside a throw-away
# PostgreSQL 15 cluster in a temporary folder: its socket there, no TCP port,
# run as the postgres user when started by root (initdb refuses root). The
# cluster is stopped and its folder removed however the program ends.
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
if [ ! -x "$bin/initdb" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "with-postgres.sh: PostgreSQL 15 is not installed ($bin/initdb): run scripts/install-deps.sh" >&2
  exit 1
fi
dir="$(mktemp -d /tmp/kvpg.XXXXXX)"
as=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$dir"
  as=(runuser -u postgres --)
fi
ctl=("${as[@]}" "$bin/pg_ctl" -D "$dir/data" -s)
cleanup() {
  "${ctl[@]}" stop -m immediate >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if ! "${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1; then
  cat "$dir/initdb.log" >&2
  exit 1
fi
cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
port = 5432
fsync = off
full_page_writes = off
max_connections = 40
CONF
# -l: relative to the server's own folder, so that a test's start writes there too.
(cd "$dir" && "${ctl[@]}" start -w -l "$dir/server.log")

export KV_TEST_PG="host=$dir port=5432 user=postgres"
export KV_TEST_PG_CTL="cd $dir && ${ctl[*]}"
"$@"
