"""Servers on 127.0.0.1 that behave as a poor network does: one that takes
the request and never answers, one that drips its answer's head a byte at a
time and never ends it, and a port whose connection attempts are never
answered. Each keeps the heads of the requests it took.
"""
import socket
import threading
import time

# A head that never ends: its lines come round again and again.
DRIP = b"HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nX-Drip: 1\r\n"


class MisbehavingServer:
    """Takes each connection's request head, then stays silent ("silent")
    or drips a never-ending head a byte every 0.2 s ("drip") until closed."""

    def __init__(self, behaviour):
        self.behaviour = behaviour
        self.heads = []
        self.closing = threading.Event()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        self.threads = [threading.Thread(target=self._accept, daemon=True)]
        self.threads[0].start()

    def _accept(self):
        while not self.closing.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            thread = threading.Thread(target=self._serve, args=(connection,), daemon=True)
            self.threads.append(thread)
            thread.start()

    def _serve(self, connection):
        with connection:
            connection.settimeout(30)
            data = b""
            try:
                while b"\r\n\r\n" not in data:
                    chunk = connection.recv(65536)
                    if not chunk:
                        return
                    data += chunk
                self.heads.append(data.partition(b"\r\n\r\n")[0].split(b"\r\n")[0].decode("latin-1"))
                at = 0
                while not self.closing.wait(0.2):
                    if self.behaviour == "drip":
                        connection.sendall(DRIP[at:at + 1])
                        at = (at + 1) % len(DRIP)
            except OSError:
                return

    def close(self):
        self.closing.set()
        for thread in self.threads:
            thread.join(timeout=5)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


class DroppingPort:
    """A port whose connection attempts are never answered: its listener
    has a backlog of 0, and one connection that is never accepted fills its
    queue, so Linux drops every further SYN and the client keeps retrying."""

    def __init__(self):
        self.heads = []  # nothing ever gets through
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.filler = socket.create_connection(("127.0.0.1", self.port), timeout=5)

    def holds_attempts(self, seconds):
        """Whether an attempt is still unanswered (neither made nor refused)
        after that many seconds."""
        with socket.socket() as probe:
            probe.settimeout(seconds)
            started = time.monotonic()
            try:
                probe.connect(("127.0.0.1", self.port))
            except socket.timeout:
                return time.monotonic() - started >= seconds * 0.9
            except OSError:
                return False
            return False

    def close(self):
        self.filler.close()
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()
