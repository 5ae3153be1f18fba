#!/bin/sh
# Readies the Wine prefix of the Windows builds' tests (WINEPREFIX): made on
# first use, its server and services started with no test's output open,
# since they live as long as the server and would hold those pipes open.
# Argument: the 64-bit loader (the `wine` script starts the 32-bit one
# first wherever 32-bit Wine is installed, which some kernels refuse).
set -e
wine64=${1:-/usr/lib/wine/wine64}
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
mkdir -p "$WINEPREFIX"
# Kept a minute past its last program; a server already running stays as it is.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine64" wineboot --init </dev/null >/dev/null 2>&1 || true
fi
"$wine64" cmd /c exit </dev/null >/dev/null 2>&1
