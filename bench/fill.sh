#!/usr/bin/env bash
# Builds the fill benchmark with the host preset and runs it; the arguments go to the benchmark
# (--repetitions N). It maps one block of at most 1 GiB at a time and takes about a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host --target trimbolt_fill_bench
exec build/host/bench/trimbolt_fill_bench "$@"
