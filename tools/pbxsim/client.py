"""Client side of the simulator, for tests and the demo.

PbxSimClient drives the control interface and can call the PBX's REST paths;
EventStream reads the call event stream off a plain socket, so that tests see
exactly what went over the wire; start_pbxsim() runs the simulator as a child
process and reads its port.
"""

import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
from collections import namedtuple

PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
LOGIN_PATH = "/v1/login"
DIRECTORY_PATH = "/v1/extensions/phone/data"
CALLS_PATH = "/v1/extensions/phone/calls"


class PbxSimError(Exception):
    def __init__(self, status, body):
        super().__init__(f"pbxsim answered {status}: {body!r}")
        self.status = status
        self.body = body


def _tls_context(cafile):
    if cafile:
        return ssl.create_default_context(cafile=cafile)
    # Control traffic on loopback: trusting the generated certificate is not
    # what these calls test.
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def _decode(data):
    try:
        return json.loads(data.decode("utf-8")) if data else None
    except ValueError:
        return None


class PbxSimClient:
    def __init__(self, port, https=False, host="127.0.0.1", cafile=None, timeout=10.0):
        self.port = port
        self.https = https
        self.host = host
        self.cafile = cafile
        self.timeout = timeout

    # -- plain HTTP ------------------------------------------------------
    def request(self, method, path, body=None, headers=None, timeout=None):
        """One request on a fresh connection: (status, headers as list, body bytes).

        body may be bytes, text, or any other value (sent as JSON).
        """
        if body is not None and not isinstance(body, (bytes, str)):
            body = json.dumps(body)
        if isinstance(body, str):
            body = body.encode("utf-8")
        timeout = self.timeout if timeout is None else timeout
        if self.https:
            conn = http.client.HTTPSConnection(self.host, self.port, timeout=timeout,
                                               context=_tls_context(self.cafile))
        else:
            conn = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            answer = conn.getresponse()
            return answer.status, answer.getheaders(), answer.read()
        finally:
            conn.close()

    def control(self, method, name, body=None, timeout=None):
        status, _, data = self.request(method, "/_control/" + name, body, timeout=timeout)
        value = _decode(data)
        if status >= 400:
            raise PbxSimError(status, value if value is not None else data)
        return value

    # -- the PBX's REST interface -----------------------------------------
    def login(self, username, password):
        """(status, answer object) of a login."""
        status, _, data = self.request("POST", LOGIN_PATH, {"username": username, "password": password})
        return status, _decode(data)

    def access_token(self, username, password):
        status, answer = self.login(username, password)
        if status != 200:
            raise PbxSimError(status, answer)
        return answer["access-token"]

    @staticmethod
    def bearer(token):
        return {"Authorization": "Bearer " + token, "Content-Type": "application/json"}

    # -- control interface ------------------------------------------------
    def state(self):
        return self.control("GET", "state")

    def reset(self):
        return self.control("POST", "reset")

    def settings(self, **changes):
        if not changes:
            return self.control("GET", "settings")
        return self.control("POST", "settings", changes)

    def set_token_lifetime(self, seconds, refresh_seconds=None):
        changes = {"token_lifetime": seconds}
        if refresh_seconds is not None:
            changes["refresh_token_lifetime"] = refresh_seconds
        return self.settings(**changes)

    def set_make_call(self, **behaviour):
        """outcome=answer|hangup|ringing|silent|reject, status, error, dial_delay_ms, answer_delay_ms."""
        return self.settings(make_call=behaviour)

    def set_proxy(self, proxy=True):
        return self.settings(proxy=proxy)

    def set_chunked(self, chunked=True):
        return self.settings(chunked=chunked)

    def set_dialect(self, **dialect):
        """ascii_json, pretty_json, bom, event_ids (true/false), line_end
        ("lf", "crlf", "cr"), heartbeat_ms, replay: how the PBX writes."""
        return self.settings(**dialect)

    def ring(self, extensions, caller, callee=None, uuid=None):
        """Offers an incoming call to one or more extensions; returns its uuid."""
        body = {"extensions": [extensions] if isinstance(extensions, str) else list(extensions),
                "caller": caller}
        if callee is not None:
            body["callee"] = callee
        if uuid is not None:
            body["uuid"] = uuid
        return self.control("POST", "ring", body)["uuid"]

    def answer(self, uuid, extension=None):
        body = {"uuid": uuid}
        if extension is not None:
            body["extension"] = extension
        return self.control("POST", "answer", body)

    def hangup(self, uuid, extensions=None):
        body = {"uuid": uuid}
        if extensions is not None:
            body["extensions"] = [extensions] if isinstance(extensions, str) else list(extensions)
        return self.control("POST", "hangup", body)

    def dial(self, extension, callee, **flow):
        """An outgoing call started at the phone itself; returns its uuid."""
        return self.control("POST", "dial", dict(flow, extension=extension, callee=callee))["uuid"]

    def burst(self, extensions, caller, steps=None):
        """One incoming call per extension, its steps (default ring, answer,
        hangup) each taken for all calls back to back; the calls, each with
        uuid, extension and the ids of its events."""
        body = {"extensions": list(extensions), "caller": caller}
        if steps is not None:
            body["steps"] = list(steps)
        return self.control("POST", "burst", body, timeout=max(self.timeout, 60.0))["calls"]

    def emit_event(self, **members):
        return self.control("POST", "emit", {"event": members})["id"]

    def emit_stalled_event(self, stall_ms, **members):
        """An event sent in two halves, the second stall_ms after the first."""
        return self.control("POST", "emit", {"event": members, "stall_ms": stall_ms})["id"]

    def flood(self, extensions, count=100, interval_ms=0):
        """Publishes count calls (ring, hangup) in the background."""
        return self.control("POST", "flood", {"extensions": list(extensions), "count": count,
                                              "interval_ms": interval_ms})

    def emit_raw(self, text):
        return self.control("POST", "emit", {"raw": text})

    def close_streams(self, mode="end"):
        """mode: "end", "abort" or "silence" (open, but nothing more is sent)."""
        return self.control("POST", "streams/close", {"mode": mode})["closed"]

    def tokens(self):
        return self.control("GET", "tokens")["tokens"]

    def revoke_tokens(self):
        return self.control("POST", "revoke-tokens")

    def fault(self, path, status=None, count=1, **options):
        """Next `count` requests to path (exact, "prefix*" or "*") misbehave.

        options: method, delay_ms, body, content_type, drop, reset, truncate
        (without status: the real answer cut off in its body; with reset, a
        TCP reset after the part), hang (held until the faults are cleared),
        stream ("close" or "silent").
        """
        fields = dict(options, path=path, count=count)
        if status is not None:
            fields["status"] = status
        return self.control("POST", "faults", fields)["faults"]

    def faults(self):
        return self.control("GET", "faults")["faults"]

    def clear_faults(self):
        return self.control("DELETE", "faults")

    def requests(self):
        return self.control("GET", "requests")["requests"]

    def clear_requests(self):
        return self.control("DELETE", "requests")

    def events(self):
        return self.control("GET", "events")["events"]

    def clear_events(self):
        return self.control("DELETE", "events")

    def set_extensions(self, extensions):
        return self.control("POST", "extensions", {"extensions": extensions})["extensions"]

    def number_extensions(self, count, first=None):
        """Replaces the directory with count extensions numbered from first (default 10000)."""
        body = {"count": count} if first is None else {"count": count, "first": first}
        return self.control("POST", "extensions", body)["extensions"]

    def wait_for(self, streams=0, requests=0, path=None, method=None, max_streams=None, timeout=10.0):
        """Waits on the server side until at least `streams` (and at most
        `max_streams`) event streams are open and at least `requests` requests
        (of `path`/`method` when given) arrived; TimeoutError when not in time."""
        body = {"streams": streams, "requests": requests, "timeout_ms": int(timeout * 1000)}
        if max_streams is not None:
            body["max_streams"] = max_streams
        if path is not None:
            body["path"] = path
        if method is not None:
            body["method"] = method
        answer = self.control("POST", "wait", body, timeout=timeout + 5)
        if not answer["ok"]:
            raise TimeoutError(f"pbxsim wait not reached: {answer}")
        return answer

    def down(self, ms):
        """Closes the port for ms milliseconds (connections refused meanwhile)."""
        return self.control("POST", "down", {"ms": ms})

    def wait_until_up(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                return self.state()
            except OSError:
                if time.monotonic() >= deadline:
                    raise
                time.sleep(0.02)  # polling a refused port: there is nothing to wait on

    def shutdown(self):
        return self.control("POST", "shutdown")


Event = namedtuple("Event", "id data members")


class EventStream:
    """Reads the call event stream from a raw socket.

    Handles both the close-delimited body and the chunked one; in chunked mode
    the payload of every chunk is kept in `chunks` and `ended` tells whether
    the terminating chunk arrived.
    """

    def __init__(self, port, token, https=False, host="127.0.0.1", cafile=None,
                 path=CALLS_PATH, timeout=10.0, last_event_id=None):
        self.port, self.token, self.https = port, token, https
        self.last_event_id = last_event_id
        self.host, self.cafile, self.path, self.timeout = host, cafile, path, timeout
        self.sock = None
        self.status = None
        self.headers = {}
        self.chunked = False
        self.chunks = []
        self.ended = False      # terminating chunk seen
        self.eof = False        # connection closed by the server
        self.raw = b""          # everything received after the header
        self._wire = b""
        self._body = b""         # the body so far, line ends made LF, without a byte-order mark
        self._held_cr = b""
        self._bom_checked = False

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    def open(self):
        sock = socket.create_connection((self.host, self.port), timeout=self.timeout)
        if self.https:
            server_name = "localhost" if self.cafile else self.host
            sock = _tls_context(self.cafile).wrap_socket(sock, server_hostname=server_name)
        self.sock = sock
        request = (f"GET {self.path} HTTP/1.1\r\nHost: {self.host}\r\n"
                   "Accept: text/event-stream\r\nContent-Type: application/json\r\n")
        if self.token is not None:
            request += f"Authorization: Bearer {self.token}\r\n"
        if self.last_event_id is not None:
            request += f"Last-Event-ID: {self.last_event_id}\r\n"
        sock.sendall((request + "\r\n").encode("utf-8"))
        head = b""
        deadline = time.monotonic() + self.timeout
        while b"\r\n\r\n" not in head:
            data = self._recv(deadline)
            if not data:
                raise ConnectionError("stream closed before its header")
            head += data
        head, _, rest = head.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status = int(lines[0].split()[1])
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()
        self.chunked = "chunked" in self.headers.get("transfer-encoding", "").lower()
        self._take(rest)
        return self

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def _recv(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("no data from the event stream in time")
        self.sock.settimeout(remaining)
        try:
            return self.sock.recv(65536)
        except socket.timeout as exc:
            raise TimeoutError("no data from the event stream in time") from exc

    def _add_body(self, data):
        # Any line end (LF, CR LF, CR) becomes LF and a leading byte-order
        # mark goes, so that events split the same in every dialect.
        data = self._held_cr + data
        self._held_cr = b"\r" if data.endswith(b"\r") else b""
        data = data[:len(data) - len(self._held_cr)].replace(b"\r\n", b"\n").replace(b"\r", b"\n")
        if not self._bom_checked and len(self._body) + len(data) >= 3:
            self._bom_checked = True
            data = (self._body + data).removeprefix(b"\xef\xbb\xbf")
            self._body = b""
        self._body += data

    def _take(self, data):
        self.raw += data
        if not self.chunked:
            self._add_body(data)
            return
        self._wire += data
        while not self.ended:
            size_line, sep, rest = self._wire.partition(b"\r\n")
            if not sep:
                return
            size = int(size_line.split(b";")[0], 16)
            if size == 0:
                if len(rest) < 2:
                    return
                self.ended = True
                self._wire = rest[2:]
                return
            if len(rest) < size + 2:
                return
            if rest[size:size + 2] != b"\r\n":
                raise ValueError("chunk not followed by CRLF")
            self.chunks.append(rest[:size])
            self._add_body(rest[:size])
            self._wire = rest[size + 2:]

    def _fill(self, deadline):
        data = self._recv(deadline)
        if not data:
            self.eof = True
        else:
            self._take(data)

    def next_event(self, timeout=None):
        """The next event, or None once the stream has ended."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while b"\n\n" not in self._body:
            if self.eof or self.ended:
                return None
            self._fill(deadline)
        block, _, self._body = self._body.partition(b"\n\n")
        event_id, data = None, []
        for line in block.decode("utf-8").split("\n"):
            if line.startswith("id:"):
                event_id = line[3:].strip()
            elif line.startswith("data:"):
                data.append(line[5:].lstrip(" "))
        text = "\n".join(data)
        try:
            members = json.loads(text)
        except ValueError:
            members = None
        return Event(event_id, text, members)

    def wait_closed(self, timeout=None):
        """Reads until the server ends the body; False if it did not in time."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        try:
            while not (self.eof or self.ended):
                self._fill(deadline)
        except TimeoutError:
            return False
        return True


class PbxSimProcess:
    """A simulator child process; stop() ends it (also on leaving a with-block)."""

    def __init__(self, process, port, https, cafile=None):
        self.process, self.port, self.https, self.cafile = process, port, https, cafile

    def client(self, **kwargs):
        kwargs.setdefault("cafile", self.cafile)
        if kwargs["cafile"]:
            kwargs.setdefault("host", "localhost")  # the name the certificate is for
        return PbxSimClient(self.port, https=self.https, **kwargs)

    def stop(self, timeout=10.0):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout)
        if self.process.stdout:
            self.process.stdout.close()
        return self.process.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def start_pbxsim(account=None, https=False, chunked=False, cert_out=None, cert_der_out=None,
                 extra_args=(), log_file=None, timeout=30.0):
    """Starts `python3 tools/pbxsim` on a free loopback port and waits for its port line."""
    command = [sys.executable, PACKAGE_DIR, "--port", "0"]
    if account:
        command += ["--account", account]
    if https:
        command.append("--https")
    if chunked:
        command.append("--chunked")
    if cert_out:
        command += ["--cert-out", cert_out]
    if cert_der_out:
        command += ["--cert-der-out", cert_der_out]
    if log_file is None:
        command.append("--quiet")
    command += list(extra_args)
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                               stderr=log_file if log_file is not None else subprocess.DEVNULL,
                               text=True)
    first_line = []
    reader = threading.Thread(target=lambda: first_line.append(process.stdout.readline()), daemon=True)
    reader.start()
    reader.join(timeout)
    line = first_line[0].strip() if first_line else ""
    if not line.startswith("PBXSIM_PORT "):
        process.kill()
        process.wait()
        raise RuntimeError(f"pbxsim did not start (exit code {process.returncode}, said {line!r})")
    return PbxSimProcess(process, int(line.split()[1]), https, cert_out)
