#!/usr/bin/env bash
# The correction benchmark: builds tovrik-bench in Release, starts a private PostgreSQL server,
# runs the bench on SQLite and PostgreSQL, and on PostgreSQL through a proxy that adds 0, 2, 10
# and 40 ms of round-trip time, and stops the server again.
# Usage: scripts/bench.sh [build-dir] [tovrik-bench options, e.g. --repeat 5 or --rtt-ms 0,10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
shift || true

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_WERROR=ON \
    >/dev/null
cmake --build "$build" --target tovrik-bench -j "$(nproc)" >/dev/null

pgdir=$build/pg-bench
odbcdir=$build/odbc
trap '"$root/scripts/pg-test-server" stop "$pgdir" "$odbcdir" >/dev/null 2>&1 || true' EXIT
"$root/scripts/pg-test-server" start "$pgdir" "$odbcdir" >&2

value() { sed -n "s/^$1=//p" "$pgdir/env"; }
export ODBCSYSINI=$odbcdir
export TOVRIK_BENCH_PG="Driver={PostgreSQL Unicode};Servername=$(value TOVRIK_PG_HOST);\
Port=$(value TOVRIK_PG_PORT);Database=$(value TOVRIK_PG_DATABASE);UID=$(value TOVRIK_PG_USER);\
PWD=$(value TOVRIK_PG_PASSWORD);"
# The distances measured unless the options name their own.
rtt=(--rtt-ms 0,2,10,40)
for arg in "$@"; do
    if [ "$arg" = --rtt-ms ]; then rtt=(); fi
done
"$build/bench/tovrik-bench" "${rtt[@]}" "$@"
