"""Scripted traffic for the soak run (tools/soak): a batch of calls of the
kinds a busy account has, chosen by a seeded random generator and played
back to back through the call book, as fast as events can be made, or
`gap_ms` apart.

Every call gets a number of its own (the caller of an incoming call, the
callee of an outgoing one), so that whoever compares the PBX's calls with a
client's can tell them apart. The last `hold` calls stop before their end
and stay in progress, ringing or answered, for the caller to end later.

An extension rests after a call while calls take two thirds of the others:
back to back, one phone would get calls a few milliseconds apart, faster
than any telephony service closes the ended ones, and a line holds three
calls, ended ones not yet closed among them. A call takes only the
extensions it rings.
"""

import collections
import random
import time

# Kind of call -> the extensions of the directory it takes.
KINDS = {"inbound": 1, "missed": 1, "group": 3, "group-elsewhere": 2, "outbound": 1, "internal": 2}


def _outgoing(calls, extension, callee, steps):
    call = calls.place(extension, callee)
    for step in steps:
        calls.advance(call.uuid, step)
    return call


def _play(calls, kind, number, rng, extensions, held):
    """One call of the kind on its extensions; returns its uuids. A held call stops before its end."""
    first, second, third = extensions + [None] * (3 - len(extensions))
    if kind == "inbound":
        call = calls.ring([first], number)
        if not held or rng.random() < 0.5:  # held: ringing or answered, as chance has it
            calls.answer(call.uuid, first)
        uuids = [call.uuid]
    elif kind == "missed":
        uuids = [calls.ring([first], number).uuid]
    elif kind == "group":
        # A ring group: the PBX reports the answer of one member only.
        call = calls.ring([first, second, third], number)
        calls.answer(call.uuid, second)
        uuids = [call.uuid]
    elif kind == "group-elsewhere":
        # Answered by a phone outside the directory (a mobile in the group).
        call = calls.ring([first, second, "mobile-" + number], number)
        calls.answer(call.uuid, "mobile-" + number)
        uuids = [call.uuid]
    elif kind == "outbound":
        uuids = [_outgoing(calls, first, number, ("caller-dial", "dial", "answer")).uuid]
    else:  # internal: the caller's outgoing leg and the callee's incoming one
        outgoing = _outgoing(calls, first, second, ("caller-dial", "dial"))
        incoming = calls.ring([second], first)
        calls.answer(incoming.uuid, second)
        calls.advance(outgoing.uuid, "answer")
        uuids = [outgoing.uuid, incoming.uuid]
    if not held:
        for uuid in uuids:
            calls.hangup(uuid)
    return uuids


def play_batch(calls, seed, count, extensions, hold=0, first_number=0, gap_ms=0):
    """Plays count calls on the extensions, each gap_ms after the one before;
    {"kinds": {kind: n}, "numbers": {number: kind}, "held": [uuids]}."""
    if len(extensions) < 3:
        raise ValueError("traffic needs at least three extensions")
    rng = random.Random(seed)
    kinds = dict.fromkeys(KINDS, 0)
    held, numbers = [], {}
    resting = collections.deque(maxlen=len(extensions) * 2 // 3)  # the longest rested first
    for index in range(count):
        time.sleep(gap_ms / 1000 if index else 0)
        kind = rng.choice(tuple(KINDS))
        kinds[kind] += 1
        number = "49%09d" % (first_number + index)
        numbers[number] = kind
        # Held calls take extensions without a call, so that no line holds more calls than it shows.
        busy = calls.busy_extensions() if index >= count - hold else ()
        ready = [e for e in extensions if e not in resting and e not in busy]
        ready += [e for e in resting if e not in busy][:max(0, KINDS[kind] - len(ready))]
        picked = rng.sample(ready if len(ready) >= KINDS[kind] else extensions, KINDS[kind])
        resting.extend(picked)
        uuids = _play(calls, kind, number, rng, picked, index >= count - hold)
        if index >= count - hold:
            held += uuids
    return {"kinds": kinds, "numbers": numbers, "held": held}
