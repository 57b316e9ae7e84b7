"""A stand-in SMS gateway for the demonstration, on 127.0.0.1 only.

Answers POST /envoi/sms/export.php over HTTPS with one report line per message id of
the form field lstidmsg: "id|date|status", the status taken from the table given on the
command line (id=status, any other id: DELIVRD). Writes its port to a file, logs what it
received, and stops by itself after a time limit.

    python3 demo_gateway.py CERT KEY PORT_FILE SECONDS [id=status ...]
"""

import datetime
import http.server
import os
import ssl
import sys
import threading
import urllib.parse


def main():
    cert, key, port_file, seconds = sys.argv[1:5]
    statuses = dict(arg.split("=", 1) for arg in sys.argv[5:])

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8"))
            ids = [i for i in form.get("lstidmsg", [""])[0].split("\r\n") if i]
            # A fixed report date (ZIRVO_GATEWAY_DATE) lets two runs be compared row by row.
            now = os.environ.get("ZIRVO_GATEWAY_DATE") or datetime.datetime.now().strftime(
                "%d/%m/%Y %H:%M:%S")
            body = "".join(f"{i}|{now}|{statuses.get(i, 'DELIVRD')}\r\n" for i in ids)
            print(f"passerelle : compte {form.get('u', [''])[0]!r}, messages {ids}", flush=True)
            payload = body.encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    threading.Timer(float(seconds), server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
