#!/bin/sh
# Runs a command with a private, empty /dev/shm, so the plug-in, a daemon
# stand-in and the command's children meet on their own channel and never on
# a daemon running on this machine (the plug-in only knows the real names).
#
#   tools/run-isolated.sh CMD [ARGS...]
#
# Needs a new mount namespace: as root directly, otherwise through a user
# namespace. Where neither is permitted it runs CMD as it is, with a warning.

set -eu

if [ "$#" -eq 0 ]; then
    echo "usage: $0 CMD [ARGS...]" >&2
    exit 2
fi

# The probe mounts in a throw-away namespace; nothing outside changes.
probe='mount -t tmpfs -o mode=1777 tmpfs /dev/shm'

if unshare --mount sh -c "$probe" 2>/dev/null; then
    exec unshare --mount sh -c "$probe && exec \"\$@\"" run-isolated "$@"
fi

if unshare --map-root-user --mount sh -c "$probe" 2>/dev/null; then
    exec unshare --map-root-user --mount sh -c "$probe && exec \"\$@\"" run-isolated "$@"
fi

echo "run-isolated: cannot give the command a private /dev/shm; running it on the shared one" >&2
exec "$@"
