#!/usr/bin/env bash
# Installs what building and testing Trimbolt needs on Debian, and only what is missing.
# Safe to run again: with everything present it changes nothing and asks no package server.
#
#   scripts/install-deps.sh [bench]
#
# With `bench`, also what the benchmarks need besides (matplotlib, for bench/effect.py's
# picture); the tests and CI do not need it.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb pulseaudio pulseaudio-utils
  python3 x11-utils
  clang-14 libclang-rt-14-dev clang-tidy cppcheck clang-format
  lld-14 llvm-14
  wixl msitools osslsigncode openssl
)

for group in "$@"; do
  case "$group" in
    bench) packages+=(python3-matplotlib) ;;
    *)
      echo "usage: $0 [bench]" >&2
      exit 2
      ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
