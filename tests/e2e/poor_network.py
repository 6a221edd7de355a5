"""A port on 127.0.0.1 whose connection attempts are never answered."""
import socket


class DroppingPort:
    """A listener with a backlog of 0 whose queue one connection, never
    accepted, fills: Linux drops every further SYN, and clients retry."""

    def __enter__(self):
        self.requests, self.listener = [], socket.create_server(("127.0.0.1", 0), backlog=0)
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
