#!/usr/bin/env python3
"""A slow resolver, run in a network namespace: A queries for NAME on 127.0.0.1:53 get
127.0.0.1 after SECONDS, one query at a time; started under `timeout`, which ends it.
Usage: dns_peer.py READY_FILE NAME=SECONDS..."""
import socket, sys, time

delays = dict((n.split("=")[0], float(n.split("=")[1])) for n in sys.argv[2:])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 53))
open(sys.argv[1], "w").write("ready")
while True:
    query, client = sock.recvfrom(512)
    labels, at = [], 12
    while query[at]:
        labels.append(query[at + 1:at + 1 + query[at]].decode())
        at += 1 + query[at]
    time.sleep(delays.get(".".join(labels), 0))
    found = query[at + 1:at + 3] == b"\0\1"
    answer = b"\xc0\x0c\0\1\0\1\0\0\0\x3c\0\4\x7f\0\0\1" if found else b""
    sock.sendto(query[:2] + b"\x81\x80\0\1\0" + bytes([found]) + b"\0\0\0\0" + query[12:at + 5]
                + answer, client)
