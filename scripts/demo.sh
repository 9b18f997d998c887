#!/usr/bin/env bash
# The main job: installs what is needed, builds, and runs the whole chain on
# this machine: a JACK dummy server (when no JACK server runs), the virtual
# device, the daemon, and veltro-host playing a scripted transport through the
# VST3 plug-in. The virtual device's console shows it locking to the stream.
# Everything runs with a private /dev/shm, so a daemon already running here is
# never disturbed; at the end every process is shut down.
#
#   scripts/demo.sh [SECONDS_PLAYING]     (default 8)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside" ]; then
    scripts/install-deps.sh
    scripts/build.sh
    exec tools/run-isolated.sh "$0" --inside "${1:-8}"
fi

seconds="$2"
build="$(realpath "${VELTRO_BUILD_DIR:-build}")"
host="$build/tools/veltro-host_artefacts/RelWithDebInfo/veltro-host"
bundle="$build/plugin/Veltro_artefacts/RelWithDebInfo/VST3/Veltro.vst3"
device="$build/tools/virtual-device/veltro-virtual-device"
daemon="$build/daemon/VeltroDaemon_artefacts/RelWithDebInfo/Veltro Daemon"
export JACK_NO_AUDIO_RESERVATION=1

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

# The private /dev/shm hides any JACK server of the machine, so this one is ours.
if ! jack_lsp >/dev/null 2>&1; then
    echo "== JACK dummy server, 48 kHz, period 256"
    jackd -d dummy -r 48000 -p 256 >/tmp/veltro-demo-jackd.log 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
fi

echo "== virtual device (its console below)"
"$device" &
pids+=($!)
sleep 0.5

echo "== Veltro Daemon"
"$daemon" >/tmp/veltro-demo-daemon.log 2>&1 &
pids+=($!)
sleep 1.5

total=$((seconds + 2))
echo "== veltro-host: 120 bpm, 4/4, plays from 1 s to $((seconds + 1)) s"
"$host" "$bundle" --copy-bundle --realtime --seconds "$total" --start-after 1 --stop-after "$((seconds + 1))" \
    >/tmp/veltro-demo-host.log 2>&1
sleep 1.5

echo "== shutting down"
cleanup
pids=()
trap - EXIT
echo "== done (logs: /tmp/veltro-demo-*.log)"
