#!/bin/sh
# Runs a Windows test program under wine64 with the build tree's own, quiet wine prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARG]...
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
