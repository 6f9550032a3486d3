#!/bin/sh
# Runs a Windows test program under wine64 with the build tree's own, quiet wine prefix. The
# prefix is made on first use, once, whichever test or test listing comes first.
# Usage: wine-run.sh PREFIX PROGRAM [ARG]...
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # wineserver -w: until the new prefix is written out, before anything runs in it.
  flock "$prefix.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }'
fi
exec wine "$@"
