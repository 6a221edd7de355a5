"""Loopback HTTP servers for the beacon's cases and the demo: each records
every request exactly as it came over the wire (the request line and the
bytes of every header line) and answers so that WinINet caches nothing.

A server that plays a proxy can ask for credentials: it answers 407 to a
request without a Proxy-Authorization header. One can also behave as a poor
network does: take the request and never answer ("silent"), or drip the
head of an answer that never ends, a byte every 0.2 s ("drip").
"""
import socket
import socketserver
import threading

GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
       b"\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
DRIP = b"HTTP/1.1 200 OK\r\nX-Drip: 1\r\n"
REASONS = {200: "OK", 404: "Not Found", 407: "Proxy Authentication Required"}


class Request:
    """One request: its request line and its header lines, as raw bytes."""

    def __init__(self, head):
        lines = head.split(b"\r\n")
        self.line = lines[0]
        self.header_lines = [line for line in lines[1:] if line]

    def header(self, name):
        """The value of the first header of that name (any case), as bytes."""
        for line in self.header_lines:
            key, _, value = line.partition(b":")
            if key.strip().lower() == name.lower().encode("ascii"):
                return value.strip()
        return None

    def __repr__(self):
        return repr([self.line] + self.header_lines)


class RecordingServer:
    """Listens on 127.0.0.1 (port 0: a free one) until closed."""

    def __init__(self, port=0, status=200, ask_credentials=False, behaviour=None):
        self.requests = []
        self.behaviour = behaviour
        self.closing = threading.Event()
        self.status = status
        self.ask_credentials = ask_credentials
        outer = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                outer._serve(self.request)

        socketserver.ThreadingTCPServer.allow_reuse_address = True
        self.server = socketserver.ThreadingTCPServer(("127.0.0.1", port), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def _serve(self, connection):
        connection.settimeout(30)
        data = b""
        try:
            while True:
                # One connection may carry a request and then its repeat with credentials.
                while b"\r\n\r\n" not in data:
                    chunk = connection.recv(65536)
                    if not chunk:
                        return
                    data += chunk
                head, _, data = data.partition(b"\r\n\r\n")
                request = Request(head)
                self.requests.append(request)
                at = 0
                while self.behaviour and not self.closing.wait(0.2):
                    if self.behaviour == "drip":  # the lines come round again and again
                        connection.sendall(DRIP[at % len(DRIP):][:1])
                        at += 1
                if self.behaviour:
                    return
                if self.ask_credentials and request.header("Proxy-Authorization") is None:
                    self._answer(connection, 407, b"Proxy-Authenticate: Basic realm=\"loopback\"\r\n", keep=True)
                    continue
                self._answer(connection, self.status, b"", keep=False)
                return
        except OSError:
            return

    @staticmethod
    def _answer(connection, status, extra, keep):
        body = GIF if status == 200 else b""
        head = (f"HTTP/1.1 {status} {REASONS[status]}\r\nContent-Type: image/gif\r\n"
                f"Content-Length: {len(body)}\r\nCache-Control: no-store, no-cache\r\nPragma: no-cache\r\n"
                f"Expires: 0\r\nConnection: {'keep-alive' if keep else 'close'}\r\n").encode("ascii")
        connection.sendall(head + extra + b"\r\n" + body)

    def close(self):
        self.closing.set()
        self.server.shutdown()
        self.server.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def closed_port():
    """A port on 127.0.0.1 that nothing listens on: a connection is refused at once."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
