#!/usr/bin/env python3
"""Scripted HTTP/HTTPS peer for the network tests.

Listens on 127.0.0.1 only, on a free port that it writes to --port-file. Every request it
receives is recorded byte for byte in --record-dir as NNN-cKK.bin (request number,
connection number); the server name of every TLS client hello ("None" when it carries
none) is appended to server-names.txt there. It answers with the exchanges of the --script file, in order, across
connections. It ends by itself after --time-limit seconds.

An exchange is a JSON object:
  reply     text sent back as it is (latin-1 code points are bytes); "{big:N}" is
            replaced by N characters "x"
  then      "keep" (serve the next request on this connection), "close", "reset"
            (abortive close), "stall" (send nothing more, keep the socket open),
            "starttls" (become the TLS server of this connection, as a proxy that
            lets a tunnel through to itself)
  delay     seconds to wait before the reply
  drip      seconds to wait between two bytes of the reply (a peer that keeps a
            request alive with a byte now and then)
  on_accept "close" to close the connection as soon as the client's first bytes are in,
            without answering; "send" to send the reply at once, unasked, and close;
            "stall" to do nothing at all (no TLS handshake either)
"""
import argparse
import json
import os
import socket
import ssl
import struct
import sys
import threading
import time

MAX_HEAD = 1 << 20


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data if data else None
        data += chunk
        if len(data) > MAX_HEAD:
            return data
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            try:
                length = int(value.strip())
            except ValueError:
                length = 0
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head + b"\r\n\r\n" + rest


def expand(text):
    while "{big:" in text:
        start = text.index("{big:")
        end = text.index("}", start)
        count = int(text[start + 5:end])
        text = text[:start] + "x" * count + text[end + 1:]
    return text.encode("latin-1")


class Peer:
    def __init__(self, args):
        self.args = args
        with open(args.script, encoding="utf-8") as handle:
            self.script = json.load(handle)
        self.lock = threading.Lock()
        self.next_exchange = 0
        self.request_count = 0
        self.connection_count = 0
        self.tls_context = None
        if args.cert:
            self.tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls_context.load_cert_chain(args.cert, args.key)
            self.tls_context.sni_callback = self.record_server_name

    def take_exchange(self):
        with self.lock:
            if self.next_exchange < len(self.script):
                item = self.script[self.next_exchange]
            else:
                item = self.script[-1] if self.args.repeat_last else None
            self.next_exchange += 1
            return item

    def peek_exchange(self):
        with self.lock:
            if self.next_exchange < len(self.script):
                return self.script[self.next_exchange]
            return self.script[-1] if self.args.repeat_last else None

    def record(self, connection_number, data):
        with self.lock:
            self.request_count += 1
            number = self.request_count
        path = os.path.join(self.args.record_dir, "%03d-c%02d.bin" % (number, connection_number))
        with open(path + ".tmp", "wb") as handle:
            handle.write(data)
        os.rename(path + ".tmp", path)

    def record_server_name(self, _connection, name, _context):
        with self.lock, open(os.path.join(self.args.record_dir, "server-names.txt"), "a") as out:
            out.write("%s\n" % name)

    def serve(self, conn, connection_number):
        try:
            first = self.peek_exchange()
            if first is not None and first.get("on_accept") == "close":
                self.take_exchange()
                # Take what the client sent first, so that the close is a clean one and
                # not a reset of unread data.
                conn.settimeout(2)
                try:
                    conn.recv(65536)
                    conn.shutdown(socket.SHUT_WR)
                    conn.recv(65536)
                except OSError:
                    pass
                conn.close()
                return
            if first is not None and first.get("on_accept") == "stall":
                self.take_exchange()
                time.sleep(self.args.time_limit)
                return
            if first is not None and first.get("on_accept") == "send":
                self.take_exchange()
                conn.sendall(expand(first.get("reply", "")))
                time.sleep(0.5)
                conn.close()
                return
            if self.tls_context is not None:
                conn = self.tls_context.wrap_socket(conn, server_side=True)
            while True:
                request = read_request(conn)
                if request is None:
                    break
                self.record(connection_number, request)
                item = self.take_exchange()
                if item is None:
                    break
                if item.get("delay"):
                    time.sleep(item["delay"])
                reply = expand(item.get("reply", ""))
                if item.get("drip"):
                    for index in range(len(reply)):
                        conn.sendall(reply[index:index + 1])
                        time.sleep(item["drip"])
                else:
                    conn.sendall(reply)
                then = item.get("then", "close")
                if then == "keep":
                    continue
                if then == "starttls":
                    conn = self.tls_context_for_tunnel().wrap_socket(conn, server_side=True)
                    continue
                if then == "reset":
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                if then == "stall":
                    time.sleep(self.args.time_limit)
                break
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def tls_context_for_tunnel(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.args.tunnel_cert, self.args.tunnel_key)
        return context

    def run(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", 0))
        listener.listen(0 if self.args.never_accept else 16)
        listener.settimeout(0.2)
        with open(self.args.port_file + ".tmp", "w") as handle:
            handle.write(str(listener.getsockname()[1]))
        os.rename(self.args.port_file + ".tmp", self.args.port_file)
        deadline = time.monotonic() + self.args.time_limit
        while time.monotonic() < deadline:
            if self.args.never_accept:
                time.sleep(0.2)
                continue
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            conn.settimeout(self.args.time_limit)
            self.connection_count += 1
            threading.Thread(target=self.serve, args=(conn, self.connection_count),
                             daemon=True).start()
        listener.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--record-dir", required=True)
    parser.add_argument("--script", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--tunnel-cert")
    parser.add_argument("--tunnel-key")
    parser.add_argument("--repeat-last", action="store_true")
    parser.add_argument("--never-accept", action="store_true",
                        help="listen without ever accepting, so that the queue fills up")
    parser.add_argument("--time-limit", type=float, default=30.0)
    Peer(parser.parse_args()).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
