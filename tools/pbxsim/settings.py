"""Behaviour switches that tests and the demo change at run time."""

import copy
import threading

OUTCOMES = ("answer", "hangup", "ringing", "silent", "reject")
LINE_ENDS = {"lf": "\n", "crlf": "\r\n", "cr": "\r"}
MAX_DELAY_MS = 120000

DEFAULTS = {
    "token_lifetime": 3600,             # seconds an access token lives
    "refresh_token_lifetime": 86400,    # seconds a refresh token lives
    "chunked": False,                   # serve new event streams chunked
    "date_header": True,                # send a Date header in answers
    "heartbeat_ms": 0,                  # comment line on an idle stream this often (0: never)
    "proxy": False,                     # also act as an HTTP proxy for requests in absolute form
    "replay": True,                     # a stream opened with Last-Event-ID gets the events it missed
    # The PBX's dialect: how its answers and its event stream are written.
    "ascii_json": False,                # non-ASCII escaped ("M\\u00fcller") instead of raw UTF-8
    "pretty_json": False,               # indented JSON; an event's data then spans several "data:" lines
    "bom": False,                       # a UTF-8 byte-order mark before every JSON answer and the stream
    "line_end": "lf",                   # the stream's line ends: "lf", "crlf" or "cr"
    "event_ids": True,                  # every event carries an "id:" line
    "make_call": {
        "outcome": "answer",
        "status": 400,                  # status of a "reject" answer
        "error": "call rejected",       # its "error" text
        "dial_delay_ms": 100,           # "caller-dial" -> "dial"
        "answer_delay_ms": 1500,        # "dial" -> "answer" / "hangup"
    },
}


def _check_int(name, value, low, high):
    if not isinstance(value, int) or isinstance(value, bool) or not low <= value <= high:
        raise ValueError(f'"{name}" must be an integer from {low} to {high}')


def _check_make_call(patch):
    if not isinstance(patch, dict):
        raise ValueError('"make_call" must be an object')
    for key, value in patch.items():
        if key == "outcome":
            if value not in OUTCOMES:
                raise ValueError(f'"outcome" must be one of {", ".join(OUTCOMES)}')
        elif key == "status":
            _check_int(key, value, 100, 999)
        elif key == "error":
            if not isinstance(value, str):
                raise ValueError('"error" must be a string')
        elif key in ("dial_delay_ms", "answer_delay_ms"):
            _check_int(key, value, 0, MAX_DELAY_MS)
        else:
            raise ValueError(f'unknown make_call setting "{key}"')


def _check(patch):
    if not isinstance(patch, dict):
        raise ValueError("settings must be a JSON object")
    for key, value in patch.items():
        if key in ("token_lifetime", "refresh_token_lifetime"):
            # Zero or negative lifetimes hand out tokens that are already expired.
            _check_int(key, value, -86400, 10 * 365 * 86400)
        elif key in ("chunked", "date_header", "proxy", "replay", "ascii_json", "pretty_json", "bom", "event_ids"):
            if not isinstance(value, bool):
                raise ValueError(f'"{key}" must be true or false')
        elif key == "line_end":
            if value not in LINE_ENDS:
                raise ValueError(f'"line_end" must be one of {", ".join(LINE_ENDS)}')
        elif key == "heartbeat_ms":
            _check_int(key, value, 0, MAX_DELAY_MS)
        elif key == "make_call":
            _check_make_call(value)
        else:
            raise ValueError(f'unknown setting "{key}"')


class Settings:
    def __init__(self, overrides=None):
        self._lock = threading.Lock()
        self._start = copy.deepcopy(DEFAULTS)
        if overrides:
            _check(overrides)
            self._merge(self._start, overrides)
        self._values = copy.deepcopy(self._start)

    @staticmethod
    def _merge(target, patch):
        for key, value in patch.items():
            if isinstance(value, dict):
                target[key].update(value)
            else:
                target[key] = value

    def update(self, patch):
        """Applies a partial change; nothing is changed when any part is invalid."""
        _check(patch)
        with self._lock:
            self._merge(self._values, copy.deepcopy(patch))
            return copy.deepcopy(self._values)

    def get(self, key):
        with self._lock:
            return copy.deepcopy(self._values[key])

    def pick(self, *keys):
        """Several top-level values at once (plain values, not copied)."""
        with self._lock:
            return {key: self._values[key] for key in keys}

    def snapshot(self):
        with self._lock:
            return copy.deepcopy(self._values)

    def reset(self):
        with self._lock:
            self._values = copy.deepcopy(self._start)
