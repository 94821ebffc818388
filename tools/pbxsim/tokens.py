"""Access and refresh tokens in header.payload.signature form.

Each part is standard Base64 with padding; the payload is a JSON object with the
claims "customer" and "exp" (unix seconds), which is what the provider reads
out of its access token. The signature is an HMAC over the first two parts with
a key that lives only as long as the simulator process.
"""

import base64
import binascii
import hashlib
import hmac
import json
import os
import threading
import time

ACCESS = "access"
REFRESH = "refresh"


class TokenError(Exception):
    """A token that must be refused; the text goes into the 401 answer."""


def _b64(data):
    return base64.b64encode(data).decode("ascii")


def _compact(value):
    return json.dumps(value, separators=(",", ":")).encode("utf-8")


class TokenIssuer:
    def __init__(self, customer, clock=time.time):
        self._customer = customer
        self._clock = clock
        self._key = os.urandom(32)
        self._lock = threading.Lock()
        self._serial = 0
        self._first_valid_serial = 1
        self._issued = []

    def _sign(self, signed_part):
        return _b64(hmac.new(self._key, signed_part.encode("ascii"), hashlib.sha256).digest())

    def issue(self, user, kind, lifetime):
        with self._lock:
            self._serial += 1
            serial = self._serial
        now = int(self._clock())
        claims = {"customer": self._customer, "exp": now + int(lifetime), "iat": now,
                  "sub": user, "typ": kind, "jti": serial}
        header = _b64(_compact({"alg": "HS256", "typ": "JWT"}))
        payload = _b64(_compact(claims))
        signed_part = header + "." + payload
        token = signed_part + "." + self._sign(signed_part)
        with self._lock:
            self._issued.append(token)
        return token

    def issued(self):
        """Every token handed out so far, in order: what must never show up in a client's files."""
        with self._lock:
            return list(self._issued)

    def verify(self, token, kind):
        """Claims of a valid token of the given kind; raises TokenError otherwise."""
        parts = token.split(".")
        if len(parts) != 3:
            raise TokenError("malformed token")
        expected = self._sign(parts[0] + "." + parts[1])
        if not hmac.compare_digest(expected.encode("ascii"), parts[2].encode("ascii", "replace")):
            raise TokenError("invalid token signature")
        try:
            claims = json.loads(base64.b64decode(parts[1], validate=True))
        except (binascii.Error, ValueError) as exc:
            raise TokenError("malformed token payload") from exc
        if claims.get("typ") != kind:
            raise TokenError(f"not an {kind} token" if kind == ACCESS else f"not a {kind} token")
        if claims.get("exp", 0) <= int(self._clock()):
            raise TokenError("token expired")
        with self._lock:
            revoked = claims.get("jti", 0) < self._first_valid_serial
        if revoked:
            raise TokenError("token revoked")
        return claims

    def revoke_all(self):
        """Invalidates every token issued so far, as a server-side logout would."""
        with self._lock:
            self._first_valid_serial = self._serial + 1
