"""The PBX's REST interface under "/v1"."""

from urllib.parse import unquote

from .messages import StreamStart, error_response, in_dialect, json_response
from .tokens import ACCESS, REFRESH, TokenError

LOGIN = "/v1/login"
DIRECTORY = "/v1/extensions/phone/data"
CALLS = "/v1/extensions/phone/calls"
CALL_PREFIX = CALLS + "/"


def _unauthorised(text):
    return error_response(401, text, headers=[("WWW-Authenticate", 'Bearer realm="pbx"')])


def _bearer_claims(sim, request, kind):
    """(claims, None) for a valid bearer token of the kind, else (None, 401 answer)."""
    value = request.header("Authorization")
    if value is None:
        return None, _unauthorised("missing bearer token")
    scheme, _, token = value.strip().partition(" ")
    if scheme.lower() != "bearer" or not token.strip():
        return None, _unauthorised("missing bearer token")
    try:
        return sim.tokens.verify(token.strip(), kind), None
    except TokenError as exc:
        return None, _unauthorised(str(exc))


def _token_answer(sim, user):
    return json_response(200, {
        "access-token": sim.tokens.issue(user, ACCESS, sim.settings.get("token_lifetime")),
        "refresh-token": sim.tokens.issue(user, REFRESH, sim.settings.get("refresh_token_lifetime")),
        "expires-in": sim.settings.get("token_lifetime"),
    })


def login(sim, request):
    body = request.json_object()
    if body is None:
        return error_response(400, "request body is not a JSON object")
    user, password = body.get("username"), body.get("password")
    if not isinstance(user, str) or not isinstance(password, str):
        return error_response(400, 'string members "username" and "password" are required')
    if not sim.account.check_login(user, password):
        return error_response(401, "invalid username or password")
    return _token_answer(sim, user)


def refresh(sim, request):
    claims, refusal = _bearer_claims(sim, request, REFRESH)
    if refusal is not None:
        return refusal
    if not sim.account.has_user(claims.get("sub")):
        return _unauthorised("unknown user")
    return _token_answer(sim, claims["sub"])


def directory(sim, request):
    _, refusal = _bearer_claims(sim, request, ACCESS)
    if refusal is not None:
        return refusal
    # Flat records inside an outer object; the provider picks out each record.
    # An extension with a call in progress shows "busy", as a PBX's presence does.
    busy = sim.calls.busy_extensions()
    records = [dict(record, presence="busy") if record["extension_number"] in busy else record
               for record in sim.account.extensions]
    return json_response(200, {"extensions": records})


def event_stream(sim, request):
    _, refusal = _bearer_claims(sim, request, ACCESS)
    if refusal is not None:
        return refusal
    # A reconnecting client names the last event it has; the PBX sends what came after.
    last_event_id = request.header("Last-Event-ID") if sim.settings.get("replay") else None
    return StreamStart(chunked=sim.settings.get("chunked"), last_event_id=last_event_id)


def make_call(sim, request):
    claims, refusal = _bearer_claims(sim, request, ACCESS)
    if refusal is not None:
        return refusal
    body = request.json_object()
    if body is None:
        return error_response(400, "request body is not a JSON object")
    extension, callee = body.get("extension"), body.get("callee")
    if not isinstance(extension, str) or not extension or not isinstance(callee, str) or not callee:
        return error_response(400, 'string members "extension" and "callee" are required')
    for context in ("caller_context", "callee_context"):
        if context in body and body[context] != claims["customer"]:
            return error_response(403, f'"{context}" is not this customer')
    if not sim.account.has_extension(extension):
        return error_response(403, f"extension {extension} is not in this account")
    behaviour = sim.settings.get("make_call")
    if behaviour["outcome"] == "reject":
        return error_response(behaviour["status"], behaviour["error"])
    call = sim.calls.place(extension, callee)

    def start_events():
        sim.calls.start_flow(call, behaviour["outcome"],
                             behaviour["dial_delay_ms"], behaviour["answer_delay_ms"])

    return json_response(202, {"uuid": call.uuid}, after=start_events)


def drop(sim, request, call_id):
    _, refusal = _bearer_claims(sim, request, ACCESS)
    if refusal is not None:
        return refusal
    if not sim.calls.drop(call_id):
        return error_response(404, f"no active call {call_id}")
    return json_response(200, {"uuid": call_id, "state": "hangup"})


_ROUTES = {
    LOGIN: {"POST": login, "PUT": refresh},
    DIRECTORY: {"GET": directory},
    CALLS: {"GET": event_stream, "POST": make_call},
}


def route(sim, request):
    """The answer (Response or StreamStart) of one REST request, in the dialect set."""
    return in_dialect(_answer(sim, request), sim.settings)


def _answer(sim, request):
    methods = _ROUTES.get(request.path)
    if methods is not None:
        handler = methods.get(request.method)
        if handler is None:
            return error_response(405, "method not allowed",
                                  headers=[("Allow", ", ".join(methods))])
        return handler(sim, request)
    if request.path.startswith(CALL_PREFIX) and len(request.path) > len(CALL_PREFIX):
        if request.method != "DELETE":
            return error_response(405, "method not allowed", headers=[("Allow", "DELETE")])
        return drop(sim, request, unquote(request.path[len(CALL_PREFIX):]))
    return error_response(404, "not found")
