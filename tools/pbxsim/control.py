"""The control interface under "/_control/": JSON in and out, no authorisation.

Tests and the demo use it to play the PBX's other side (incoming calls,
answers, hang-ups), to bend its behaviour (token lifetime, make-call outcome,
faults) and to read back what the provider sent.
"""

from .account import NUMBERED_FIRST, AccountError, normalise_extensions, numbered_extensions
from .calls import BURST_STEPS, CallError
from .eventstream import ABORT, END, SILENCE
from .faults import parse_fault
from .messages import error_response, json_response
from .traffic import play_batch

PREFIX = "/_control/"
MAX_WAIT_MS = 60000
MAX_DOWN_MS = 120000
MAX_STALL_MS = 120000


class BadRequest(Exception):
    pass


def _body(request):
    if not request.body:
        return {}
    value = request.json_object()
    if value is None:
        raise BadRequest("request body is not a JSON object")
    return value


def _string(body, name, required=True):
    value = body.get(name)
    if value is None and not required:
        return None
    if not isinstance(value, str) or not value:
        raise BadRequest(f'"{name}" must be a non-empty string')
    return value


def _string_list(body, name, required=True):
    value = body.get(name)
    if value is None and not required:
        return None
    if isinstance(value, str):
        value = [value]
    if not isinstance(value, list) or not value or not all(isinstance(v, str) and v for v in value):
        raise BadRequest(f'"{name}" must be a non-empty list of strings')
    return value


def _int(body, name, default, low, high):
    value = body.get(name, default)
    if not isinstance(value, int) or isinstance(value, bool) or not low <= value <= high:
        raise BadRequest(f'"{name}" must be an integer from {low} to {high}')
    return value


def state(sim, request):
    return json_response(200, sim.describe())


def reset(sim, request):
    sim.reset()
    return json_response(200, sim.describe())


def settings(sim, request):
    if request.method == "GET":
        return json_response(200, sim.settings.snapshot())
    try:
        return json_response(200, sim.settings.update(_body(request)))
    except ValueError as exc:
        raise BadRequest(str(exc)) from exc


def ring(sim, request):
    body = _body(request)
    call = sim.calls.ring(_string_list(body, "extensions"), _string(body, "caller"),
                          callee=_string(body, "callee", required=False),
                          uuid=_string(body, "uuid", required=False))
    return json_response(200, call.describe())


def answer(sim, request):
    body = _body(request)
    call = sim.calls.answer(_string(body, "uuid"), _string(body, "extension", required=False))
    return json_response(200, call.describe())


def hangup(sim, request):
    body = _body(request)
    ended = sim.calls.hangup(_string(body, "uuid"), _string_list(body, "extensions", required=False))
    return json_response(200, {"uuid": body["uuid"], "ended": ended})


def dial(sim, request):
    """An outgoing call started at the extension's own phone, not through REST."""
    body = _body(request)
    extension, callee = _string(body, "extension"), _string(body, "callee")
    outcome = body.get("outcome", "answer")
    if outcome not in ("answer", "hangup", "ringing", "silent"):
        raise BadRequest('"outcome" must be answer, hangup, ringing or silent')
    # Timing follows the make-call setting unless given here.
    behaviour = sim.settings.get("make_call")
    dial_delay = _int(body, "dial_delay_ms", behaviour["dial_delay_ms"], 0, 120000)
    answer_delay = _int(body, "answer_delay_ms", behaviour["answer_delay_ms"], 0, 120000)
    call = sim.calls.place(extension, callee, uuid=_string(body, "uuid", required=False))
    sim.calls.start_flow(call, outcome, dial_delay, answer_delay)
    return json_response(200, call.describe())


def emit(sim, request):
    body = _body(request)
    if "event" in body:
        if not isinstance(body["event"], dict):
            raise BadRequest('"event" must be an object')
        # A stall sends the event's first half, then the rest that much later.
        stall_ms = _int(body, "stall_ms", 0, 0, MAX_STALL_MS)
        return json_response(200, {"id": sim.hub.publish(body["event"], stall_ms)})
    if "raw" in body:
        # An empty chunk would end a chunked stream, so it is refused here.
        raw = _string(body, "raw")
        sim.hub.publish_raw(raw)
        return json_response(200, {})
    raise BadRequest('give "event" (an object) or "raw" (text)')


_CLOSE_MODES = {"end": END, "abort": ABORT, "silence": SILENCE}


def close_streams(sim, request):
    """Ends the open streams, or makes them fall silent with their
    connections left open ("silence")."""
    body = _body(request)
    mode = body.get("mode", "end")
    if mode not in _CLOSE_MODES:
        raise BadRequest('"mode" must be "end", "abort" or "silence"')
    closed = sim.hub.close_all(_CLOSE_MODES[mode])
    return json_response(200, {"closed": closed})


def flood(sim, request):
    """Publishes calls as fast as asked, in the background: for each, a "ring"
    on the next of the extensions, then its "hangup"."""
    body = _body(request)
    count = _int(body, "count", 100, 1, 100000)
    interval_ms = _int(body, "interval_ms", 0, 0, 10000)
    extensions = _string_list(body, "extensions")
    sim.start_flood(count, interval_ms / 1000.0, extensions)
    return json_response(200, {"count": count})


def revoke_tokens(sim, request):
    sim.tokens.revoke_all()
    return json_response(200, {})


def faults(sim, request):
    if request.method == "DELETE":
        sim.faults.clear()
    elif request.method == "POST":
        try:
            sim.faults.add(parse_fault(_body(request)))
        except ValueError as exc:
            raise BadRequest(str(exc)) from exc
    return json_response(200, {"faults": sim.faults.describe()})


def tokens(sim, request):
    return json_response(200, {"tokens": sim.tokens.issued()})


def requests(sim, request):
    if request.method == "DELETE":
        sim.requests.clear()
    return json_response(200, {"requests": sim.requests.entries()})


def events(sim, request):
    if request.method == "DELETE":
        # Only the log: a client that reconnects later still gets what it missed, as from a real PBX.
        sim.hub.clear_history(replay=False)
    return json_response(200, {"events": sim.hub.history()})


def extensions(sim, request):
    """Replaces the directory with the given records, or with "count" numbered ones."""
    if request.method == "POST":
        body = _body(request)
        try:
            if "count" in body:
                sim.account.extensions = numbered_extensions(body["count"], body.get("first", NUMBERED_FIRST))
            else:
                sim.account.extensions = normalise_extensions(body.get("extensions"))
        except AccountError as exc:
            raise BadRequest(str(exc)) from exc
    return json_response(200, {"extensions": sim.account.extensions})


def burst(sim, request):
    """One incoming call per extension, ringing, answered and hung up back to back.

    The answer lists each call with the ids of its events; the event history
    has the time each event was written to each stream.
    """
    body = _body(request)
    steps = body.get("steps", list(BURST_STEPS))
    if not isinstance(steps, list):
        raise BadRequest('"steps" must be a list')
    calls = sim.calls.burst(_string_list(body, "extensions"), _string(body, "caller"), steps)
    return json_response(200, {"calls": [{"uuid": c.uuid, "extension": next(iter(c.legs)), "events": c.event_ids}
                                         for c in calls]})


def traffic(sim, request):
    """A seeded batch of calls of every kind, played at once (traffic.py)."""
    body = _body(request)
    try:
        played = play_batch(sim.calls, body.get("seed", 0), _int(body, "calls", 100, 1, 100000),
                            _string_list(body, "extensions"), _int(body, "hold", 0, 0, 100000),
                            _int(body, "first_number", 0, 0, 10**9), _int(body, "gap_ms", 0, 0, 10000))
    except ValueError as exc:
        raise BadRequest(str(exc)) from exc
    return json_response(200, played)


def wait(sim, request):
    """Blocks until the stream count is in [streams, max_streams], at least
    "opened" streams were ever opened and enough requests (optionally of one
    path and method) arrived, or the time-out."""
    body = _body(request)
    streams = _int(body, "streams", 0, 0, 1000)
    max_streams = _int(body, "max_streams", 1000, 0, 1000)
    opened = _int(body, "opened", 0, 0, 1000000)
    count = _int(body, "requests", 0, 0, 1000000)
    path = _string(body, "path", required=False)
    method = _string(body, "method", required=False)
    timeout_ms = _int(body, "timeout_ms", 10000, 0, MAX_WAIT_MS)
    reached = sim.wait_until(
        lambda: streams <= sim.hub.count() <= max_streams and sim.hub.opened() >= opened
        and sim.requests.count(method, path) >= count,
        timeout_ms / 1000.0)
    return json_response(200, {"ok": reached, "streams": sim.hub.count(), "opened": sim.hub.opened(),
                               "requests": sim.requests.count(method, path)})


def down(sim, request):
    body = _body(request)
    ms = _int(body, "ms", None, 1, MAX_DOWN_MS) if "ms" in body else None
    if ms is None:
        raise BadRequest('"ms" is required')
    # The port closes before the answer goes out, so a caller that has the
    # answer is sure to be refused; open connections are cut after it.
    cut_connections = sim.take_down(ms)
    return json_response(200, {"down_ms": ms}, after=cut_connections)


def shutdown(sim, request):
    return json_response(200, {}, after=sim.stopping.set)


_ROUTES = {
    "state": ({"GET"}, state),
    "reset": ({"POST"}, reset),
    "settings": ({"GET", "POST"}, settings),
    "ring": ({"POST"}, ring),
    "answer": ({"POST"}, answer),
    "hangup": ({"POST"}, hangup),
    "dial": ({"POST"}, dial),
    "burst": ({"POST"}, burst),
    "emit": ({"POST"}, emit),
    "streams/close": ({"POST"}, close_streams),
    "flood": ({"POST"}, flood),
    "revoke-tokens": ({"POST"}, revoke_tokens),
    "tokens": ({"GET"}, tokens),
    "faults": ({"GET", "POST", "DELETE"}, faults),
    "requests": ({"GET", "DELETE"}, requests),
    "events": ({"GET", "DELETE"}, events),
    "extensions": ({"GET", "POST"}, extensions),
    "traffic": ({"POST"}, traffic),
    "wait": ({"POST"}, wait),
    "down": ({"POST"}, down),
    "shutdown": ({"POST"}, shutdown),
}


def is_control(path):
    return path.startswith(PREFIX)


def route(sim, request):
    entry = _ROUTES.get(request.path[len(PREFIX):])
    if entry is None:
        return error_response(404, "unknown control path")
    methods, handler = entry
    if request.method not in methods:
        return error_response(405, "method not allowed", headers=[("Allow", ", ".join(sorted(methods)))])
    try:
        return handler(sim, request)
    except BadRequest as exc:
        return error_response(400, str(exc))
    except CallError as exc:
        return error_response(exc.status, str(exc))
