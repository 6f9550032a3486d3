#!/bin/sh
# Runs a test in a network namespace of its own where one can be made. The instance lock on
# Linux is an abstract Unix socket, and those exist per network namespace: inside its own, a
# test's lock cannot meet one that another program on this machine holds. Where no namespace
# can be made (no privilege, no user namespaces), the test runs as it is.
# Usage: own_network.sh COMMAND [ARG]...
if unshare --net true 2>/dev/null; then
  exec unshare --net "$@"
fi
if unshare --map-root-user --net true 2>/dev/null; then
  exec unshare --map-root-user --net "$@"
fi
exec "$@"
