"""The PBX's calls and the events they produce.

A call has one leg per extension it concerns: an incoming call offered to two
extensions has two legs under one uuid, an outgoing call one leg for the
calling extension. Every change of a leg is published as an event on the
stream; nothing else reports call progress to the provider.

When one leg of an offered call answers, the PBX reports "answer" for that
extension only: the provider idles the other offered copies itself.
"""

import threading
import uuid as uuidlib

from .eventstream import event_members

DIALING, RINGING, ANSWERED, ENDED = "dialing", "ringing", "answered", "ended"
INBOUND, OUTBOUND = "inbound", "outbound"
BURST_STEPS = ("ring", "answer", "hangup")
BURST_PLANS = (("ring",), ("ring", "answer"), ("ring", "hangup"), BURST_STEPS)


class CallError(Exception):
    def __init__(self, status, text):
        super().__init__(text)
        self.status = status


class Call:
    def __init__(self, uuid, direction, caller, callee):
        self.uuid = uuid
        self.direction = direction
        self.caller = caller
        self.callee = callee
        self.legs = {}           # extension -> state, in offering order
        self.leg_callee = {}     # extension -> called number shown on that leg
        self.event_ids = []      # of every event published for the call, in order

    def active_legs(self):
        return [ext for ext, state in self.legs.items() if state != ENDED]

    def describe(self):
        return {"uuid": self.uuid, "direction": self.direction, "caller": self.caller,
                "callee": self.callee, "legs": dict(self.legs)}


class CallBook:
    def __init__(self, hub, scheduler):
        self._hub = hub
        self._scheduler = scheduler
        self._lock = threading.RLock()
        self._calls = {}

    # -- helpers ---------------------------------------------------------
    def _publish(self, call, extension, state):
        call.event_ids.append(self._hub.publish(event_members(
            call.uuid, extension, call.caller, call.leg_callee[extension], state, call.direction)))

    def _active_call(self, uuid):
        call = self._calls.get(uuid)
        if call is None:
            raise CallError(404, f"no active call {uuid}")
        return call

    def _forget_if_over(self, call):
        if not call.active_legs():
            self._calls.pop(call.uuid, None)
            # A dropped call's planned "answer" must never come.
            self._scheduler.cancel(call.uuid)

    def _new_uuid(self, wanted):
        if wanted is None:
            return str(uuidlib.uuid4())
        if wanted in self._calls:
            raise CallError(409, f"call {wanted} is still active")
        return wanted

    # -- incoming --------------------------------------------------------
    def ring(self, extensions, caller, callee=None, uuid=None):
        """Offers a new incoming call to each extension; returns the call."""
        with self._lock:
            call = Call(self._new_uuid(uuid), INBOUND, caller, callee)
            for extension in extensions:
                call.legs[extension] = RINGING
                # Without an explicit called number each leg shows its own extension.
                call.leg_callee[extension] = callee if callee is not None else extension
            self._calls[call.uuid] = call
            for extension in extensions:
                self._publish(call, extension, "ring")
            return call

    def answer(self, uuid, extension=None):
        with self._lock:
            call = self._active_call(uuid)
            if extension is None:
                ringing = [ext for ext, state in call.legs.items() if state == RINGING]
                if not ringing:
                    raise CallError(409, f"call {uuid} has no ringing leg")
                extension = ringing[0]
            if call.legs.get(extension) != RINGING:
                raise CallError(409, f"call {uuid} is not ringing at {extension}")
            for other, state in call.legs.items():
                if other != extension and state == RINGING:
                    call.legs[other] = ENDED
            call.legs[extension] = ANSWERED
            self._publish(call, extension, "answer")
            return call

    def hangup(self, uuid, extensions=None):
        """Ends the given legs (default: all active ones) with "hangup" events."""
        with self._lock:
            call = self._active_call(uuid)
            targets = call.active_legs() if extensions is None else list(extensions)
            for extension in targets:
                if call.legs.get(extension) in (None, ENDED):
                    raise CallError(409, f"call {uuid} has no active leg at {extension}")
            for extension in targets:
                call.legs[extension] = ENDED
                self._publish(call, extension, "hangup")
            self._forget_if_over(call)
            return targets

    def burst(self, extensions, caller, steps=BURST_STEPS):
        """One incoming call per extension, played as fast as events can be made.

        Each step ("ring", then "answer" and/or "hangup") is taken for every
        call before the next step starts, so a call centre's lines all ring,
        are all answered and all hang up back to back. Returns the calls.
        """
        steps = tuple(steps)
        if steps not in BURST_PLANS:
            raise CallError(400, 'steps must be "ring", then "answer" and/or "hangup", in that order')
        with self._lock:
            calls = [self.ring([extension], caller) for extension in extensions]
            for step in steps[1:]:
                act = self.answer if step == "answer" else self.hangup
                for call in calls:
                    act(call.uuid)
            return calls

    # -- outgoing --------------------------------------------------------
    def place(self, extension, callee, uuid=None):
        """Registers an outgoing call; its events start with start_flow()."""
        with self._lock:
            call = Call(self._new_uuid(uuid), OUTBOUND, extension, callee)
            call.legs[extension] = DIALING
            call.leg_callee[extension] = callee
            self._calls[call.uuid] = call
            return call

    def start_flow(self, call, outcome, dial_delay_ms, answer_delay_ms):
        """Plays "caller-dial", "dial" and then the outcome of the far end.

        outcome: "answer", "hangup" (busy or rejected far end), "ringing"
        (nobody answers; the call rings until dropped) or "silent" (no events).
        Ending the call cancels its pending steps; each step also checks that
        the call is still in the expected state when it runs.
        """
        if outcome == "silent":
            return
        extension = call.caller

        def later(delay_ms, action):
            self._scheduler.call_later(delay_ms / 1000.0, action, tag=call.uuid)

        def step(expected, state, new_leg_state, then=None):
            def run():
                with self._lock:
                    if self._calls.get(call.uuid) is not call or call.legs.get(extension) != expected:
                        return
                    call.legs[extension] = new_leg_state
                    # The next step is planned before the event goes out, so
                    # whoever sees the event also sees the step pending.
                    if then is not None:
                        then()
                    self._publish(call, extension, state)
                    self._forget_if_over(call)
            return run

        def after_dial():
            if outcome == "answer":
                later(answer_delay_ms, step(RINGING, "answer", ANSWERED))
            elif outcome == "hangup":
                later(answer_delay_ms, step(RINGING, "hangup", ENDED))

        def after_caller_dial():
            later(dial_delay_ms, step(DIALING, "dial", RINGING, after_dial))

        later(0, step(DIALING, "caller-dial", DIALING, after_caller_dial))

    # An outgoing call's steps: event -> (leg state before, leg state after).
    _OUTGOING_STEPS = {"caller-dial": (DIALING, DIALING), "dial": (DIALING, RINGING), "answer": (RINGING, ANSWERED)}

    def advance(self, uuid, state):
        """Takes an outgoing call's next step at once ("caller-dial", "dial",
        "answer"), for scripted traffic that does not wait for the flow's delays."""
        with self._lock:
            call = self._active_call(uuid)
            before, after = self._OUTGOING_STEPS[state]
            if call.direction != OUTBOUND or call.legs.get(call.caller) != before:
                raise CallError(409, f"call {uuid} cannot take the step {state}")
            call.legs[call.caller] = after
            self._publish(call, call.caller, state)
            return call

    def drop(self, uuid):
        """The REST drop: ends every active leg; False when the call is unknown."""
        try:
            self.hangup(uuid)
            return True
        except CallError:
            return False

    # -- bookkeeping -----------------------------------------------------
    def busy_extensions(self):
        """Extensions with a leg of a call that has not ended."""
        with self._lock:
            return {ext for call in self._calls.values() for ext in call.active_legs()}

    def describe(self):
        with self._lock:
            return [call.describe() for call in self._calls.values()]

    def clear(self):
        with self._lock:
            self._calls.clear()
