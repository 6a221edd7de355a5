#!/usr/bin/env python3
"""The demo's page counter on 127.0.0.1: port 80 when it is free, else a
free port. Writes the port it took to PORT_FILE, then appends every request
it receives, exactly as it came over the wire (request line and header
lines), to REQUESTS_FILE, until it is ended.

Usage: counter_server.py PORT_FILE REQUESTS_FILE
"""
import signal
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from loopback import RecordingServer  # noqa: E402


def main(port_file, requests_file):
    try:
        server = RecordingServer(port=80)
    except OSError:
        server = RecordingServer()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Path(port_file).write_text(str(server.port))
    written = 0
    with open(requests_file, "ab") as out:
        def write_new():
            nonlocal written
            while written < len(server.requests):
                request = server.requests[written]
                out.write(b"\r\n".join([request.line] + request.header_lines) + b"\r\n\r\n")
                out.flush()
                written += 1
        try:
            while True:
                write_new()
                time.sleep(0.05)
        finally:
            server.close()
            write_new()


if __name__ == "__main__":
    main(*sys.argv[1:3])
