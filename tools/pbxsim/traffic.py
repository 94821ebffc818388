"""Scripted traffic for the soak run (tools/soak): a batch of calls of the
kinds a busy account has, chosen by a seeded random generator and played
back to back through the call book, as fast as events can be made.

Every call gets a number of its own (the caller of an incoming call, the
callee of an outgoing one), so that whoever compares the PBX's calls with a
client's can tell them apart. The last `hold` calls stop before their end
and stay in progress, ringing or answered, for the caller to end later.
"""

import random

KINDS = ("inbound", "missed", "group", "group-elsewhere", "outbound", "internal")


def _outgoing(calls, extension, callee, steps):
    call = calls.place(extension, callee)
    for step in steps:
        calls.advance(call.uuid, step)
    return call


def _play(calls, kind, number, rng, extensions, held):
    """One call of the kind; returns its uuids. A held call stops before its end."""
    first, second, third = rng.sample(extensions, 3)
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


def play_batch(calls, seed, count, extensions, hold=0, first_number=0):
    """Plays count calls on the extensions; {"kinds": {kind: n}, "numbers": {number: kind}, "held": [uuids]}."""
    if len(extensions) < 3:
        raise ValueError("traffic needs at least three extensions")
    rng = random.Random(seed)
    kinds = dict.fromkeys(KINDS, 0)
    held, numbers = [], {}
    for index in range(count):
        kind = rng.choice(KINDS)
        kinds[kind] += 1
        number = "49%09d" % (first_number + index)
        numbers[number] = kind
        if index < count - hold:
            _play(calls, kind, number, rng, extensions, False)
            continue
        # Held calls take extensions without a call, so that no line holds more calls than it shows.
        free = [e for e in extensions if e not in calls.busy_extensions()]
        held += _play(calls, kind, number, rng, free if len(free) >= 3 else extensions, True)
    return {"kinds": kinds, "numbers": numbers, "held": held}
