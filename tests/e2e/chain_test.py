"""End-to-end checks of the whole chain, process by process: a JACK dummy
server, the virtual device, the daemon and veltro-host playing a scripted
transport through the VST3 bundle. Each case runs in a private /dev/shm
(tools/run-isolated.sh), which also gives it a JACK server of its own, and on
a private session bus where a fake notification service records what the
daemon tells the desktop.

    chain_test.py --build BUILD_DIR --case NAME [--keep DIR]
"""

import argparse
import mmap
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SHM = "/dev/shm/Veltro_Daemon_SHM"
SEM = "/dev/shm/sem.Veltro_Daemon_SEM"
DEVICE = "Do-not-use-001"

# Offsets of the shared block's fields.
OFF_WRITE_INDEX = 16384
OFF_READ_INDEX = 16388
OFF_DAEMON_STATE = 16392
OFF_DEVICE_TYPE = 16396
OFF_PLUGIN_ENABLED = 16400
OFF_HOST_TYPE = 16404
OFF_RATE_IS_44100 = 16412
OFF_RATE_CHANGED = 16413
OFF_NOMINAL_BLOCK = 16416
OFF_ACTUAL_BLOCK = 16420
OFF_BLOCK_CHANGED = 16424

TICKS_PER_QUARTER = 768
DAEMON_IDLE = 1


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise Failure(f"timed out after {timeout} s waiting for {what}")


def number(text):
    """Event values are decimal or 0x-hex integers, or decimals with a point."""
    try:
        return int(text, 0)
    except ValueError:
        return float(text)


def parse_events(path):
    """One dict per "kind index=N key=value..." line."""
    events = []
    if not os.path.exists(path):
        return events
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if not parts or not line.endswith("\n"):
                continue
            e = {"kind": parts[0]}
            for p in parts[1:]:
                k, _, v = p.partition("=")
                e[k] = number(v)
            events.append(e)
    return events


def kinds(events, kind):
    return [e for e in events if e["kind"] == kind]


class Chain:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.procs = {}
        self.device_runs = 0
        self.env = dict(os.environ, JACK_NO_AUDIO_RESERVATION="1", JACK_NO_START_SERVER="1")
        self.notifications = os.path.join(work, "notifications.txt")
        self.host_bin = os.path.join(build, "tools/veltro-host_artefacts/RelWithDebInfo/veltro-host")
        self.bundle = os.path.join(build, "plugin/Veltro_artefacts/RelWithDebInfo/VST3/Veltro.vst3")
        self.device_bin = os.path.join(build, "tools/virtual-device/veltro-virtual-device")
        self.daemon_bin = os.path.join(build, "daemon/VeltroDaemon_artefacts/RelWithDebInfo/Veltro Daemon")

    def spawn(self, key, args, log):
        out = open(os.path.join(self.work, log), "w", encoding="utf-8")
        self.procs[key] = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, env=self.env)
        return self.procs[key]

    def log(self, name):
        path = os.path.join(self.work, name)
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""

    # ---- the pieces ----

    def start_notifications(self):
        here = os.path.dirname(os.path.abspath(__file__))
        self.spawn("notifications", ["/usr/bin/python3", os.path.join(here, "fake_notification_server.py"),
                                     self.notifications], "notification-server.log")
        wait_for(lambda: os.path.exists(self.notifications), 10, "the notification service")

    def start_jack(self, rate, period):
        self.spawn("jack", ["jackd", "-d", "dummy", "-r", str(rate), "-p", str(period)], "jackd.log")
        wait_for(lambda: subprocess.run(["jack_lsp"], capture_output=True, env=self.env).returncode == 0
                 and b"system:" in subprocess.run(["jack_lsp"], capture_output=True, env=self.env).stdout,
                 10, "the JACK server")

    def start_device(self):
        self.device_runs += 1
        n = self.device_runs
        events = os.path.join(self.work, f"device-events-{n}.txt")
        self.spawn("device", [self.device_bin, "--events", events], f"device-{n}.log")
        wait_for(lambda: "ready" in self.log(f"device-{n}.log"), 10, "the virtual device")
        return events

    def stop_device(self):
        p = self.procs.pop("device")
        p.send_signal(signal.SIGTERM)
        check(p.wait(10) == 0, "the virtual device did not end cleanly")

    def start_daemon(self):
        self.spawn("daemon", [self.daemon_bin], "daemon.log")
        wait_for(lambda: os.path.exists(SHM) and os.path.exists(SEM), 10, "the daemon's shared block")
        time.sleep(0.3)

    def stop_daemon(self):
        p = self.procs.pop("daemon")
        p.send_signal(signal.SIGTERM)
        code = p.wait(10)
        check(code == 0, f"the daemon ended with {code} on SIGTERM")
        check(not os.path.exists(SHM) and not os.path.exists(SEM), "the daemon left its names behind")

    def start_host(self, *args, key="host"):
        return self.spawn(key, [self.host_bin, self.bundle, "--copy-bundle", "--realtime", *args], f"{key}.log")

    def shutdown(self):
        for key in ["host", "host2", "daemon", "device", "jack", "notifications"]:
            p = self.procs.pop(key, None)
            if p is not None and p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()

    # ---- what can be seen from outside ----

    def shm_field(self, offset, fmt="<i"):
        with open(SHM, "rb") as f:
            f.seek(offset)
            return struct.unpack(fmt, f.read(struct.calcsize(fmt)))[0]

    def device_connections(self):
        out = subprocess.run(["jack_lsp", "-c"], capture_output=True, text=True, env=self.env).stdout
        lines = out.splitlines()
        connected = []
        for i, line in enumerate(lines):
            if line.startswith(DEVICE + ":"):
                j = i + 1
                while j < len(lines) and lines[j].startswith(" "):
                    connected.append(lines[j].strip())
                    j += 1
        return connected

    def notified(self):
        return open(self.notifications, encoding="utf-8").read().splitlines()


# ---- checks on the decoded stream ----

def check_burst_first(events, host_daw_code=0, system_code=3):
    # Server xruns are the device's own notes, not codes it received.
    events = [e for e in events if e["kind"] != "xrun"]
    check(events, "the device decoded nothing")
    first = events[0]
    check(first["kind"] == "marker", f"the stream does not open with the burst's marker: {first}")
    tokens = [e["value"] for e in events[1:16]]
    check(tokens == [0x3C, 0x9E, 0x16, 0xD2, 0x75, 0xE8, 0x4B, 0x0F, 0xA3, 0x61, 0xB9, 0x2E, 0x58, 0xC0, 0x97],
          f"token bytes {tokens}")
    check(all(e["kind"] == "tokenByte" and e["index"] == first["index"] + 1 + i for i, e in enumerate(events[1:16])),
          "token bytes not contiguous")
    bursts = kinds(events, "burst")
    check(bursts and bursts[0]["index"] == first["index"], "no burst recognised at the start")
    check(bursts[0]["token"] == 1 and bursts[0]["daw"] == host_daw_code and bursts[0]["system"] == system_code,
          f"burst content {bursts[0]}")
    check(kinds(events, "lock"), "the device never locked")


def absolute_tick(e, quarters_per_bar):
    return (e["bar"] * quarters_per_bar + e["beat"]) * TICKS_PER_QUARTER + e["tick"]


def check_played_transport(events, rate, bpm, numerator, denominator, seconds_playing):
    starts, stops = kinds(events, "start"), kinds(events, "stop")
    check(len(starts) == 1, f"{len(starts)} starts")
    check(len(stops) == 1 and stops[0]["index"] > starts[0]["index"], "no stop after the start")
    check(not kinds(events, "broken") and not kinds(events, "unknown"), "broken or unknown codes in the stream")

    tempos = kinds(events, "tempo")
    check(tempos and all(abs(t["bpm"] - bpm) < 1e-9 for t in tempos), f"tempo codes {tempos[:3]}")
    signatures = kinds(events, "timeSignature")
    check(signatures and all((s["numerator"], s["denominator"]) == (numerator, denominator) for s in signatures),
          f"time signature codes {signatures[:3]}")

    ticks = [e for e in kinds(events, "tick") if starts[0]["index"] < e["index"] < stops[0]["index"]]
    expected = seconds_playing * bpm / 60.0 * TICKS_PER_QUARTER
    # The plug-in's latency delay shifts the window a little; lost ticks show in the positions below.
    check(len(ticks) > 0.75 * expected, f"{len(ticks)} ticks while playing, about {expected:.0f} expected")
    check(all("bar" in t for t in ticks), "ticks without a position")

    # Quarters per bar as the plug-in counts them (the position words' beat is a quarter note).
    qpb = numerator * 4 // denominator
    ideal = rate * 60.0 / (bpm * TICKS_PER_QUARTER)
    # A late server cycle (xrun, common on a loaded 2-core machine) loses or
    # repeats the daemon's output, and the fill control then catches up: tick
    # timing near an xrun is the server's, not ours.
    xruns = [e["index"] for e in kinds(events, "xrun")]
    near_xrun = lambda index: any(-rate <= index - x <= 2 * rate for x in xruns)
    # The test host paces its blocks with sleeps, not with an audio clock: on a
    # busy 2-core machine one block now and then comes late enough for the
    # FIFO to run dry, and the daemon plays silence until it arrives. That
    # shifts the ticks after it without losing any; a few such gaps are the
    # test rig's, a steady stream of them would be ours.
    excused = 0
    late_blocks = []
    for a, b in zip(ticks, ticks[1:]):
        check(absolute_tick(b, qpb) == absolute_tick(a, qpb) + 1,
              f"position does not count on: {a} then {b}")
        check(b["beat"] < qpb and b["tick"] < TICKS_PER_QUARTER, f"position out of range: {b}")
        # The fill control may insert or drop one silent sample between two
        # ticks; tick times are placed to 1/4096 of a sample.
        interval = b["time"] - a["time"]
        if abs(interval - ideal) > 1.0 + 2.0 / 4096:
            if near_xrun(b["index"]):
                excused += 1
            else:
                check(interval > ideal, f"tick interval {interval} vs {ideal} at {b['index']}: a tick came early")
                late_blocks.append((b["index"], interval))
    check(len(late_blocks) <= 2, f"tick intervals too long at {late_blocks} (ideal {ideal})")
    if late_blocks:
        print(f"late host blocks (FIFO ran dry) at {late_blocks}")
    return ticks, excused + len(late_blocks)


def marker_gaps(events):
    """Samples between the markers injected while playing (the burst's own
    marker opens the stream, before the plug-in confirms, and is not one)."""
    bursts = {e["index"] for e in kinds(events, "burst")}
    markers = [e["index"] for e in kinds(events, "marker") if e["index"] not in bursts]
    return [b - a for a, b in zip(markers, markers[1:])]


# ---- the cases ----

PLAY_ROWS = {
    # name: jack rate, period, host block, bpm, signature
    "play-48k": (48000, 256, 512, 120.0, (4, 4)),
    "play-44k": (44100, 256, 128, 93.5, (3, 4)),
}


def case_play(chain, name):
    rate, period, block, bpm, (num, den) = PLAY_ROWS[name]
    chain.start_notifications()
    chain.start_jack(rate, period)
    events_path = chain.start_device()
    chain.start_daemon()

    host = chain.start_host("--rate", str(rate), "--block", str(block), "--bpm", str(bpm), "--sig", f"{num}/{den}",
                            "--seconds", "6", "--start-after", "1", "--stop-after", "5")
    check(host.wait(30) == 0, "veltro-host failed:\n" + chain.log("host.log"))
    chain.procs.pop("host")

    # With the plug-in gone the daemon closes the output and the device loses the signal.
    wait_for(lambda: kinds(parse_events(events_path), "unlock"), 5, "the device to lose the signal")
    wait_for(lambda: not chain.device_connections(), 5, "the daemon to close its output")
    state = chain.shm_field(OFF_DAEMON_STATE)
    check(state == DAEMON_IDLE, f"daemonState is {state}, not idle, after the plug-in left")

    events = parse_events(events_path)
    check_burst_first(events)
    ticks, excused = check_played_transport(events, rate, bpm, num, den, 4.0)
    # About every 300 samples, also inside the server's long periods (320 is
    # the spacing 32-sample callbacks give). Gaps after the stop do not count.
    gaps = [g for g in marker_gaps([e for e in events if e["index"] < kinds(events, "stop")[0]["index"]])]
    check(gaps and max(gaps) <= 320, f"markers up to {max(gaps) if gaps else None} samples apart")
    check(chain.notified() == [], f"notifications without a device change: {chain.notified()}")
    chain.stop_daemon()
    print(f"{name}: {len(ticks)} ticks in order, markers {min(gaps)}..{max(gaps)} samples apart, "
          f"{excused} tick intervals off by more than a sample next to {len(kinds(events, 'xrun'))} server xruns")


def start_streaming(chain):
    chain.start_notifications()
    chain.start_jack(48000, 256)
    events_path = chain.start_device()
    chain.start_daemon()
    chain.start_host("--hold", "--start-after", "0.5")
    wait_for(lambda: len(kinds(parse_events(events_path), "tick")) > 500, 15, "ticks at the device")
    return events_path


def case_host_killed(chain, _):
    events_path = start_streaming(chain)
    killed_at = time.monotonic()
    chain.procs.pop("host").kill()

    # 1024 callbacks of 32 samples without codes, then the next 300 ms timer closes the output.
    wait_for(lambda: chain.shm_field(OFF_PLUGIN_ENABLED) == 0, 3, "the daemon to free the channel")
    wait_for(lambda: chain.shm_field(OFF_DAEMON_STATE) == DAEMON_IDLE, 3, "the daemon to close the output")
    wait_for(lambda: not chain.device_connections(), 3, "the output to be disconnected")
    freed_after = time.monotonic() - killed_at
    wait_for(lambda: kinds(parse_events(events_path), "unlock"), 3, "the device to lose the signal")
    check(chain.procs["daemon"].poll() is None, "the daemon died")

    # The channel is usable again: a new host streams through the same daemon.
    chain.start_host("--hold", "--start-after", "0.2", key="host2")
    wait_for(lambda: len(kinds(parse_events(events_path), "burst")) == 2, 10, "a second burst")
    count = len(kinds(parse_events(events_path), "tick"))
    wait_for(lambda: len(kinds(parse_events(events_path), "tick")) > count + 500, 10, "ticks from the new host")
    chain.stop_daemon()
    print(f"host-killed: output closed {freed_after:.2f} s after the kill; a new host streamed again")


def case_daemon_restart(chain, _):
    events_path = start_streaming(chain)
    chain.procs.pop("daemon").kill()
    check(os.path.exists(SHM), "the killed daemon's block should still be there")
    bursts_before = len(kinds(parse_events(events_path), "burst"))

    chain.start_daemon()
    restarted_at = time.monotonic()
    wait_for(lambda: len(kinds(parse_events(events_path), "burst")) > bursts_before, 10, "a burst from the new daemon")
    rejoined_after = time.monotonic() - restarted_at
    ticks = len(kinds(parse_events(events_path), "tick"))
    wait_for(lambda: len(kinds(parse_events(events_path), "tick")) > ticks + 500, 10, "ticks after the restart")
    check(chain.procs["host"].poll() is None, "the host died")
    chain.stop_daemon()
    print(f"daemon-restart: the plug-in streamed again {rejoined_after:.2f} s after the restart")


def case_device_replug(chain, _):
    start_streaming(chain)
    chain.stop_device()
    wait_for(lambda: "Tactora disconnected." in chain.notified(), 6, '"Tactora disconnected."')
    check(chain.procs["daemon"].poll() is None, "the daemon died")

    events_path = chain.start_device()
    added_at = time.monotonic()
    wait_for(lambda: "Tactora connected." in chain.notified(), 15, '"Tactora connected."')
    noticed_after = time.monotonic() - added_at
    wait_for(lambda: kinds(parse_events(events_path), "burst"), 6, "a burst at the re-added device")
    wait_for(lambda: len(kinds(parse_events(events_path), "tick")) > 500, 10, "ticks at the re-added device")
    check_burst_first(parse_events(events_path))
    check(chain.notified() == ["Tactora disconnected.", "Tactora connected."], f"notifications {chain.notified()}")
    chain.stop_daemon()
    print(f"device-replug: notified both ways (connected {noticed_after:.2f} s after the device came back), "
          "output reopened, streaming again")


def case_server_after_daemon(chain, _):
    # The daemon starts before any audio server (as at login); the server and
    # the device come later and are noticed without a restart.
    chain.start_notifications()
    chain.start_daemon()
    time.sleep(1.0)
    chain.start_jack(48000, 256)
    events_path = chain.start_device()
    came_at = time.monotonic()
    wait_for(lambda: "Tactora connected." in chain.notified(), 15, '"Tactora connected." once the server runs')
    noticed_after = time.monotonic() - came_at

    chain.start_host("--hold", "--start-after", "0.5")
    wait_for(lambda: len(kinds(parse_events(events_path), "tick")) > 500, 15, "ticks at the device")
    check_burst_first(parse_events(events_path))
    chain.stop_daemon()
    print(f"server-after-daemon: device noticed {noticed_after:.2f} s after it came, streaming")


def case_rogue_writer(chain, _):
    start_streaming(chain)
    rng = random.Random(4)
    huge = [0, -1, -32768, 1, 17, 31, 4095, 8191, 8192, 65535, 2**31 - 1, -2**31, rng.randrange(2**31)]
    fields = [(OFF_WRITE_INDEX, "<I"), (OFF_READ_INDEX, "<I"), (OFF_DAEMON_STATE, "<i"), (OFF_DEVICE_TYPE, "<i"),
              (OFF_PLUGIN_ENABLED, "<i"), (OFF_HOST_TYPE, "<H"), (OFF_RATE_IS_44100, "<B"), (OFF_RATE_CHANGED, "<B"),
              (OFF_NOMINAL_BLOCK, "<i"), (OFF_ACTUAL_BLOCK, "<i"), (OFF_BLOCK_CHANGED, "<B")]

    fd = os.open(SHM, os.O_RDWR)
    block = mmap.mmap(fd, 16428)
    try:
        deadline = time.monotonic() + 4.0
        writes = 0
        while time.monotonic() < deadline:
            offset, fmt = rng.choice(fields)
            size = struct.calcsize(fmt)
            value = rng.choice(huge) % (1 << (8 * size))
            block[offset:offset + size] = value.to_bytes(size, "little")
            if rng.random() < 0.2:  # garbage codes in the FIFO too
                slot = rng.randrange(8192)
                block[slot * 2:slot * 2 + 2] = rng.randrange(65536).to_bytes(2, "little")
            writes += 1
            time.sleep(0.0005)
            check(chain.procs["daemon"].poll() is None, f"the daemon died after {writes} garbage writes")
    finally:
        block.close()
        os.close(fd)

    time.sleep(1.5)
    check(chain.procs["daemon"].poll() is None, "the daemon died after the garbage")
    chain.stop_daemon()
    print(f"rogue-writer: {writes} garbage writes, the daemon kept running and shut down cleanly")


CASES = {
    "play-48k": case_play,
    "play-44k": case_play,
    "host-killed": case_host_killed,
    "daemon-restart": case_daemon_restart,
    "device-replug": case_device_replug,
    "server-after-daemon": case_server_after_daemon,
    "rogue-writer": case_rogue_writer,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--keep", help="copy the logs and event files here")
    args = parser.parse_args()

    if os.path.exists(SHM):
        print("a daemon's block is already in this /dev/shm: run under tools/run-isolated.sh", file=sys.stderr)
        return 2

    work = tempfile.mkdtemp(prefix=f"veltro-e2e-{args.case}-")
    chain = Chain(os.path.abspath(args.build), work)
    result = 0
    try:
        CASES[args.case](chain, args.case)
    except Failure as failure:
        print(f"FAILED {args.case}: {failure}", file=sys.stderr)
        for name in sorted(os.listdir(work)):
            if name.endswith(".log"):
                print(f"---- {name} (end) ----\n" + "".join(chain.log(name).splitlines(True)[-15:]), file=sys.stderr)
        result = 1
    finally:
        chain.shutdown()
        if args.keep:
            shutil.copytree(work, args.keep, dirs_exist_ok=True)
        shutil.rmtree(work, ignore_errors=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
