#!/usr/bin/env bash
# The main job, on any Debian 12 machine: installs and builds, then loads the
# built Veltro.vst3 into veltro-host, plays a scripted transport through it
# (126 BPM in 3/4: start, six seconds of bars, stop) and shows the stream the
# daemon's side of the channel receives, decoded beat by beat.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

host=build/tools/veltro-host_artefacts/RelWithDebInfo/veltro-host
bundle=build/plugin/Veltro_artefacts/RelWithDebInfo/VST3/Veltro.vst3

# A private /dev/shm: the demo never meets a daemon running on this machine.
exec tools/run-isolated.sh "$host" "$bundle" --copy-bundle --standin --realtime \
    --bpm 126 --sig 3/4 --start-after 0.5 --stop-after 6 --seconds 6.5
