#!/usr/bin/env python3
"""How long pos-player --detect takes to find an OCS on COM4 (19200, odd parity) behind COM3.

  tools/detect_time.py silent|streaming [PLAYER]

COM3 is a device that stays silent, or one that streams a log line every 10 ms; both are
pseudo-terminals named through a ports folder of a temporary home, so no real device is touched.
Prints the seconds taken and what the player found.
"""
import os
import pty
import subprocess
import sys
import tempfile
import termios
import threading
import time

mode = sys.argv[1] if len(sys.argv) > 1 else "silent"
player = sys.argv[2] if len(sys.argv) > 2 else "build/tools/pos-player/pos-player"
home = tempfile.mkdtemp()
ports = os.path.join(home, "config", "Veltrin Applications", "ports")
by_id = os.path.join(home, "by-id")
os.makedirs(ports)
os.makedirs(by_id)
noisy_master, noisy_slave = pty.openpty()
ocs_master, ocs_slave = pty.openpty()
os.set_blocking(noisy_master, False)
for n in range(1, 15):  # every other name leads nowhere
    target = {3: os.ttyname(noisy_slave), 4: os.ttyname(ocs_slave)}.get(n, "/nonexistent/no-such-device")
    os.symlink(target, os.path.join(ports, "COM%d" % n))
done = threading.Event()


def ocs():
    """Answers each ENQ with ACK, at 19200 baud only."""
    while not done.is_set():
        try:
            data = os.read(ocs_master, 100)
        except OSError:
            return
        if b"\x05" in data and termios.tcgetattr(ocs_slave)[5] == termios.B19200:
            os.write(ocs_master, b"\x06")


def noisy():
    while mode == "streaming" and not done.is_set():
        try:
            os.write(noisy_master, b"$GPGGA,123519,4807.038,N\r\n")
        except OSError:
            pass  # its buffer is full: nobody reads it
        time.sleep(0.01)


threading.Thread(target=ocs, daemon=True).start()
threading.Thread(target=noisy, daemon=True).start()
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), POS_EMULATOR_SERIAL_BY_ID=by_id)
start = time.monotonic()
run = subprocess.run([player, "--detect"], env=env, capture_output=True, text=True)
took = time.monotonic() - start
done.set()
print("COM3 %s: %.1f s, status %d: %s" % (mode, took, run.returncode, run.stdout.strip() or run.stderr.strip()))
