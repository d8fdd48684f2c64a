#!/usr/bin/env python3
"""A check target for the service's HTTP probe, on 127.0.0.1 only.

Answers every GET with 200 "ok" until the control file holds another status
code (for example 503), which it then answers with; "hang" makes it accept
connections and never answer. The chosen port is written to --port-file.
"""
import argparse
import http.server
import os
import socketserver
import threading
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--control-file", required=True)
    ap.add_argument("--request-log")
    args = ap.parse_args()

    def current_mode():
        try:
            with open(args.control_file) as f:
                return f.read().strip() or "200"
        except OSError:
            return "200"

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            mode = current_mode()
            if args.request_log:
                with open(args.request_log, "a") as f:
                    f.write(f"{time.time():.3f} {self.path} {mode}\n")
            if mode == "hang":
                time.sleep(3600)
                return
            code = int(mode)
            body = b"ok\n" if code == 200 else b"unavailable\n"
            self.send_response(code)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *a):
            pass

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(("127.0.0.1", args.port), Handler)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
