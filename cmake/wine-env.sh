#!/bin/sh
# Usage: wine-env.sh PREFIX COMMAND...
# Runs COMMAND with a private Wine prefix (built on first use, with a real
# documents folder so nothing is written into anyone's home) and a wineserver
# kept up for the whole run, so that each program start is cheap.
set -e
prefix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
if [ ! -f "$prefix/.ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    for d in "$prefix"/drive_c/users/*/Documents "$prefix"/drive_c/users/*/"My Documents"; do
        if [ -L "$d" ]; then rm -f "$d"; mkdir -p "$d"; fi
    done
    touch "$prefix/.ready"
fi
wineserver -p
# Wine starts its own services with the first program of a server session,
# and they keep the standard handles that program had. Start them here, on
# /dev/null: ctest waits until its test's output pipe closes.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
status=0
"$@" || status=$?
wineserver -k 2>/dev/null || true
exit $status
