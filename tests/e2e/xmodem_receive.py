#!/usr/bin/python3
"""An XMODEM-1K receiver (CRC mode) from the python3-xmodem package on a pseudo-terminal.

    xmodem_receive.py OUT

Opens a pseudo-terminal pair, prints the slave device's path as the first line on
stdout and waits until someone opens that device. Then receives one XMODEM-1K
transfer on the master side (it sends "C" first, as a receiver does) and writes
the bytes it was given to OUT. The last line on stdout is "received N" on success.
Exit status: 0 when the transfer completed, 1 when it failed, 2 when no one opened
the device in time. Everything is bounded: the whole run ends after RUN_LIMIT.
"""

import os
import select
import signal
import sys
import termios
import time
import tty

from xmodem import XMODEM1k

RUN_LIMIT = 120        # seconds for everything
OPEN_WAIT = 30         # seconds for the sender to open the device
OPEN_POLL = 0.01
CLOSE_WAIT = 10        # seconds for the sender to close the device after the transfer


def main():
    out_path = sys.argv[1]
    signal.alarm(RUN_LIMIT)

    master, slave = os.openpty()
    # Raw 8-bit for the pair: no echo of the receiver's "C", no translation.
    tty.setraw(master, termios.TCSANOW)
    name = os.ttyname(slave)
    # With the slave closed, the master reports a hang-up until the sender opens it.
    os.close(slave)
    print(name, flush=True)

    poller = select.poll()
    poller.register(master, select.POLLIN)
    deadline = time.monotonic() + OPEN_WAIT
    while any(event & select.POLLHUP for _, event in poller.poll(0)):
        if time.monotonic() >= deadline:
            print("no one opened " + name, flush=True)
            return 2
        time.sleep(OPEN_POLL)

    def getc(size, timeout=1):
        data = b""
        end = time.monotonic() + timeout
        while len(data) < size:
            left = end - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([master], [], [], left)
            if not ready:
                return None
            try:
                chunk = os.read(master, size - len(data))
            except OSError:  # the sender closed the device
                return None
            if not chunk:
                return None
            data += chunk
        return data

    def putc(data, timeout=1):
        try:
            return os.write(master, data)
        except OSError:
            return None

    modem = XMODEM1k(getc, putc)
    with open(out_path, "wb") as stream:
        received = modem.recv(stream, crc_mode=1, retry=16, timeout=10, quiet=1)
    if received is None:
        print("transfer failed", flush=True)
        return 1
    # The ACK of the end mark may still sit in the pseudo-terminal: closing the master
    # now would hang the line up and discard it before the sender reads it. Wait until
    # the sender has closed the device.
    deadline = time.monotonic() + CLOSE_WAIT
    while not any(event & select.POLLHUP for _, event in poller.poll(10)):
        if time.monotonic() >= deadline:
            break
    print("received %d" % received, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
