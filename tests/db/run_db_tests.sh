#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the database tests against the cluster pg_cluster.sh started in DIR,
# whose port was only known then.
#   run_db_tests.sh DIR TEST-BINARY [ARGS...]
set -euo pipefail
dir=$1
shift
[ -f "$dir/odbc" ] || { echo "run_db_tests.sh: no cluster started in $dir" >&2; exit 1; }
KOVRA_TEST_ODBC=$(cat "$dir/odbc")
export KOVRA_TEST_ODBC
export KOVRA_TEST_PG_CLUSTER
KOVRA_TEST_PG_CLUSTER="$(cd "$(dirname "$0")" && pwd)/pg_cluster.sh"
export KOVRA_TEST_PG_DIR=$dir
exec "$@"
