#!/bin/sh
# Plays Veltro in a real DAW: Ardour's headless Lua interpreter hosts the built
# bundle on a MIDI track, rolls for a few seconds at a set tempo and time
# signature, and the daemon stand-in decodes what arrives in the FIFO. The
# checks then run on the decoded events.
#
#   run-ardour-session.sh BUNDLE STANDIN CHECKS WORKDIR
#
# Run it under tools/run-isolated.sh: the stand-in creates the channel under
# its real names. Everything the run leaves (Ardour's home, the session, the
# outputs, the events) stays in WORKDIR for a look after a failure.
# Exit status: the checks' status; 77 when Ardour is not installed.

set -u

if [ "$#" -ne 4 ]; then
    echo "usage: $0 BUNDLE STANDIN CHECKS WORKDIR" >&2
    exit 2
fi

bundle=$1
standin=$2
checks=$3
work=$4

here=$(cd "$(dirname "$0")" && pwd)
ardour_lua=${VELTRO_ARDOUR_LUA:-ardour7-lua}
ardour_lib=${VELTRO_ARDOUR_LIB:-/usr/lib/ardour7}
scanner=$ardour_lib/ardour-vst3-scanner

bpm=132
numerator=3
denominator=4
roll_seconds=3

fail() {
    echo "daw: $*" >&2
    exit 1
}

if ! command -v "$ardour_lua" >/dev/null 2>&1 || [ ! -x "$scanner" ]; then
    echo "daw: Ardour 7 ($ardour_lua, $scanner) is not installed; scripts/install-deps.sh installs it" >&2
    exit 77
fi

[ -d "$bundle" ] || fail "no bundle at $bundle"
[ -x "$standin" ] || fail "no stand-in at $standin"
[ -x "$checks" ] || fail "no checks program at $checks"

# The stand-in replaces whatever channel it finds; on a shared /dev/shm that
# would be a running daemon's.
if [ -e /dev/shm/Veltro_Daemon_SHM ] || [ -e /dev/shm/sem.Veltro_Daemon_SEM ]; then
    fail "/dev/shm already holds a Veltro channel: run this under tools/run-isolated.sh"
fi

rm -rf "$work"
mkdir -p "$work" || fail "cannot create $work"
work=$(cd "$work" && pwd)

standin_pid=
cleanup() {
    if [ -n "$standin_pid" ] && kill -0 "$standin_pid" 2>/dev/null; then
        kill -TERM "$standin_pid" 2>/dev/null
        sleep 1
        kill -KILL "$standin_pid" 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

show() {
    echo "---- $1 (last lines) ----" >&2
    tail -n 40 "$2" >&2 2>/dev/null
}

# ---- Ardour's private home: its configuration, caches and the plug-in ----
home=$work/home
mkdir -p "$home/.config/ardour7" "$home/.vst3" "$home/.cache" "$home/.local/share"
export HOME="$home"
export XDG_CONFIG_HOME="$home/.config"
export XDG_CACHE_HOME="$home/.cache"
export XDG_DATA_HOME="$home/.local/share"
unset VST3_PATH

# Release builds of Ardour hide the dummy backend unless the configuration
# asks for it.
cat > "$home/.config/ardour7/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
  </Config>
</Ardour>
XML

cp -R "$bundle" "$home/.vst3/Veltro.vst3" || fail "cannot copy the bundle"

# Ardour trusts a scan result only when the library is older, by a whole
# second, than the cache file the scanner writes. A fresh copy scanned at once
# would be refused about half the time; a fixed old time stamp settles it.
find "$home/.vst3/Veltro.vst3" -exec touch -h -d @946684800 {} + || fail "cannot set the bundle's time stamps"

if ! LD_LIBRARY_PATH=$ardour_lib timeout -k 5 30 "$scanner" -q "$home/.vst3/Veltro.vst3" > "$work/scan.out" 2>&1; then
    show "ardour-vst3-scanner" "$work/scan.out"
    fail "Ardour's VST3 scanner rejected the bundle"
fi
ls "$home/.cache/ardour7/vst/"*.v3i >/dev/null 2>&1 || fail "the scanner wrote no cache file"

# ---- the daemon's side ----
events=$work/events.txt
: > "$events"
timeout -k 5 60 "$standin" --events "$events" > "$work/standin.out" 2> "$work/standin.err" &
standin_pid=$!

created=0
for _ in $(seq 1 100); do
    if grep -q '^standin.created=1' "$work/standin.out" 2>/dev/null; then
        created=1
        break
    fi
    kill -0 "$standin_pid" 2>/dev/null || break
    sleep 0.05
done
if [ "$created" -ne 1 ]; then
    show "stand-in" "$work/standin.err"
    fail "the stand-in did not create the channel"
fi

# ---- the session ----
started=$(date +%s)
timeout -k 5 40 "$ardour_lua" "$here/ardour-session.lua" "$work/session" \
    "$bpm" "$numerator" "$denominator" "$roll_seconds" "$events" > "$work/ardour.out" 2>&1
ardour_status=$?
echo "daw: the Ardour session took $(( $(date +%s) - started )) s (status $ardour_status)"

# The stand-in reports its totals when it is asked to end.
kill -TERM "$standin_pid" 2>/dev/null
for _ in $(seq 1 100); do
    kill -0 "$standin_pid" 2>/dev/null || break
    sleep 0.05
done
wait "$standin_pid"
standin_status=$?
standin_pid=

if [ "$ardour_status" -ne 0 ] || ! grep -q '^ardour.closed=1' "$work/ardour.out"; then
    show "ardour7-lua" "$work/ardour.out"
    fail "the Ardour session did not run to its end (status $ardour_status)"
fi
if [ "$standin_status" -ne 0 ]; then
    show "stand-in" "$work/standin.out"
    fail "the stand-in ended with status $standin_status"
fi

"$checks" --events "$events" --ardour "$work/ardour.out" --standin "$work/standin.out" \
    --bpm "$bpm" --numerator "$numerator" --denominator "$denominator" --rate 48000
status=$?
if [ "$status" -ne 0 ]; then
    show "ardour7-lua" "$work/ardour.out"
    show "stand-in" "$work/standin.out"
    echo "daw: everything the run left is in $work" >&2
fi
exit "$status"
