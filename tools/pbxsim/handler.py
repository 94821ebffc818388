"""HTTP/1.1 request handler: reads a request, applies faults, writes the answer."""

import socket
import struct
import sys
import time
import traceback
from http.server import BaseHTTPRequestHandler
from urllib.parse import urlsplit

from . import api, control
from .eventstream import END, peer_gone, pump
from .messages import BOM, Request, Response, StreamStart, error_response

MAX_BODY = 1 << 20


def reset_connection(sock):
    """Closes with a TCP reset instead of an orderly end."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass


class PbxHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "pbxsim/1.0"
    sys_version = ""
    timeout = 300          # idle keep-alive connections do not live for ever

    def do_GET(self):
        self._dispatch()

    do_POST = do_PUT = do_DELETE = do_PATCH = do_GET

    @property
    def sim(self):
        return self.server.sim

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):
        if not self.server.quiet:
            sys.stderr.write("pbxsim %s %s\n" % (self.address_string(), format % args))

    def send_response(self, code, message=None):
        self.log_request(code)
        self.send_response_only(code, message)
        self.send_header("Server", self.version_string())
        if self.sim.settings.get("date_header"):
            self.send_header("Date", self.date_time_string())

    # -- reading ---------------------------------------------------------
    def _read_body(self):
        """The request body, or None after an error answer has been sent."""
        if self.headers.get("Transfer-Encoding"):
            self._write(error_response(411, "chunked request bodies are not supported"))
            return None
        lengths = set(v.strip() for v in self.headers.get_all("Content-Length", []))
        if not lengths:
            return b""
        # The provider writes its own content-length line; WinHTTP may add one
        # more. Equal copies are fine, differing ones are not.
        if len(lengths) > 1 or not next(iter(lengths)).isdigit():
            self._write(error_response(400, "bad Content-Length"))
            return None
        length = int(next(iter(lengths)))
        if length > MAX_BODY:
            self._write(error_response(413, "request body too large"))
            return None
        return self.rfile.read(length)

    # -- dispatching -----------------------------------------------------
    def _dispatch(self):
        body = self._read_body()
        if body is None:
            self.close_connection = True
            return
        request = Request(self.command, urlsplit(self.path).path, list(self.headers.items()), body, self.path)
        if control.is_control(request.path):
            self._answer(self._route(control.route, request))
            return
        entry = self.sim.requests.add(request, self.client_address[0], self.request_version)
        self.sim.notify()
        if request.proxied and not self.sim.settings.get("proxy"):
            # Only a proxy takes requests for other hosts; as one, the
            # simulator forwards them to itself, whatever host they name.
            answer = error_response(400, "request for another host, and no proxy here")
            self.sim.requests.set_outcome(entry, answer.status)
            self._answer(answer)
            return
        fault = self.sim.faults.take(request.method, request.path)
        if fault is not None and self._apply_fault(fault, entry):
            return
        answer = self._route(api.route, request)
        if isinstance(answer, StreamStart):
            self.sim.requests.set_outcome(entry, 200, fault=fault is not None)
            self._serve_stream(answer.chunked, last_event_id=answer.last_event_id)
        elif fault is not None and fault.truncate:
            # The real answer, announced whole and cut off in its body.
            self.sim.requests.set_outcome(entry, answer.status, fault=True)
            self._cut_off(answer, fault.reset)
        else:
            self.sim.requests.set_outcome(entry, answer.status, fault=fault is not None)
            self._answer(answer)

    def _route(self, router, request):
        try:
            return router(self.sim, request)
        except Exception:
            # A defect of the simulator still gets an answer, so that a test
            # fails on the status instead of hanging on the connection.
            traceback.print_exc(file=sys.stderr)
            return error_response(500, "Internal Server Error")

    def _hang(self):
        """Holds the request until the faults are cleared; False when the
        client went away (or the simulator stops) first."""
        release = self.sim.faults.release_event()
        while not release.wait(0.2):
            if self.sim.stopping.is_set() or peer_gone(self.connection):
                return False
        return True

    def _apply_fault(self, fault, entry):
        """Plays a fault; True when it replaced the normal answer."""
        if fault.delay_ms:
            time.sleep(fault.delay_ms / 1000.0)
        if fault.hang and not self._hang():
            self.sim.requests.set_outcome(entry, None, fault=True)
            self.close_connection = True
            return True
        if fault.stream is not None:
            # A misbehaving stream is served on whatever path the fault names,
            # without looking at the request's token.
            self.sim.requests.set_outcome(entry, 200, fault=True)
            self._serve_stream(self.sim.settings.get("chunked"), fault.stream)
            return True
        if fault.truncate and fault.status is None:
            return False   # the real answer follows, cut off
        if (fault.reset and not fault.truncate) or fault.drop:
            self.sim.requests.set_outcome(entry, None, fault=True)
            self.close_connection = True
            if fault.reset:
                reset_connection(self.connection)
            else:
                self.connection.shutdown(socket.SHUT_RDWR)
            return True
        if fault.status is None:
            return False
        body = (fault.body if fault.body is not None else '{"error":"injected fault"}').encode("utf-8")
        self.sim.requests.set_outcome(entry, fault.status, fault=True)
        answer = Response(fault.status, body, content_type=fault.content_type)
        if fault.truncate:
            self._cut_off(answer, fault.reset)
        else:
            self._answer(answer)
        return True

    def _cut_off(self, answer, reset):
        """Announces the whole body, sends half of it, then hangs up (with a
        TCP reset when asked)."""
        self.close_connection = True
        self._write(answer, body_limit=len(answer.body) // 2)
        self.wfile.flush()
        if reset:
            reset_connection(self.connection)
        else:
            self.connection.shutdown(socket.SHUT_RDWR)

    # -- writing ---------------------------------------------------------
    def _write(self, answer, body_limit=None):
        self.send_response(answer.status)
        self.send_header("Content-Type", answer.content_type)
        self.send_header("Content-Length", str(len(answer.body)))
        for name, value in answer.headers:
            self.send_header(name, value)
        if self.close_connection:
            # Said, so that the client does not keep the connection for its
            # next request (Wine's WinHTTP shares kept connections process-wide).
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(answer.body if body_limit is None else answer.body[:body_limit])

    def _answer(self, answer):
        self._write(answer)
        if answer.after is not None:
            answer.after()

    def _serve_stream(self, chunked, fault_mode=None, last_event_id=None):
        """fault_mode "close" ends the stream right after its header, "silent"
        keeps it open without ever sending anything."""
        stream = self.sim.hub.open_stream(chunked, "%s:%d" % self.client_address[:2],
                                          silent=fault_mode == "silent", last_event_id=last_event_id)
        if fault_mode == "close":
            stream.items.put(END)
        self.sim.notify()
        try:
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream; charset=utf-8")
            self.send_header("Cache-Control", "no-cache")
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                # No length and no chunking: the body ends when the connection does.
                self.send_header("Connection", "close")
            self.end_headers()
            settings = self.sim.settings
            outcome = pump(stream, self.connection, self.wfile.write,
                           lambda: settings.get("heartbeat_ms") / 1000.0,
                           lambda: settings.get("line_end"),
                           preamble=BOM if settings.get("bom") else b"")
        except OSError:
            outcome = "gone"
        finally:
            self.sim.hub.remove(stream)
            self.sim.notify()
        if outcome == "abort":
            reset_connection(self.connection)
        # A properly ended chunked body leaves the connection reusable.
        self.close_connection = not (chunked and outcome == "end")
