"""Listening sockets on the loopback addresses, optional TLS, and outages.

The port is served on 127.0.0.1 and, where the machine has it, on ::1 too, so
that clients which resolve "localhost" to either address reach the simulator.
"""

import errno
import socket
import socketserver
import ssl
import sys
import threading
from http.server import ThreadingHTTPServer

from .eventstream import ABORT
from .handler import PbxHandler

HANDSHAKE_TIMEOUT = 10
PORT_ATTEMPTS = 10


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, address, family, owner):
        self.address_family = family
        self.owner = owner
        self.sim = owner.sim
        self.quiet = owner.quiet
        super().__init__(address, PbxHandler)

    def server_bind(self):
        # HTTPServer would look up the host's name here, which can stall on a
        # machine whose DNS drops queries; loopback needs no name.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def finish_request(self, request, client_address):
        # TLS is set up here, on the connection's own thread, so that a slow
        # or failing handshake never holds up accepting other connections.
        if self.owner.tls is not None:
            request.settimeout(HANDSHAKE_TIMEOUT)
            request = self.owner.tls.wrap_socket(request, server_side=True)
            request.settimeout(None)
        self.owner.track(request)
        try:
            super().finish_request(request, client_address)
        finally:
            self.owner.untrack(request)
            if self.owner.tls is not None:
                request.close()

    def handle_error(self, request, client_address):
        exc = sys.exc_info()[1]
        if isinstance(exc, (ConnectionError, ssl.SSLError, socket.timeout)):
            return  # clients hanging up or failing TLS are normal here
        super().handle_error(request, client_address)


class Listeners:
    def __init__(self, sim, tls_context=None, quiet=False):
        self.sim = sim
        self.tls = tls_context
        self.quiet = quiet
        self.port = None
        self._servers = []
        self._lock = threading.Lock()
        self._connections = set()
        sim.take_down = self.take_down

    def track(self, sock):
        with self._lock:
            self._connections.add(sock)

    def untrack(self, sock):
        with self._lock:
            self._connections.discard(sock)

    def _bind(self, port):
        servers = [_Server(("127.0.0.1", port), socket.AF_INET, self)]
        port = servers[0].server_address[1]
        try:
            servers.append(_Server(("::1", port, 0, 0), socket.AF_INET6, self))
        except OSError as exc:
            if exc.errno == errno.EADDRINUSE:
                servers[0].server_close()
                raise
            # No IPv6 loopback on this machine: IPv4 alone has to do.
        return servers

    def start(self, port=0):
        """Binds the port (0 = any free one) on every loopback address and serves it."""
        attempts = PORT_ATTEMPTS if port == 0 else 1
        for attempt in range(attempts):
            try:
                servers = self._bind(port)
                break
            except OSError as exc:
                # With port 0 the IPv4 pick may be taken on ::1; try another.
                if exc.errno != errno.EADDRINUSE or attempt == attempts - 1:
                    raise
        self.port = servers[0].server_address[1]
        with self._lock:
            self._servers = servers
        for server in servers:
            threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05},
                             name="pbxsim-listener", daemon=True).start()
        return self.port

    def stop(self):
        with self._lock:
            servers, self._servers = self._servers, []
        for server in servers:
            server.shutdown()
            server.socket.close()

    def _cut_connections(self):
        with self._lock:
            connections = list(self._connections)
        for sock in connections:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def take_down(self, ms):
        """Refuses connections for ms milliseconds, as a server outage would.

        The port is closed at once; the returned function cuts the open
        connections and is run once the control request has been answered.
        """
        self.stop()
        self.sim.hub.close_all(ABORT)
        timer = threading.Timer(ms / 1000.0, self._come_back)
        timer.daemon = True
        timer.start()
        return self._cut_connections

    def _come_back(self):
        if self.sim.stopping.is_set():
            return
        try:
            self.start(self.port)
        except OSError as exc:
            sys.stderr.write(f"pbxsim: cannot listen on port {self.port} again: {exc}\n")
