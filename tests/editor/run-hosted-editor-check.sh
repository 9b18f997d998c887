#!/bin/sh
# Runs the hosted-editor check on its own X display and in a private /dev/shm
# (the plug-in uses the channel's real names), then fails on any leak that
# JUCE's leak detector reports when the program ends.
#   run-hosted-editor-check.sh PROGRAM BUNDLE [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

if ! unshare -m true 2>/dev/null; then
    echo "needs a private mount namespace (run as root)"
    exit 77
fi

unshare -m sh -c 'mount -t tmpfs tmpfs /dev/shm && exec "$@"' sh \
    "$here/run-with-display.sh" "$@" >"$log" 2>&1
status=$?
cat "$log"

if grep -q -e "Leaked objects" -e "juce_LeakedObjectDetector" "$log"; then
    echo "FAILED: JUCE reported leaked objects"
    exit 1
fi
exit $status
