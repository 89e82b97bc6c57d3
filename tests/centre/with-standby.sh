#!/usr/bin/env bash
# with-standby.sh PROGRAM [ARGS...]: runs PROGRAM beside a throw-away
# PostgreSQL 15 primary and its hot standby (streaming replication,
# synchronous: a commit returns once the standby has the row on its disk),
# both in one temporary folder with their sockets there, no TCP port, run as
# the postgres user when started by root. Everything is stopped and removed
# however the program ends.
#
# For the program:
#   KV_TEST_PG           both servers, the writable one chosen by libpq
#   KV_TEST_PG_PRIMARY   the primary alone, KV_TEST_PG_STANDBY the standby alone
#   KV_TEST_PG_FAILOVER  a command: stops the primary at once (as a crash
#                        would) and promotes the standby
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
if [ ! -x "$bin/initdb" ] || [ ! -x "$bin/pg_basebackup" ]; then
  echo "with-standby.sh: PostgreSQL 15 is not installed ($bin/initdb): run scripts/install-deps.sh" >&2
  exit 1
fi
dir="$(mktemp -d /tmp/kvpgs.XXXXXX)"
as=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$dir"
  as=(runuser -u postgres --)
fi
primary_port=5432
standby_port=5433
ctl() { "${as[@]}" "$bin/pg_ctl" -D "$dir/$1" -s "${@:2}"; }
cleanup() {
  ctl standby stop -m immediate >/dev/null 2>&1 || true
  ctl primary stop -m immediate >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
fail() {
  echo "with-standby.sh: $1" >&2
  for log in "$dir"/*.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}

"${as[@]}" "$bin/initdb" -D "$dir/primary" -A trust -U postgres -E UTF8 --locale=C --no-sync \
  >"$dir/initdb.log" 2>&1 || fail "initdb failed"
# initdb's pg_hba.conf lets local connections replicate already. No fsync:
# the servers are stopped as by a crash, but the system under them stays.
cat >>"$dir/primary/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
port = $primary_port
fsync = off
max_connections = 40
wal_level = replica
max_wal_senders = 5
synchronous_commit = on
synchronous_standby_names = 'standby'
CONF
ctl primary start -w -l "$dir/primary.log" || fail "the primary did not start"

"${as[@]}" "$bin/pg_basebackup" -h "$dir" -p "$primary_port" -U postgres -D "$dir/standby" -R -X stream \
  -c fast --no-sync >"$dir/basebackup.log" 2>&1 || fail "pg_basebackup failed"
# The copy carries the primary's settings: its own port and name, and no
# standby of its own to wait for once it is promoted.
cat >>"$dir/standby/postgresql.conf" <<CONF
port = $standby_port
synchronous_standby_names = ''
hot_standby = on
CONF
"${as[@]}" sed -i "s/^primary_conninfo = '/primary_conninfo = 'application_name=standby /" \
  "$dir/standby/postgresql.auto.conf"
ctl standby start -w -l "$dir/standby.log" || fail "the standby did not start"

# Until the standby streams, a commit would wait for it.
state=""
for _ in $(seq 100); do
  state="$("${as[@]}" "$bin/psql" -h "$dir" -p "$primary_port" -U postgres -d postgres -Atq \
    -c "SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby'" 2>/dev/null || true)"
  [ "$state" = sync ] && break
  sleep 0.1
done
[ "$state" = sync ] || fail "the standby does not replicate synchronously (state: '$state')"

export KV_TEST_PG="host=$dir,$dir port=$primary_port,$standby_port user=postgres target_session_attrs=read-write"
export KV_TEST_PG_PRIMARY="host=$dir port=$primary_port user=postgres"
export KV_TEST_PG_STANDBY="host=$dir port=$standby_port user=postgres"
printf -v failover '%q ' "${as[@]}" "$bin/pg_ctl" -s
export KV_TEST_PG_FAILOVER="cd $dir && ${failover}-D $dir/primary stop -m immediate && ${failover}-D $dir/standby promote -w"
"$@"
