#!/usr/bin/env python3
"""Stands in for systemd's notify socket: records every datagram it gets,
one message per line (newlines inside a message become '|')."""
import socket
import sys

path, out = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
with open(out, "a", buffering=1) as f:
    while True:
        data = s.recv(65536)
        f.write(data.decode(errors="replace").replace("\n", "|") + "\n")
