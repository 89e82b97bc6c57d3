#!/usr/bin/env bash
# centre-demo.sh BIN_DIR [--dry-run]: the centre at work on one machine, for
# ./run --centre. A throw-away PostgreSQL 15 (its socket in its folder, no TCP),
# two receivers (korvalen-receiver, each on its own pair of simulated modems)
# and two desks (the windows station with [Database] and no modems), each in
# its own folder. All of it lives in one temporary folder, stopped and removed
# when the last desk closes, on Ctrl-C, or on a signal to this script.
# --dry-run starts no desk: it checks the folders and that both receivers'
# journals reach the database, then stops.
set -euo pipefail
bin="$(cd "${1:?usage: centre-demo.sh BIN_DIR [--dry-run]}" && pwd)"
dry=false
[ "${2-}" = --dry-run ] && dry=true
pgbin=/usr/lib/postgresql/15/bin
for tool in "$pgbin/initdb" "$pgbin/pg_ctl" "$pgbin/psql" "$bin/korvalen" "$bin/korvalen-receiver" \
  "$bin/modemsim" "$bin/korvalen-demo"; do
  if [ ! -x "$tool" ]; then
    echo "centre-demo: $tool is missing (run scripts/install-deps.sh and build)" >&2
    exit 1
  fi
done

top="$(mktemp -d /tmp/korvalen-centre.XXXXXX)"
pg="$top/pg"
mkdir "$pg"
as=()
if [ "$(id -u)" -eq 0 ]; then
  # initdb refuses root: the server is the postgres user's, who may only pass through.
  chmod 711 "$top"
  chown postgres: "$pg"
  as=(runuser -u postgres --)
fi

pids=()
desks=()
cleanup() {
  set +e
  trap - INT TERM HUP
  for pid in "${desks[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${desks[@]}"; do wait "$pid" 2>/dev/null; done
  # Receivers first, so that their last rows still reach the database; then their modems.
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 50); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  "${as[@]}" "$pgbin/pg_ctl" -D "$pg/data" -s stop -m fast >/dev/null 2>&1 ||
    "${as[@]}" "$pgbin/pg_ctl" -D "$pg/data" -s stop -m immediate >/dev/null 2>&1
  rm -rf "$top"
  echo "Korvalen centre: desks, receivers, simulated modems and the database are stopped."
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

echo "Korvalen centre: a database, two receivers and two desks in $top"
"${as[@]}" "$pgbin/initdb" -D "$pg/data" -A trust -U postgres -E UTF8 --locale=C --no-sync >"$pg/initdb.log" 2>&1 || {
  cat "$pg/initdb.log" >&2
  exit 1
}
cat >>"$pg/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$pg'
port = 5432
fsync = off
max_connections = 40
CONF
(cd "$pg" && "${as[@]}" "$pgbin/pg_ctl" -D "$pg/data" -s start -w -l "$pg/server.log") || {
  tail -n 20 "$pg/server.log" >&2
  exit 1
}
"$pgbin/psql" -h "$pg" -U postgres -d postgres -Atq -c "CREATE DATABASE korvalen"
connection="host=$pg port=5432 dbname=korvalen user=postgres"
echo "  database: psql \"$connection\""

# The [Database] section in the code page the station reads its INI files in.
database_section() {
  printf '\r\n[Database]\r\nConnection=%s\r\nStation=%s\r\n' "$connection" "$1" | iconv -f UTF-8 -t CP1251
}

logins=()
prepare_files() {
  local answer what name rest
  answer="$("$bin/korvalen-demo" files "$1" "$1")"
  logins=()
  while read -r what name rest; do
    [ "$what" = login ] && logins+=("$name $rest")
  done <<<"$answer"
}

# ---- receivers
for n in 1 2; do
  dir="$top/receiver$n"
  mkdir -m 700 "$dir"
  mkfifo -m 600 "$dir/modemsim.in"
  # Held open here, so that the simulator never reads an end and anyone may write a command.
  exec {hold}<>"$dir/modemsim.in"
  "$bin/modemsim" --demo --seed "$n" --link-dir "$dir/modems" <"$dir/modemsim.in" \
    >"$dir/modemsim.out" 2>"$dir/modemsim.log" &
  pids+=($!)
  modem1="" modem2=""
  for _ in $(seq 100); do
    if grep -qx ready "$dir/modemsim.out" 2>/dev/null; then
      modem1="$(sed -n 's/^modem1 //p' "$dir/modemsim.out")"
      modem2="$(sed -n 's/^modem2 //p' "$dir/modemsim.out")"
      break
    fi
    sleep 0.1
  done
  if [ -z "$modem1" ] || [ -z "$modem2" ]; then
    echo "centre-demo: the modem simulator of receiver $n did not start; see $dir/modemsim.log" >&2
    exit 1
  fi
  "$bin/korvalen-demo" config "$dir" "$dir/modems" "$modem1" "$modem2" >/dev/null
  database_section "Приёмник $n" >>"$dir/config.ini"
  prepare_files "$dir"
  "$bin/korvalen-receiver" --data "$dir" >"$dir/receiver.log" 2>&1 &
  pids+=($!)
  echo "  Приёмник $n: $dir (modems $modem1, $modem2)"
done

# ---- a company past one board: KORVALEN_CENTRE_DEVICES more devices, shared
# between the receivers, so the desks show their boards in pages. They are not
# rung (no simulated device answers for them).
extra="${KORVALEN_CENTRE_DEVICES:-0}"
if [ "$extra" -gt 0 ] 2>/dev/null; then
  ready=""
  for _ in $(seq 200); do
    ready="$("$pgbin/psql" "$connection" -Atq -c "SELECT (SELECT count(*) FROM stations WHERE name IN ('Приёмник 1', 'Приёмник 2')) = 2 AND EXISTS (SELECT 1 FROM register_state WHERE kind = 'devices')" 2>/dev/null || true)"
    [ "$ready" = t ] && break
    sleep 0.1
  done
  if [ "$ready" != t ]; then
    echo "centre-demo: the receivers did not reach the database; no devices added" >&2
  else
    "$pgbin/psql" "$connection" -Atq -c "INSERT INTO devices (short_name, tel, name, dial_time, receiver, position)
      SELECT 'Объект ' || i, '+7902' || lpad(i::text, 7, '0'), 'Объект ' || i, '60',
             CASE WHEN i % 2 = 1 THEN 'Приёмник 1' ELSE 'Приёмник 2' END, 1000 + i
      FROM generate_series(1, $extra) AS i"
    echo "  $extra more devices, shared between the receivers"
  fi
fi

# ---- desks: the station finds config.ini and its sounds beside the program,
# so each desk has the program linked into its own folder.
for n in 1 2; do
  dir="$top/desk$n"
  mkdir -m 700 "$dir"
  ln "$bin/korvalen" "$dir/korvalen" 2>/dev/null || cp "$bin/korvalen" "$dir/korvalen"
  for asset in "$bin"/*/; do
    ln -s "${asset%/}" "$dir/$(basename "$asset")"
  done
  database_section "Пульт $n" | tail -c +3 >"$dir/config.ini"
  prepare_files "$dir"
  echo "  Пульт $n: $dir"
done

if $dry; then
  for n in 1 2; do
    for dir in "$top/receiver$n" "$top/desk$n"; do
      for f in config.ini t1.bin t2.bin t3.bin t4.bin; do
        [ -s "$dir/$f" ] || { echo "centre-demo: $dir/$f was not written" >&2; exit 1; }
      done
    done
  done
  stations=""
  for _ in $(seq 200); do
    stations="$("$pgbin/psql" "$connection" -Atq -c "SELECT string_agg(DISTINCT station, ',' ORDER BY station) FROM events" 2>/dev/null || true)"
    [ "$stations" = "Приёмник 1,Приёмник 2" ] && break
    sleep 0.1
  done
  if [ "$stations" != "Приёмник 1,Приёмник 2" ]; then
    echo "centre-demo: the receivers' journals did not reach the database (it has: '$stations')" >&2
    tail -n 5 "$top"/receiver*/receiver.log >&2
    exit 1
  fi
  echo "centre-demo: dry run done"
  exit 0
fi

for n in 1 2; do
  # Side by side where the screen allows.
  (cd "$top/desk$n" && exec ./korvalen -geometry "+$(((n - 1) * 850))+0") >"$top/desk$n/desk.log" 2>&1 &
  desks+=($!)
done

echo
echo "How to watch the centre:"
echo "  1. In each desk (\"Пульт 1\", \"Пульт 2\"), click ДОСТУП, log in and click \"Авторизация\":"
for entry in "${logins[@]}"; do
  read -r user password <<<"$entry"
  echo "       user \"$user\", password \"$password\""
done
echo "     The desks have no modems: do not press \"УСТАНОВИТЬ СВЯЗЬ\" there."
echo "  2. The receivers work by themselves: each one's simulated devices report every 20 to"
echo "     60 seconds and now and then raise an alarm; both desks show the alarms of both, and"
echo "     the first desk to take one holds it (\"Принята оператором ...\" at the other)."
echo "  3. To make a device report now, write a command to its receiver's simulator, e.g.:"
echo "       echo 'sms 1 +79001000001 Внимание, сработал датчик движения. Зона 1' > $top/receiver1/modemsim.in"
echo "       echo 'sms 1 +79001000004 Поставлено на охрану' > $top/receiver2/modemsim.in"
echo "     (devices +79001000001 ... +79001000005; the simulator's answers: modemsim.out there)."
echo "  Logs: receiverN/receiver.log, deskN/desk.log, pg/server.log in $top."
echo "Close both desks or press Ctrl-C here to stop everything (the database too)."
echo

# A signal closes the desks as their close boxes do, then the rest goes.
trap 'for pid in "${desks[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done' INT TERM HUP
for pid in "${desks[@]}"; do
  while kill -0 "$pid" 2>/dev/null; do
    wait "$pid" || true
  done
done
