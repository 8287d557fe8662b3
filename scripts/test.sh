#!/usr/bin/env bash
# Installs what is missing, then builds every preset and runs every test, quickest first: the
# unit tests on the host, the same under AddressSanitizer and UBSan, the fuzz target of the
# command-line reader (seeds, then a minute of fuzzing), the static analysers, Trimbolt64.exe
# built with clang (its executable checks and one run under Wine), and the GCC build end to end
# under Wine with its release files (the MSI under Windows Installer, the task under Task
# Scheduler, the signing step). Every step runs even when an earlier one fails; the exit code is
# non-zero if any failed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

failed=()
step() {
  echo "==== $*"
  local start=$SECONDS
  if "$@"; then
    echo "==== passed in $((SECONDS - start)) s: $*"
  else
    echo "==== FAILED in $((SECONDS - start)) s: $*"
    failed+=("$*")
  fi
}

step cmake --workflow --preset host
step cmake --workflow --preset host-sanitize
step cmake --workflow --preset fuzz
step scripts/analyse.sh
step cmake --workflow --preset windows-clang
step cmake --workflow --preset windows

if [ ${#failed[@]} -ne 0 ]; then
  printf 'failed: %s\n' "${failed[@]}"
  exit 1
fi
echo "all steps passed"
