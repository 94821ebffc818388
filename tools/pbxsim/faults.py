"""Injected faults: the next N requests to a path are answered badly.

A fault may wait first (slow server), or hang (hold the request without a
word until the faults are cleared or the client gives up), then either cut the
connection (closed, or reset), answer with a chosen status and body instead of
the real handler, or send only part of that answer (the chosen one, or the
real one when no status is given). A fault with only a delay
or a hang lets the request through to the normal handler afterwards. On the
event stream a fault may also answer 200 and close at once ("close"), or answer
200 and then never send anything ("silent").
"""

import threading
from dataclasses import dataclass, asdict

MAX_DELAY_MS = 120000
STREAM_MODES = ("close", "silent")


@dataclass
class Fault:
    path: str
    method: str = None
    count: int = 1
    delay_ms: int = 0
    status: int = None
    body: str = None
    content_type: str = "application/json; charset=utf-8"
    drop: bool = False
    reset: bool = False
    truncate: bool = False
    hang: bool = False
    stream: str = None

    def matches(self, method, path):
        if self.method is not None and self.method.upper() != method.upper():
            return False
        if self.path == "*":
            return True
        if self.path.endswith("*"):
            return path.startswith(self.path[:-1])
        return path == self.path


def parse_fault(fields):
    """Builds a Fault from a control request; raises ValueError on bad input."""
    if not isinstance(fields, dict):
        raise ValueError("a fault must be a JSON object")
    known = set(Fault.__dataclass_fields__)
    unknown = set(fields) - known
    if unknown:
        raise ValueError(f"unknown fault members: {sorted(unknown)}")
    if "path" not in fields:
        raise ValueError('a fault needs a "path"')
    fault = Fault(**fields)
    if not isinstance(fault.path, str) or not fault.path:
        raise ValueError('"path" must be a non-empty string')
    if fault.method is not None and not isinstance(fault.method, str):
        raise ValueError('"method" must be a string')
    for name in ("count", "delay_ms"):
        value = getattr(fault, name)
        if not isinstance(value, int) or isinstance(value, bool) or value < 0:
            raise ValueError(f'"{name}" must be a non-negative integer')
    if fault.count < 1:
        raise ValueError('"count" must be at least 1')
    if fault.delay_ms > MAX_DELAY_MS:
        raise ValueError(f'"delay_ms" must be at most {MAX_DELAY_MS}')
    if fault.status is not None and (not isinstance(fault.status, int) or not 100 <= fault.status <= 999):
        raise ValueError('"status" must be an HTTP status code')
    for name in ("drop", "reset", "truncate", "hang"):
        if not isinstance(getattr(fault, name), bool):
            raise ValueError(f'"{name}" must be true or false')
    if fault.body is not None and not isinstance(fault.body, str):
        raise ValueError('"body" must be a string')
    if fault.stream is not None and fault.stream not in STREAM_MODES:
        raise ValueError(f'"stream" must be one of {", ".join(STREAM_MODES)}')
    if fault.truncate and (fault.drop or fault.stream is not None):
        raise ValueError('"truncate" cuts an answer short: not with "drop" or "stream"')
    return fault


class FaultTable:
    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []
        self._release = threading.Event()

    def add(self, fault):
        with self._lock:
            self._faults.append(fault)

    def take(self, method, path):
        """Uses up one count of the first matching fault and returns it."""
        with self._lock:
            for fault in self._faults:
                if fault.matches(method, path):
                    fault.count -= 1
                    if fault.count == 0:
                        self._faults.remove(fault)
                    return fault
        return None

    def describe(self):
        with self._lock:
            return [asdict(f) for f in self._faults]

    def release_event(self):
        """Set when the faults are cleared: hung requests go on then."""
        with self._lock:
            return self._release

    def clear(self):
        with self._lock:
            self._faults.clear()
            self._release.set()
            self._release = threading.Event()
