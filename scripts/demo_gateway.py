"""A stand-in SMS gateway for the demonstration, on 127.0.0.1 only.

Answers POST /envoi/sms/export.php over HTTPS with one report line per message id of
the form field lstidmsg: "id|date|status", the status taken from the table given on the
command line (id=status, any other id: DELIVRD). Writes its port to a file, logs what it
received, and stops by itself after a time limit.

    python3 demo_gateway.py CERT KEY PORT_FILE SECONDS [id=status ...]

The benchmark starts the same server in its own process through `start_gateway`.
"""

import datetime
import http.server
import os
import ssl
import sys
import threading
import urllib.parse


class Counts:
    """What a gateway has served: requests and connections."""

    def __init__(self):
        self.requests = 0
        self.connections = 0


def start_gateway(cert, key, statuses=None, counts=None, log=False):
    """Starts the HTTPS stand-in on 127.0.0.1 (a free port) in a thread; returns its server.

    Ids not in `statuses` are reported DELIVRD; `counts` (a Counts), when given, counts
    what is served; `log` prints each request's account and ids."""
    statuses = statuses or {}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8"))
            ids = [i for i in form.get("lstidmsg", [""])[0].split("\r\n") if i]
            # A fixed report date (ZIRVO_GATEWAY_DATE) lets two runs be compared row by row.
            now = os.environ.get("ZIRVO_GATEWAY_DATE") or datetime.datetime.now().strftime(
                "%d/%m/%Y %H:%M:%S")
            body = "".join(f"{i}|{now}|{statuses.get(i, 'DELIVRD')}\r\n" for i in ids)
            if log:
                print(f"passerelle : compte {form.get('u', [''])[0]!r}, messages {ids}",
                      flush=True)
            if counts:
                counts.requests += 1
            payload = body.encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)

        def log_message(self, *args):
            pass

    class Server(http.server.HTTPServer):
        def process_request(self, request, client_address):
            if counts:
                counts.connections += 1
            super().process_request(request, client_address)

    server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    cert, key, port_file, seconds = sys.argv[1:5]
    statuses = dict(arg.split("=", 1) for arg in sys.argv[5:])
    server = start_gateway(cert, key, statuses, log=True)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    stopped = threading.Event()
    threading.Timer(float(seconds), lambda: (server.shutdown(), stopped.set())).start()
    stopped.wait()


if __name__ == "__main__":
    main()
