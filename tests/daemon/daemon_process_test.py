#!/usr/bin/env python3
"""The daemon as a process, with no display and no audio server: one
instance only, and a clean end on SIGINT and on SIGTERM (daemon state 0
written into the block, both names removed). Runs in a private /dev/shm."""

import mmap
import os
import signal
import struct
import subprocess
import sys
import time

SHM = "/dev/shm/Veltro_Daemon_SHM"
SEM = "/dev/shm/sem.Veltro_Daemon_SEM"
BLOCK_SIZE = 16428
OFF_DAEMON_STATE = 16392
DAEMON_IDLE = 1


def fail(message):
    print(f"FAILED: {message}", file=sys.stderr)
    sys.exit(1)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            fail(f"timed out after {seconds} s waiting for {what}")
        time.sleep(0.05)


def daemon_state(block):
    return struct.unpack_from("<i", block, OFF_DAEMON_STATE)[0]


def run_once(daemon, env, sig):
    first = subprocess.Popen([daemon], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: os.path.exists(SHM) and os.path.exists(SEM), 10, "the daemon's names")

    fd = os.open(SHM, os.O_RDWR)
    block = mmap.mmap(fd, BLOCK_SIZE)
    inode = os.fstat(fd).st_ino
    try:
        wait_for(lambda: daemon_state(block) == DAEMON_IDLE, 5, "daemon state 1 (idle)")

        # A second launch hands over to the running one and ends; the block stays the same object.
        second = subprocess.run([daemon], env=env, capture_output=True, timeout=20)
        if second.returncode != 0:
            fail(f"the second launch ended with {second.returncode}")
        if first.poll() is not None:
            fail("the second launch ended the first")
        if os.stat(SHM).st_ino != inode:
            fail("the second launch replaced the running daemon's block")

        first.send_signal(sig)
        try:
            code = first.wait(10)
        except subprocess.TimeoutExpired:
            first.kill()
            fail(f"the daemon did not end on {sig.name}")
        if code != 0:
            fail(f"the daemon ended with {code} on {sig.name}")
        if daemon_state(block) != 0:
            fail(f"daemon state {daemon_state(block)} after {sig.name}, expected 0")
        if os.path.exists(SHM) or os.path.exists(SEM):
            fail(f"names left behind after {sig.name}")
    finally:
        block.close()
        os.close(fd)
    print(f"{sig.name}: one instance, state 0 written, names removed, exit 0")


def main():
    daemon = sys.argv[1]
    if os.path.exists(SHM):
        fail("a daemon's block is already in this /dev/shm: run under tools/run-isolated.sh")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["JACK_NO_START_SERVER"] = "1"
    for sig in (signal.SIGINT, signal.SIGTERM):
        run_once(daemon, env, sig)


if __name__ == "__main__":
    main()
