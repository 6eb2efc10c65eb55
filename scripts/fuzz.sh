#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder, fuzzes the INI reader for a
# bounded time (TOVRIK_FUZZ_SECONDS, default 60) starting from its seeds and the INI test files,
# then replays every input kept in fuzz/regressions. Usage: scripts/fuzz.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${TOVRIK_FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVRIK_FUZZ=ON -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF -DTOVRIK_WERROR=ON >/dev/null
cmake --build "$build" --target ini_reader_fuzz -j "$(nproc)"
fuzzer=$build/fuzz/ini_reader_fuzz

# New inputs go to a corpus in the build folder; the seeds in the tree stay as they are.
corpus=$build/fuzz-corpus/ini_reader
artifacts=$build/fuzz-artifacts/
mkdir -p "$corpus" "$artifacts"
echo "fuzz: ini_reader_fuzz for ${seconds}s"
"$fuzzer" "$corpus" "$root/fuzz/corpus" "$root/tests/settings/data/input" \
    -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts" 2>"$build/fuzz-ini_reader.log" ||
    { tail -n 40 "$build/fuzz-ini_reader.log"; echo "fuzz: crash kept in $artifacts" >&2; exit 1; }
grep -E '^stat::number_of_executed_units' "$build/fuzz-ini_reader.log" || true

mapfile -t regressions < <(find "$root/fuzz/regressions" -type f -name 'ini_reader_fuzz-*' | sort)
if [ ${#regressions[@]} -gt 0 ]; then
    echo "fuzz: replaying ${#regressions[@]} regression input(s)"
    "$fuzzer" "${regressions[@]}"
fi
