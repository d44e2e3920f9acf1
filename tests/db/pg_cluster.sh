#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A throwaway PostgreSQL 15 cluster for the database tests.
#   pg_cluster.sh start DIR    makes a cluster (first time), starts it, prints
#                              the ODBC connection string (also in DIR/odbc)
#   pg_cluster.sh pause DIR    stops the server, keeping its data and port
#   pg_cluster.sh resume DIR   starts it again on the same port
#   pg_cluster.sh stop DIR     stops it and removes everything
# The cluster itself lives in a private folder under /tmp named in
# DIR/cluster: the server's user must reach it (a build tree under /root is
# out of its reach), and a Unix socket's path has to stay under 108 bytes.
set -euo pipefail

BIN=${KOVRA_PG_BIN:-/usr/lib/postgresql/15/bin}
DRIVER=${KOVRA_ODBC_DRIVER:-PostgreSQL Unicode}

usage() { echo "usage: $0 start|pause|resume|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
dir=$2

# PostgreSQL refuses to run as root; CI runs as root.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

show_log() {
  echo "pg_cluster.sh: the server's log:" >&2
  [ -f "$1/log" ] && tail -n 30 "$1/log" >&2
}

# Starts the server of cluster $1 on port $2; false when it did not come up.
start_server() {
  local cluster=$1 port=$2
  as_server "$BIN/pg_ctl" -D "$cluster/data" -l "$cluster/log" -w -t 30 \
    -o "-p $port -k $cluster -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off" \
    start >/dev/null || return 1
  # pg_ctl -w waits for the postmaster; wait also for it to take connections.
  for _ in $(seq 1 50); do
    "$BIN/pg_isready" -q -h 127.0.0.1 -p "$port" -U kovra -d postgres && return 0
    sleep 0.2
  done
  return 1
}

# Stops the server of DIR's cluster, if any, and removes the cluster.
remove_cluster() {
  [ -f "$dir/cluster" ] || return 0
  local cluster
  cluster=$(cat "$dir/cluster")
  if [ -f "$cluster/data/postmaster.pid" ]; then
    as_server "$BIN/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null || true
  fi
  case $cluster in /tmp/kovra-pg.*) rm -rf "$cluster" ;; esac
  rm -f "$dir/cluster" "$dir/odbc" "$dir/port"
}

cluster_of() {
  [ -f "$dir/cluster" ] || { echo "pg_cluster.sh: no cluster in $dir" >&2; exit 1; }
  cat "$dir/cluster"
}

case $command in
  start)
    [ -x "$BIN/initdb" ] || { echo "pg_cluster.sh: no PostgreSQL 15 in $BIN (Debian's postgresql)" >&2; exit 1; }
    # One left by a run that never cleaned up.
    remove_cluster
    mkdir -p "$dir"
    cluster=$(mktemp -d /tmp/kovra-pg.XXXXXX)
    echo "$cluster" >"$dir/cluster"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$cluster"
    if ! as_server "$BIN/initdb" -D "$cluster/data" -A trust -U kovra -E UTF8 --locale=C >"$cluster/initdb.log" 2>&1; then
      echo "pg_cluster.sh: initdb failed" >&2
      cat "$cluster/initdb.log" >&2
      exit 1
    fi
    # A free port: another server may hold the one picked, so try a few.
    started=""
    for _ in 1 2 3 4 5 6 7 8; do
      port=$((20000 + RANDOM % 40000))
      if start_server "$cluster" "$port"; then started=yes; break; fi
      grep -q "Address already in use" "$cluster/log" || break
      as_server "$BIN/pg_ctl" -D "$cluster/data" -m immediate stop >/dev/null 2>&1 || true
    done
    if [ -z "$started" ]; then
      echo "pg_cluster.sh: the server did not start" >&2
      show_log "$cluster"
      exit 1
    fi
    echo "$port" >"$dir/port"
    "$BIN/createdb" -h 127.0.0.1 -p "$port" -U kovra -E UTF8 kovra
    connection="Driver={$DRIVER};Server=127.0.0.1;Port=$port;Database=kovra;Uid=kovra;"
    echo "$connection" >"$dir/odbc"
    echo "$connection"
    ;;
  pause)
    cluster=$(cluster_of)
    as_server "$BIN/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null
    ;;
  resume)
    cluster=$(cluster_of)
    as_server "$BIN/pg_ctl" -D "$cluster/data" status >/dev/null && exit 0
    if ! start_server "$cluster" "$(cat "$dir/port")"; then
      echo "pg_cluster.sh: the server did not start again" >&2
      show_log "$cluster"
      exit 1
    fi
    ;;
  stop)
    remove_cluster
    rm -rf "$dir"
    ;;
  *) usage ;;
esac
