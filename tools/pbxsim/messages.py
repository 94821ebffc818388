"""Request and response records shared by the REST and control endpoints.

The endpoint code works on these plain records instead of on the HTTP handler,
so that it reads as the PBX's behaviour and not as socket handling.
"""

import json
from dataclasses import dataclass, field


@dataclass
class Request:
    method: str
    path: str            # path without the query string
    headers: list        # (name, value) pairs in arrival order, duplicates kept
    body: bytes = b""
    target: str = ""     # the request target as sent: a path, or a whole URL through a proxy

    @property
    def proxied(self):
        """Sent in absolute form ("GET http://host/path"), as clients talk to a proxy."""
        return self.target.lower().startswith(("http://", "https://"))

    def header(self, name):
        """First value of a header, case-insensitive; None when absent."""
        wanted = name.lower()
        for key, value in self.headers:
            if key.lower() == wanted:
                return value
        return None

    def body_text(self):
        # JSON is UTF-8: a body in any other encoding loses its non-ASCII
        # characters here, as it would at a real PBX (a password then fails).
        return self.body.decode("utf-8", errors="replace")

    def json_object(self):
        """The body as a JSON object, or None when it is anything else."""
        try:
            value = json.loads(self.body_text())
        except ValueError:
            return None
        return value if isinstance(value, dict) else None


@dataclass
class Response:
    status: int
    body: bytes = b""
    content_type: str = "application/json; charset=utf-8"
    headers: list = field(default_factory=list)
    # The JSON value of the body, so that a PBX answer can be written again
    # in the dialect set (see in_dialect).
    value: object = None
    # Runs once the answer is on the wire, e.g. to start a call's events only
    # after the make-call request has been answered.
    after: object = None


@dataclass
class StreamStart:
    """Tells the handler to serve the call event stream on this request."""
    chunked: bool
    last_event_id: str = None   # events after it are replayed first (None: no replay)


BOM = b"\xef\xbb\xbf"


def encode_json(value, ascii_only=False, pretty=False):
    """UTF-8 JSON; ascii_only escapes every non-ASCII character ("\\u00fc"),
    as the JSON encoders of Python, PHP and .NET do by default."""
    return json.dumps(value, ensure_ascii=ascii_only, indent=2 if pretty else None).encode("utf-8")


def json_response(status, value, **kwargs):
    return Response(status, encode_json(value), value=value, **kwargs)


def in_dialect(answer, settings):
    """A JSON answer written again as the settings' dialect says: escaped or
    raw non-ASCII, pretty-printed or not, with or without a byte-order mark."""
    if not isinstance(answer, Response) or answer.value is None:
        return answer
    dialect = settings.pick("ascii_json", "pretty_json", "bom")
    answer.body = (BOM if dialect["bom"] else b"") + encode_json(
        answer.value, dialect["ascii_json"], dialect["pretty_json"])
    return answer


def error_response(status, text, **kwargs):
    return json_response(status, {"error": text}, **kwargs)
