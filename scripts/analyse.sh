#!/usr/bin/env bash
# Static analysis of the project's C++ sources: clang-tidy (with the checked-in .clang-tidy) and
# cppcheck (with .cppcheck-suppressions), over the host build, the Windows build and the fuzz
# build, each as its compilation database gives the files and flags. Exits non-zero on any
# finding. Configures the presets it needs (nothing is built); JOBS sets the parallel runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}
work=build/analyse
mkdir -p "$work"

# The benchmarks and the Windows-side test tool are left out: they are measuring and test
# tools, not part of the program or its tests.
excluded='^(build|bench|tests/wintool)/'

# Writes $work/<name>/compile_commands.json: the C++ entries of build/<name>'s database whose
# files lie in the source tree, match `only` and lie outside $excluded, each file once.
filter_database() {
  local name=$1 only=$2
  mkdir -p "$work/$name"
  python3 - "$root" "build/$name/compile_commands.json" "$work/$name/compile_commands.json" \
    "$excluded" "$only" <<'EOF'
import json, os, re, sys
root, source, target, excluded, only = sys.argv[1:]
kept, seen = [], set()
for entry in json.load(open(source)):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if not path.endswith(".cpp") or path.startswith("..") or re.match(excluded, path):
        continue
    if not re.match(only, path):
        continue
    if path not in seen:
        seen.add(path)
        kept.append(entry)
json.dump(kept, open(target, "w"), indent=1)
print("\n".join(sorted(seen)))
EOF
}

# clang-tidy on one file; prints its findings, if any, and fails on them.
tidy_one() {
  local database=$1 file=$2
  shift 2
  local output status=0
  output=$(clang-tidy -p "$database" --quiet --warnings-as-errors='*' "$@" "$file" 2>&1) || status=$?
  # Only the findings: the counts of suppressed warnings in system headers are no news.
  output=$(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' <<<"$output" || true)
  if [ "$status" -ne 0 ] || [ -n "$output" ]; then
    printf '%s\n' "$output"
    return 1
  fi
}
export -f tidy_one

failed=0

# name, preset, which files (a regex on their paths), extra clang-tidy arguments.
run_build() {
  local name=$1 preset=$2 only=$3
  shift 3
  echo "== $name: configuring the $preset preset for its compilation database"
  cmake --preset "$preset" >/dev/null
  local files
  files=$(filter_database "$name" "$only")
  echo "== $name: clang-tidy over $(wc -l <<<"$files") files"
  if ! xargs -P "$jobs" -I{} bash -c 'tidy_one "$@"' _ "$work/$name" {} "$@" <<<"$files"; then
    echo "clang-tidy: findings in the $name build"
    failed=1
  fi
}

run_build host host '.'
# The fuzz build compiles the same core as the host build; only its fuzz target is its own.
run_build fuzz fuzz '^tests/fuzz/'
# The Windows build: clang-tidy is told the target, and given the C++ library headers of the
# mingw-w64 compiler (which clang does not find in its "12-posix" folder by itself).
windows_args=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r dir; do
  windows_args+=("--extra-arg=-isystem$dir")
done < <(x86_64-w64-mingw32-g++ -xc++ -E -v - </dev/null 2>&1 |
  sed -n '/#include <...> search starts here:/,/End of search list./p' | grep '/c++' |
  while read -r dir; do realpath "$dir"; done)
run_build windows windows '.' "${windows_args[@]}"

# cppcheck: the same files and flags. Only our own headers are given (-I from the databases);
# the system ones are described by cppcheck's library files instead.
cppcheck_build() {
  local name=$1
  shift
  echo "== $name: cppcheck"
  mkdir -p "$work/$name/cppcheck"
  if ! cppcheck --project="$work/$name/compile_commands.json" --cppcheck-build-dir="$work/$name/cppcheck" \
    -j "$jobs" --quiet --std=c++20 --enable=warning,style,performance,portability \
    --inline-suppr --suppressions-list=.cppcheck-suppressions --error-exitcode=1 \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' "$@"; then
    echo "cppcheck: findings in the $name build"
    failed=1
  fi
}
cppcheck_build host --library=googletest
cppcheck_build fuzz
cppcheck_build windows --library=windows --platform=win64

if [ "$failed" -ne 0 ]; then
  echo "static analysis: FAILED"
  exit 1
fi
echo "static analysis: clean"
