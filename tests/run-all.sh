#!/usr/bin/env bash
# The whole test suite: the native build with its unit and end-to-end tests,
# then the Windows builds. Run from anywhere; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s ==\n' "$*"; }

step "Linux: build"
cmake --preset linux >/dev/null
cmake --build --preset linux

step "Linux: unit and end-to-end tests"
ctest --preset linux

for target in i686 x86_64; do
  if command -v "$target-w64-mingw32-g++-posix" >/dev/null; then
    step "Windows $target: build (MinGW-w64)"
    cmake --preset "mingw-$target" >/dev/null
    cmake --build --preset "mingw-$target"
  elif [ "${CI:-}" = true ]; then
    echo "MinGW-w64 for $target is missing; .ci/run installs it" >&2
    exit 1
  else
    step "Windows $target: skipped (install g++-mingw-w64-$target-posix to build it)"
  fi
done

step "All tests passed"
