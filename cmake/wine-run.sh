#!/bin/sh
# Runs a Windows test program under wine64 with the build tree's own, quiet wine prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARG]...
#
# The prefix is made on first use. A wineserver that stays 10 s after its last program, and
# wine's own background processes (services.exe and the like), are started here, detached from
# every test's output: started by a test program instead, they would inherit its standard
# output and keep it open, so CTest would wait for them, and a new wineserver for each test
# costs seconds where a program in a running one starts in a fraction of a second.
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
# wineserver -p exits with 0 only when it has started a server (2: one runs already). --close:
# the wineserver must not inherit the lock, or it would hold it for as long as it runs.
flock --close "$prefix.lock" sh -c '
  [ -f "$WINEPREFIX/system.reg" ] || { wineboot --init; wineserver -w; }
  if wineserver -p10; then wine wineboot; fi' </dev/null >/dev/null 2>&1
exec wine "$@"
