"""Every request the PBX side received, for tests to read back."""

import base64
import threading
import time


class RequestLog:
    def __init__(self):
        self._lock = threading.Lock()
        self._entries = []
        self._next_seq = 1

    def add(self, request, client, version):
        with self._lock:
            entry = {
                "seq": self._next_seq,
                "time": time.time(),
                "client": client,
                "version": version,
                "method": request.method,
                "path": request.path,
                "target": request.target,
                "proxied": request.proxied,
                "headers": [list(pair) for pair in request.headers],
                "body": request.body_text(),
                "body_base64": base64.b64encode(request.body).decode("ascii"),
                "status": None,    # stays None when no answer was sent
                "fault": False,
            }
            self._next_seq += 1
            self._entries.append(entry)
            return entry

    def set_outcome(self, entry, status, fault=False):
        with self._lock:
            entry["status"] = status
            entry["fault"] = fault

    def entries(self):
        with self._lock:
            return [dict(e) for e in self._entries]

    def count(self, method=None, path=None):
        with self._lock:
            return sum(1 for e in self._entries
                       if (method is None or e["method"] == method)
                       and (path is None or e["path"] == path))

    def clear(self):
        with self._lock:
            self._entries.clear()
