#!/usr/bin/env python3
"""Pty feeder for the comm32 benchmark.

Serves a pty at LINK. Commands from the Windows side (one byte each):
  L  answer with a 30-byte reply at once
  S  send STREAM bytes as fast as the reader takes them
  Q  end the Wine phase; then read the same amount through the pty slave with
     a plain Linux reader and print its time.
"""
import os
import sys
import threading
import time
import tty

link, stream = sys.argv[1], int(sys.argv[2])
pattern = bytes(i % 251 for i in range(251 * 64))
data = (pattern * (stream // len(pattern) + 1))[:stream]

master, slave = os.openpty()
tty.setraw(slave)
name = os.ttyname(slave)
# The slave stays open here: a master without any slave reads EIO.
if os.path.lexists(link):
    os.unlink(link)
os.symlink(name, link)
print("ready", name, flush=True)


def write_all(fd, payload):
    view = memoryview(payload)
    while view:
        n = os.write(fd, view)
        view = view[n:]


while True:
    cmd = os.read(master, 1)
    if cmd == b"L":
        write_all(master, b"\r\nBENCH LATENCY REPLY 0123\r\n")
    elif cmd == b"S":
        start = time.monotonic()
        write_all(master, data)
        print("feeder_stream_seconds %.3f" % (time.monotonic() - start), flush=True)
    elif cmd == b"Q":
        break

time.sleep(0.5)
reader = os.open(name, os.O_RDWR | os.O_NOCTTY)
tty.setraw(reader)
got = bytearray()


def read_all():
    while len(got) < stream:
        got.extend(os.read(reader, 65536))


t = threading.Thread(target=read_all)
start = time.monotonic()
t.start()
write_all(master, data)
t.join()
elapsed = time.monotonic() - start
print("linux_ok %d" % (bytes(got) == data), flush=True)
print("linux_seconds %.3f" % elapsed, flush=True)
print("linux_mib_per_s %.2f" % (stream / elapsed / 1048576), flush=True)
os.unlink(link)
