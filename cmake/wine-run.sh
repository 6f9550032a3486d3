#!/bin/sh
# Runs a Windows test program under wine with the build tree's own, quiet wine prefix, a WoW64
# one (64-bit wine with 32-bit support, as 64-bit Windows is), so that the x86_64 and the i686
# trees' programs run alike.
# Usage: wine-run.sh PREFIX [PROGRAM [ARG]...]; without a program it only makes the prefix.
#
# The prefix is made on first use. A wineserver that stays 10 s after its last program, and
# wine's own background processes (services.exe and the like), are started here, detached from
# every test's output: started by a test program instead, they would inherit its standard
# output and keep it open, so CTest would wait for them, and a new wineserver for each test
# costs seconds where a program in a running one starts in a fraction of a second.
prefix=$1; shift
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/wine-loader.sh"
export OMR72_WINE="$wine"
mkdir -p "$(dirname "$prefix")"
# wineserver -p exits with 0 only when it has started a server (2: one runs already). --close:
# the wineserver must not inherit the lock, or it would hold it for as long as it runs. Whether
# this wine runs 32-bit programs is tried once, when the prefix is made.
flock --close "$prefix.lock" sh -c '
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    $OMR72_WINE wineboot --init; wineserver -w
    $OMR72_WINE "C:\\windows\\syswow64\\cmd.exe" /c exit 7
    [ $? -eq 7 ] && touch "$WINEPREFIX/omr72-wow64.ok"
  fi
  if wineserver -p10; then $OMR72_WINE wineboot; fi' </dev/null >/dev/null 2>&1
[ $# -gt 0 ] || exit 0
# A 32-bit program (PE machine 014c) where 32-bit wine is missing fails with the reason, rather
# than with whatever a half-started wine prints (with WINEDEBUG=-all: nothing).
offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
if [ -n "$offset" ] && [ ! -f "$prefix/omr72-wow64.ok" ] &&
   [ "$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')" = 014c ]; then
  echo "wine-run.sh: FAILED: $1 is a 32-bit program, and this wine could not run one when" \
       "$prefix was made (32-bit wine is needed, on Debian wine32:i386, on a machine that" \
       "executes 32-bit code; where the kernel runs none, run the tests with" \
       "testbeds/windows/i386-guest testbeds/windows/win32-tests.sh, as the all preset does;" \
       "remove the prefix once it can)" >&2
  exit 1
fi
exec $wine "$@"
