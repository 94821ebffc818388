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
        # The provider sends its bodies in the Windows ANSI code page, so a
        # non-ASCII password may arrive as cp1252 rather than UTF-8.
        try:
            return self.body.decode("utf-8")
        except UnicodeDecodeError:
            return self.body.decode("cp1252", errors="replace")

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
    # Runs once the answer is on the wire, e.g. to start a call's events only
    # after the make-call request has been answered.
    after: object = None


@dataclass
class StreamStart:
    """Tells the handler to serve the call event stream on this request."""
    chunked: bool
    last_event_id: str = None   # events after it are replayed first (None: no replay)


def encode_json(value):
    # Raw UTF-8 on purpose: the provider re-decodes extension names from the
    # bytes it received, which only works for unescaped UTF-8.
    return json.dumps(value, ensure_ascii=False).encode("utf-8")


def json_response(status, value, **kwargs):
    return Response(status, encode_json(value), **kwargs)


def error_response(status, text, **kwargs):
    return json_response(status, {"error": text}, **kwargs)
