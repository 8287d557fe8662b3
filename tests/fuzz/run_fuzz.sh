#!/usr/bin/env bash
# Runs a libFuzzer target over the seed corpus, or fuzzes it for a bounded time.
#   run_fuzz.sh FUZZER SEED_DIR WORK_DIR SECONDS
# SECONDS 0: each seed once, and nothing is written. Otherwise the seeds are copied into
# WORK_DIR/corpus (the fuzzer adds what it finds there, never to SEED_DIR) and it fuzzes for that
# long; a crashing or failing input is saved in WORK_DIR/artifacts. Exits non-zero on any finding.
set -euo pipefail

fuzzer=$1
seeds=$2
work=$3
seconds=$4

# The fuzzer stays within about 2% of a 24 GiB machine; ASan's quarantine of freed memory is
# kept small for that.
rss_limit_mb=480
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

shopt -s nullglob
seed_files=("$seeds"/*)
if [ ${#seed_files[@]} -eq 0 ]; then
  echo "no seeds in $seeds" >&2
  exit 1
fi

if [ "$seconds" -eq 0 ]; then
  exec "$fuzzer" -rss_limit_mb=$rss_limit_mb "${seed_files[@]}"
fi

mkdir -p "$work/corpus" "$work/artifacts"
cp -n "${seed_files[@]}" "$work/corpus/"
# 8,192 bytes: 4,096 code units, far longer than any number form, still quick to run.
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=$rss_limit_mb -max_len=8192 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"
