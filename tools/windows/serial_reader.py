#!/usr/bin/env python3
"""Plays the part of a device on a serial line: opens a pseudo-terminal, links its device to LINK
(a Wine COM port under dosdevices, or an entry of POS Emulator's ports folder), runs COMMAND, and
reads what it sends until it ends. Prints the line settings seen while it sent (baud rate, stop
bits, hardware flow control) and then the bytes, in hex, one frame per line (a frame ends after
ETX and its checksum byte). With --ack-at BAUD,odd first it answers each ENQ with an ACK, as an OCS
does, but only while the line is set to that rate with odd parity."""
import os
import select
import subprocess
import sys
import termios
import tty

RATES = {getattr(termios, "B%d" % r): r for r in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: serial_reader.py [--ack-at BAUD,odd] LINK COMMAND...")
    ack_at = None
    if sys.argv[1] == "--ack-at":
        ack_at = int(sys.argv[2].split(",")[0])
        del sys.argv[1:3]
    link, command = sys.argv[1], sys.argv[2:]
    master, slave = os.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(path, link)
    try:
        player = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        data = b""
        settings = None
        while True:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                chunk = os.read(master, 4096)
                data += chunk
                attrs = termios.tcgetattr(slave)
                # Under Wine the line shows odd parity as PARODD without PARENB (the probe leaves the
                # DCB's parity checking off); a pseudo-terminal applies neither.
                if ack_at and attrs[2] & termios.PARODD and RATES.get(attrs[5]) == ack_at:
                    os.write(master, b"\x06" * chunk.count(b"\x05"))
                if settings is None:  # read while the sender has the line open
                    settings = "baud %s, stop bits %d, hardware flow %s" % (
                        RATES.get(attrs[5], attrs[5]),
                        2 if attrs[2] & termios.CSTOPB else 1,
                        "on" if attrs[2] & termios.CRTSCTS else "off")
            elif player.poll() is not None:
                break
        print(settings)
        frame = b""
        for i, byte in enumerate(data):
            frame += bytes([byte])
            if i > 0 and data[i - 1] == 0x03:
                print(frame.hex())
                frame = b""
        if frame:
            print(frame.hex())
        return player.returncode
    finally:
        os.remove(link)


if __name__ == "__main__":
    sys.exit(main())
