#!/usr/bin/env bash
# The whole test suite: the native build with its unit and end-to-end tests,
# then the Windows builds. Run from anywhere; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s ==\n' "$*"; }

# Builds and tests use the machine's processors unless told otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"

# The house style (.clang-format): a change that breaks it fails here, before
# anything is built. Table files that tools read line by line opt out inside.
step "Format"
find src server tests fuzz bench examples \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \
  -o -name '*.inc' \) -print0 | xargs -0 -r clang-format --dry-run --Werror

step "Linux: build"
cmake --preset linux >/dev/null
cmake --build --preset linux

step "Linux: unit and end-to-end tests"
ctest --preset linux

# The attack, failing-call and concurrency modules once more, twice: a row
# that passes only now and then is a defect, and this is where it shows.
for round in 2 3; do
  step "Linux: the attack modules again (round $round of 3)"
  ctest --preset linux -R '^e2e_(write_attacks|failing_calls|reliability|checkout)$'
done

# The same suites built with AddressSanitizer (LeakSanitizer at every exit)
# and UndefinedBehaviorSanitizer; a finding fails its test (exit code 86).
step "Linux, sanitized: build"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan

step "Linux, sanitized: unit and end-to-end tests"
ctest --preset linux-asan

# Fuzzing: every libFuzzer target of fuzz/ for TICKWRIGHT_FUZZ_SECONDS each
# (default 60; 0 skips), two at a time; a finding fails the run.
fuzz_seconds=${TICKWRIGHT_FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" = 0 ]; then
  step "Fuzzing: skipped (TICKWRIGHT_FUZZ_SECONDS=0)"
elif command -v clang++ >/dev/null; then
  step "Fuzzing: build (clang, libFuzzer, ASan, UBSan)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  step "Fuzzing: each target for ${fuzz_seconds}s"
  bash fuzz/run.sh "$fuzz_seconds"
elif [ "${CI:-}" = true ]; then
  echo "clang is missing; .ci/run installs it" >&2
  exit 1
else
  step "Fuzzing: skipped (install clang and libclang-rt-N-dev for its version N to run it)"
fi

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

# The Windows builds' unit and end-to-end tests under Wine, the 64-bit one's
# and then the 32-bit one's, in one Wine prefix of this build folder (a
# 64-bit prefix that also runs 32-bit programs) and with one wine server;
# both run, whatever the first gives, and each says how it went.
# The prefix is made with the 64-bit loader itself where it is a program of
# its own (Debian): the `wine` script starts the 32-bit loader first
# wherever 32-bit Wine is installed, and a kernel without IA-32 emulation
# refuses to run that. There the 32-bit loader runs under user-mode
# emulation (qemu-i386), as the i686 build's toolchain file arranges, and
# TICKWRIGHT_NO_IA32=1 takes that way on a kernel that runs 32-bit programs.
wine64=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } ||
         command -v wine || true)
loader32=/usr/lib/wine/wine   # Debian's 32-bit loader (package wine32:i386)
summary=""

# Why 32-bit Windows programs do not run here, on one line.
why_no_32bit_wine() {
  if [ ! -e "$loader32" ]; then
    echo "32-bit Wine is missing (Debian: dpkg --add-architecture i386 && apt-get update" \
         "&& apt-get install wine32:i386)"
  elif [ "${TICKWRIGHT_NO_IA32:-}" = 1 ]; then
    echo "taken for a kernel that runs no 32-bit programs (TICKWRIGHT_NO_IA32=1)"
  elif refusal=$("$loader32" --version 2>&1 >/dev/null) || [ -z "$refusal" ]; then
    echo "32-bit Windows programs do not start under this Wine"
  elif [[ "$refusal" == *"Exec format error"* ]]; then
    echo "this machine's kernel runs no 32-bit programs (Exec format error)"
  else
    echo "the 32-bit loader fails: ${refusal//$'\n'/ }"
  fi
}

# One Windows build's tests; its unit count and CTest's tally go to the log
# and into the summary. Returns CTest's status.
windows_tests() {
  local target=$1 log="build/mingw-$1/Testing/run-all.log" status=0
  shift
  mkdir -p "$(dirname "$log")"
  rm -f "build/mingw-$target/Testing/Temporary/LastTest.log"  # no count of an earlier run
  ctest --test-dir "build/mingw-$target" --output-on-failure "$@" 2>&1 | tee "$log" ||
    status=$?
  # A cross build's unit tests are one CTest test: the count is GoogleTest's.
  local unit tally
  unit=$(grep -h -m 1 '^\[  PASSED  \]' "build/mingw-$target/Testing/Temporary/LastTest.log" |
         sed 's/^\[  PASSED  \] //') || unit="no count (the unit tests failed or did not run)"
  tally=$(grep -m 1 'tests passed, .* failed out of' "$log") || tally="CTest ran no test"
  echo "Windows $target unit tests: $unit"
  echo "Windows $target end-to-end and unit (CTest): $tally"
  summary="$summary; Windows $target: ${tally}"
  return "$status"
}

failed=""
if [ ! -x build/mingw-x86_64/Tickwright.exe ] && [ ! -x build/mingw-i686/Tickwright.exe ]; then
  :  # not built: said above
elif [ -n "$wine64" ] && command -v wineserver >/dev/null; then
  export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all
  wineserver -p </dev/null >/dev/null 2>&1 || true  # for this run: ended below
  sh tests/wine-prefix.sh "$wine64"
  if [ -x build/mingw-x86_64/Tickwright.exe ]; then
    step "Windows x86_64: unit and end-to-end tests under Wine"
    windows_tests x86_64 || failed="$failed x86_64"
  fi
  if [ -x build/mingw-i686/Tickwright.exe ]; then
    reason=""
    [ "${TICKWRIGHT_NO_IA32:-}" != 1 ] && "$loader32" --version >/dev/null 2>&1 ||
      reason=$(why_no_32bit_wine)
    if [ -z "$reason" ]; then
      step "Windows i686: unit and end-to-end tests under 32-bit Wine"
      windows_tests i686 || failed="$failed i686"
    elif [ -e "$loader32" ] && command -v qemu-i386 >/dev/null; then
      # Emulated, a Windows program starts two orders of magnitude slower
      # (a minute and more): the tests labelled "emulated" in
      # tests/CMakeLists.txt run, the processor faults not at all.
      step "Windows i686: end-to-end tests labelled 'emulated' under 32-bit Wine in qemu-i386" \
           "($reason): processor faults left out, emulation cannot show them; unit tests" \
           "left out, they do not run under qemu-i386 (see tests/CMakeLists.txt)"
      windows_tests i686 -L emulated || failed="$failed i686"
    else
      step "Windows i686 tests: NOT RUN: $reason"
      if [ "${CI:-}" = true ]; then
        echo "The i686 build's tests cannot run: $reason; .ci/run installs 32-bit Wine" \
             "and qemu-user" >&2
        failed="$failed i686"
      else
        summary="$summary; the i686 build's tests did not run: $reason"
      fi
    fi
  fi
  wineserver -k || true
  if [ -n "$failed" ]; then
    step "Windows tests FAILED:$failed (${summary#; })"
    exit 1
  fi
elif [ "${CI:-}" = true ]; then
  echo "Wine is missing; .ci/run installs it" >&2
  exit 1
else
  step "Windows tests: skipped (apt-get install wine wine64 to run them under Wine," \
       "and wine32:i386 for the 32-bit build)"
fi

# Packages: the Debian package of the native build and a zip of each Windows
# build. The package is linted; under CI (as root) it is installed with dpkg,
# run from PATH and removed again, and nothing of it may be left. Each zip is
# unpacked and its tool run under Wine.
step "Packages: build"
cmake --build --preset linux --target package
zips=""
for target in i686 x86_64; do
  if [ -f "build/mingw-$target/CMakeCache.txt" ]; then
    cmake --build --preset "mingw-$target" --target package
    zips="$zips $(ls -t "$PWD/build/mingw-$target"/tickwright-*-windows-$target.zip | head -1)"
  fi
done

if command -v lintian >/dev/null; then
  step "Packages: lintian"
  lintian --fail-on error,warning "$(ls -t build/linux/tickwright_*.deb | head -1)"
elif [ "${CI:-}" = true ]; then
  echo "lintian is missing; .ci/run installs it" >&2
  exit 1
else
  step "Packages: lintian skipped (apt-get install lintian to run it)"
fi

install_deb=0
if [ "${CI:-}" = true ] && [ "$(id -u)" = 0 ]; then install_deb=1; fi
step "Packages: contents; install, run and removal (TICKWRIGHT_INSTALL_DEB=$install_deb); the zips under Wine"
export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all
if command -v wineserver >/dev/null; then mkdir -p "$WINEPREFIX"; wineserver -p || true; fi
status=0
deb=$(ls -t "$PWD"/build/linux/tickwright_*.deb | head -1)
(cd tests/e2e && TICKWRIGHT_DEB="$deb" TICKWRIGHT_ZIPS="$zips" \
  TICKWRIGHT_INSTALL_DEB=$install_deb PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v test_package) || status=$?
if command -v wineserver >/dev/null; then wineserver -k || true; fi
[ "$status" = 0 ] || exit "$status"

step "All tests passed${summary:+ (${summary#; })}"
