#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Rows per second into the line's database: kovra_db_load with sixteen
# stations at once and with one alone, DURATION seconds each, against a
# throwaway PostgreSQL (tests/db/pg_cluster.sh: fsync off). Builds nothing.
#
#   bench/db_load_figures.sh        (DURATION=30 BUILD=build/native)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build/native}
duration=${DURATION:-30}
load=$build/bench/kovra_db_load
[[ -x $load ]] || { echo "db_load_figures: no $load; build kovra_db_load first" >&2; exit 1; }

work=$(mktemp -d)
trap 'tests/db/pg_cluster.sh stop "$work/pg" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
connection=$(tests/db/pg_cluster.sh start "$work/pg")

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for stations in 16 1; do
  echo "== $stations station(s), $duration s"
  "$load" --connection "$connection" --seconds "$duration" --stations "$stations" --prefix "load$stations"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
