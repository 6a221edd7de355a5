"""Proxies on 127.0.0.1 as a poor network has them: one that takes the
request and never answers ("silent"), one that drips a head that never ends
("drip"), and a port whose connection attempts are never answered."""
import socket
import threading


class MisbehavingServer:
    """Keeps the request line of each request it takes."""

    def __init__(self, behaviour):
        self.drip, self.heads, self.closing = behaviour == "drip", [], threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(0.1)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.closing.is_set():
            try:
                threading.Thread(target=self._serve, args=(self.listener.accept()[0],), daemon=True).start()
            except OSError:
                pass

    def _serve(self, connection):
        with connection:
            data = b""
            while b"\r\n\r\n" not in data:
                data += connection.recv(65536) or b"\r\n\r\n"
            self.heads.append(data.split(b"\r\n")[0].decode("latin-1"))
            head = b"HTTP/1.1 200 OK\r\nX-Drip: 1\r\n"  # comes round again and again
            for at in range(1 << 30):
                if self.closing.wait(0.2):
                    return
                if self.drip:
                    connection.sendall(head[at % len(head):][:1])

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.closing.set()
        self.listener.close()


class DroppingPort:
    """A listener with a backlog of 0 whose queue one connection, never
    accepted, fills: Linux drops every further SYN, and clients retry."""

    def __enter__(self):
        self.heads, self.listener = [], socket.create_server(("127.0.0.1", 0), backlog=0)
        self.port = self.listener.getsockname()[1]
        self.filler = socket.create_connection(("127.0.0.1", self.port))
        return self

    def holds_attempts(self, seconds):
        """Whether an attempt is neither made nor refused within seconds."""
        with socket.socket() as probe:
            probe.settimeout(seconds)
            try:
                probe.connect(("127.0.0.1", self.port))
            except socket.timeout:
                return True
            except OSError:
                return False
            return False

    def __exit__(self, *_):
        self.filler.close()
        self.listener.close()
