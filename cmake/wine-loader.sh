# Sourced by the wine runners: sets `wine` to the command that starts a Windows program.
# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, and that one hands
# 64-bit programs on to wine64. On a machine that cannot execute 32-bit code at all (the kernel
# answers "exec format error") it starts nothing, 64-bit programs included; there the 64-bit
# loader is called directly: 64-bit programs run, 32-bit ones cannot, and the runners say so.
wine=wine
if ! wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
