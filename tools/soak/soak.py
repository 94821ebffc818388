#!/usr/bin/env python3
"""./dev soak: a month of a busy account's PBX traffic at compressed time.

pbxsim plays seeded, randomized traffic (its /_control/traffic batches) and
the everyday trouble of a month: stream cuts with and without replay, cut-off
and failed directory reads, directory changes, expired tokens and refused
refreshes, login outages, a wrong password and its correction, changes of
the PBX's wire dialect and reloads of the library. `tapihost soak` plays the
telephony service. The provider's timers run shortened (TestTimeDivisor).

At every quiet point the PBX's truth is compared with what TAPI shows: every
call in progress in its state on its line, no ended call shown as anything
but idle (a hangup missed while no replay was possible is excused until the
drop and its 404), every extension a line, every line in service while the PBX
is up. Handles, threads, private bytes, heap and the provider's table sizes
are sampled when no call is in progress; see GROWTH_RULE.

    tools/soak/soak.py BUILD_DIR [--minutes N] [--seed S]

./dev soak runs it in a Wine prefix of its own (tools/soak/soak.sh).
"""

import argparse
import json
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "bench"))
from bench import Host  # noqa: E402
from pbxsim.client import PbxSimError, start_pbxsim  # noqa: E402

USER, PASSWORD = "lena.muster", "Demo-Pass-2024"
DIVISOR = 20                      # the provider's timers, and the month's clock, run this much faster
EXTENSIONS = 40
MONTH = {"episodes": 500, "cut": 500, "directory": 100, "directory-fault": 60, "token-expiry": 25,
         "refresh-refused": 25, "outage": 10, "wrong-password": 1, "dialect": 30, "reload": 10}
CALLS_PER_EPISODE = 100           # 500 episodes: 50,000 PBX calls, besides those placed through TAPI
# Calls of a batch start this far apart: a burst faster than the provider carries the calls out would
# leave ring-group copies answered elsewhere offered on a line while its next calls ring.
CALL_GAP_MS = 5
HELD = 6                          # calls of a batch left in progress over the episode's incidents
FULL_MINUTES = 40                 # what the whole month takes, roughly; --minutes scales the month
SETTLE_S = 5.0                    # a quiet point waits this long at most for TAPI to show the PBX's truth
DIALER_PERIOD_S = 30 / DIVISOR
STATES = {0x1: "idle", 0x2: "offering", 0x4: "accepted", 0x8: "dialtone", 0x10: "dialing", 0x20: "ringback",
          0x40: "busy", 0x100: "connected", 0x200: "proceeding", 0x4000: "disconnected", 0x8000: "unknown", 0: "-"}
OFFERING = 0x2
# TAPI states that show a PBX leg: (direction, leg state) -> states.
SHOWN_AS = {("inbound", "ringing"): {0x2, 0x4}, ("inbound", "answered"): {0x100},
            ("outbound", "dialing"): {0, 0x8, 0x10, 0x200, 0x8000}, ("outbound", "ringing"): {0x10, 0x20, 0x200},
            ("outbound", "answered"): {0x100}}
# The PBX's wire dialects (pbxsim settings), each knob drawn at random for a while.
DIALECT_KNOBS = {"ascii_json": (False, True), "pretty_json": (False, True), "bom": (False, True),
                 "line_end": ("lf", "crlf"), "event_ids": (True, False), "heartbeat_ms": (0, 15000 // DIVISOR)}
GROWTH_RULE = ("samples at zero load (no call in progress) after each episode; in each run of the library with "
               "4 samples or more, growth = median of the last quarter minus median of the second quarter, per "
               "10,000 calls between them (or over them, when fewer); the largest counts; limits per 10,000 calls: "
               "handles 20, threads 2, private 4 MiB, heap 1 MiB (both net of the bounded tables' entries), each "
               "table 50 entries; a table the provider bounds itself (rings seen: 32,768) is held to its bound instead")
LIMITS = {"handles": 20, "threads": 2, "private": 4 << 20, "heap": 1 << 20, "table": 50}
TABLES = ("lines", "call numbers", "call uuids", "rings seen", "call lines", "retired calls")
# Tables the provider keeps at a bound of its own (written beside them in the
# code): they fill up to it by design, so they are held to the bound instead.
BOUNDS = {"rings seen": 32768}
# What an entry of such a table takes in the heap (a ring: its "<uuid>_<extension>" key twice, in order and
# in a hash set, with their nodes; 25,000 calls measured about 260 bytes): memory and heap are judged net of
# it, or the table filling up to its bound would count as growth.
BOUNDED_ENTRY_BYTES = {"rings seen": 256}


def say(text):
    print(f"soak: {text}", file=sys.stderr, flush=True)


def plan(episodes, rng):
    """Incidents per episode: each kind as often as its share of the month, at least once, spread at random."""
    share = episodes / MONTH["episodes"]
    incidents = [[] for _ in range(episodes)]
    for kind, count in MONTH.items():
        if kind == "episodes":
            continue
        for slot in rng.sample(range(episodes), min(max(1, round(count * share)), episodes)):
            incidents[slot].append(kind)
    return incidents


class Soak:
    def __init__(self, build, pbx, seed, episodes):
        self.pbx, self.rng = pbx, random.Random(seed)
        self.seed, self.episodes = seed, episodes
        self.directory = [{"extension_number": str(10000 + n), "name": f"Extension {10000 + n}"}
                          for n in range(EXTENSIONS)]
        self.next_extension = 10000 + EXTENSIONS
        self.counts = dict.fromkeys(("calls", "placed", "events", "cuts", "directory changes", "mismatches",
                                     "quiet points"), 0)
        self.incidents, self.kinds = {}, {}
        self.kind_of, self.kind_of_last = {}, {}  # number -> kind of call, of the latest batches
        self.event_ids = True       # the dialect in effect gives event ids (without them nothing is replayed)
        self.excused = set()        # numbers of calls whose hangup was missed without replay
        self.last_event = {}        # uuid -> (id, state) of the call's latest PBX event
        self.placed = []            # TAPI calls placed this episode
        self.dialer = None          # the dialer's call in progress: (tapi call, number)
        self.dialed_at = 0.0
        self.pbx_up, self.password_ok = True, True
        self.samples = []           # (calls so far, sample, run of the library it was taken in)
        self.run_number = 0
        self.longest_delay = (0.0, "")
        self.number = 0
        self.host = Host(build, mode="soak", answer_timeout=120.0)
        self.episode = 0
        self.known_lines = {}       # address -> line at the last quiet point

    # -- the PBX's truth and TAPI's view ---------------------------------------
    def addresses(self):
        return [e["extension_number"] for e in self.directory]

    def mismatches(self):
        """What TAPI shows that differs from the PBX's truth, as text lines; TAPI's lines by address."""
        by_address = {line["address"]: line for line in self.host.ask("lines")["lines"]}
        return self.line_mismatches(by_address) + self.call_mismatches(by_address), by_address

    def line_mismatches(self, by_address):
        found = [f"line {line['line']} ({address}) was line {self.known_lines[address]} at the last quiet point: "
                 f"re-created although its extension stayed" for address, line in by_address.items()
                 if self.known_lines.get(address, line["line"]) != line["line"]]
        for record in self.directory:
            number, name = record["extension_number"], f"ORVO {USER} {record['extension_number']}: {record['name']}"
            line = by_address.get(number)
            if line is None:
                found.append(f"extension {number} has no line")
            elif line["name"] != name:
                found.append(f"line {line['line']} ({number}) is named {line['name']!r}, the PBX says {name!r}")
            elif not line["in_service"] and self.pbx_up and self.password_ok:
                found.append(f"line {line['line']} ({number}) is out of service while the PBX is up")
        for address, line in by_address.items():
            if address not in self.addresses():
                found.append(f"line {line['line']} ({address!r}) has no extension in the directory")
        return found

    def call_mismatches(self, by_address):
        found = []
        shown = {address: list(line["calls"]) for address, line in by_address.items()}
        for call in self.pbx.state()["calls"]:
            number = call["caller"] if call["direction"] == "inbound" else call["callee"]
            for extension, state in call["legs"].items():
                allowed = SHOWN_AS.get((call["direction"], state))
                if allowed is None or extension not in by_address:
                    continue
                candidates = shown[extension]
                match = next((c for c in candidates if number in (c[2], c[3]) and c[1] in allowed), None) or \
                    next((c for c in candidates if c[1] in allowed), None)
                if match is not None:
                    candidates.remove(match)
                    continue
                tapi = ", ".join(f"call {c[0]} {STATES.get(c[1], c[1])} ({c[2]} -> {c[3]})" for c in candidates)
                found.append(f"line {by_address[extension]['line']} ({extension}): PBX call {call['uuid']} "
                             f"{self.kind(number, call['direction'])} {number} is {state} "
                             f"(last event {self.last_event.get(call['uuid'])}), TAPI shows {tapi or 'no call'}")
        for address, candidates in shown.items():
            for tapi_call, state, caller, called in candidates:
                if caller in self.excused or called in self.excused:
                    continue
                found.append(f"line {by_address[address]['line']} ({address}): TAPI call {tapi_call} is "
                             f"{STATES.get(state, state)} ({caller} -> {called}, "
                             f"{self.kind(caller, '') or self.kind(called, 'placed')}), "
                             f"the PBX has no such call in progress")
        return found

    def kind(self, number, otherwise):
        return self.kind_of.get(number) or ("dialer" if self.dialer and number == self.dialer[1] else otherwise)

    def quiet(self, what):
        """A quiet point: TAPI must show the PBX's truth within SETTLE_S."""
        history = self.pbx.events()
        self.pbx.clear_events()
        for entry in history:
            if isinstance(entry.get("data"), dict):
                self.last_event[entry["data"]["uuid"]] = (entry["id"], entry["data"]["state"])
        found, by_address = self.settle()
        if self.excused:
            # A call whose hangup was missed without replay: the application drops it, the PBX answers 404,
            # and the drop ends it; compared again once the drops had their answer.
            for line in by_address.values():
                for tapi_call, _, caller, called in line["calls"]:
                    if caller in self.excused or called in self.excused:
                        self.host.ask(f"drop {tapi_call}")
            self.excused.clear()
            found, by_address = self.settle()
        self.known_lines = {address: line["line"] for address, line in by_address.items()}
        self.collect_events(history)
        self.counts["quiet points"] += 1
        self.counts["mismatches"] += len(found)
        for text in found:
            print(f"MISMATCH episode {self.episode} {what}: {text}", flush=True)

    def settle(self):
        deadline = time.monotonic() + SETTLE_S
        while True:
            found, by_address = self.mismatches()
            if not found or time.monotonic() > deadline:
                return found, by_address
            time.sleep(0.05)

    def collect_events(self, history):
        """The PBX's events since the last quiet point against TAPI's call states: counts and delays."""
        tapi = self.host.ask("events")["events"]
        self.counts["events"] += sum(1 for e in history if "id" in e)
        line_numbers = {l["address"]: l["line"] for l in self.host.ask("lines")["lines"]}
        seen = {}
        for line, _, state, stamp in tapi:
            seen.setdefault((line, state), []).append(stamp)
        for entry in history:
            data = entry.get("data")
            if not isinstance(data, dict):
                continue
            # A ring's OFFERING can be told from other calls' states on the line; a hangup's IDLE not always.
            line = line_numbers.get(data["extension"])
            if data["state"] != "ring" or line is None or not entry["written"]:
                continue
            written = min(w["time"] for w in entry["written"])
            later = [s for s in seen.get((line, OFFERING), []) if s >= written - 0.001]
            if later and later[0] - written > self.longest_delay[0]:
                self.longest_delay = (later[0] - written, f"{data['state']} of {data['uuid']} on {data['extension']}")
        if len(self.last_event) > 10000:
            self.last_event.clear()

    # -- traffic ---------------------------------------------------------------
    def new_number(self):
        self.number += 1
        return "4930%07d" % self.number

    def line_number(self, address):
        return next(l["line"] for l in self.host.ask("lines")["lines"] if l["address"] == address)

    def place(self, address, number=None):
        number = number or self.new_number()
        answer = self.host.ask(f"call {self.line_number(address)} {number}")
        placed = int(answer["result"]) > 0
        self.counts["placed"] += placed
        return answer["call"] if placed else None

    def dial(self):
        """The dialer: every 30 s (scaled) its last call is dropped and, once it is idle (a line places a
        call only when it has no other), the next one placed."""
        if time.monotonic() - self.dialed_at < DIALER_PERIOD_S:
            return
        self.drop_dialer()
        number = self.new_number()
        self.dialer = (self.place(self.addresses()[0], number), number)
        self.dialed_at = time.monotonic()

    def drop_dialer(self):
        if self.dialer is not None and self.dialer[0] is not None:
            self.host.ask(f"drop {self.dialer[0]}")
            deadline = time.monotonic() + SETTLE_S
            while any(l["calls"] for l in self.host.ask("lines")["lines"] if l["address"] == self.addresses()[0]) \
                    and time.monotonic() < deadline:
                time.sleep(0.02)
        self.dialer = None

    def await_dialer_connected(self):
        """Before the stream goes: the dialer's call, placed a moment ago, reaches the provider first. A PBX
        that cannot replay would lose its first events with the stream, and only hangups may go unseen."""
        deadline = time.monotonic() + SETTLE_S
        while self.dialer is not None and self.dialer[0] is not None and time.monotonic() < deadline:
            line = next((l for l in self.host.ask("lines")["lines"] if l["address"] == self.addresses()[0]), None)
            if line is None or any(c[1] == 0x100 and c[3] == self.dialer[1] for c in line["calls"]):
                return
            time.sleep(0.02)

    def traffic(self):
        busy = set(self.addresses()[:3])  # the dialer's and the placed calls' lines
        self.placed = [self.place(address) for address in self.addresses()[1:3]]
        extensions = [a for a in self.addresses() if a not in busy]
        played = self.pbx.control("POST", "traffic", {
            "seed": self.rng.randrange(1 << 30), "calls": CALLS_PER_EPISODE, "extensions": extensions,
            "hold": HELD, "first_number": self.episode * CALLS_PER_EPISODE, "gap_ms": CALL_GAP_MS})
        self.counts["calls"] += CALLS_PER_EPISODE
        for kind, count in played["kinds"].items():
            self.kinds[kind] = self.kinds.get(kind, 0) + count
        self.kind_of = dict(self.kind_of_last, **played["numbers"])  # this episode's and the last one's
        self.kind_of_last = played["numbers"]

    def end_calls(self):
        for tapi_call in self.placed:
            if tapi_call is not None:
                self.host.ask(f"drop {tapi_call}")
        self.placed = []
        for call in self.pbx.state()["calls"]:
            if self.dialer is not None and call["callee"] == self.dialer[1]:
                continue  # the dialer's call goes on
            try:
                self.pbx.hangup(call["uuid"])
            except PbxSimError:
                pass  # ended meanwhile (a placed call's own flow)

    # -- incidents -------------------------------------------------------------
    def opened(self):
        return self.pbx.control("POST", "wait", {"timeout_ms": 0})["opened"]

    def wait_stream(self, opened, timeout=60.0):
        answer = self.pbx.control("POST", "wait", {"streams": 1, "opened": opened, "timeout_ms": int(timeout * 1000)},
                                  timeout=timeout + 5)
        return answer["ok"]

    def cut(self):
        """The stream cut (ended, reset or silent); the reconnection is held up a little, and what happens
        meanwhile is replayed, or missed when the PBX cannot replay: then only hangups happen."""
        self.await_dialer_connected()
        replay = self.rng.random() < 0.6 and self.event_ids
        mode = self.rng.choice(("end", "abort", "silence"))
        opened = self.opened()
        self.pbx.settings(replay=replay)
        self.pbx.fault("/v1/extensions/phone/calls", method="GET", delay_ms=300)
        self.pbx.close_streams(mode)
        time.sleep(0.05)
        for call in self.pbx.state()["calls"]:
            if self.rng.random() < 0.5 and call["callee"] != (self.dialer or (0, ""))[1]:
                number = call["caller"] if call["direction"] == "inbound" else call["callee"]
                if not replay:
                    self.excused.add(number)
                self.pbx.hangup(call["uuid"])
        if replay:
            extensions = [a for a in self.addresses()[3:] if a not in self.busy()]
            self.pbx.ring(self.rng.sample(extensions, 2), self.new_number())
        self.wait_stream(opened + 1)
        self.pbx.settings(replay=True)
        self.counts["cuts"] += 1
        return f"{mode}, {'with' if replay else 'without'} replay"

    def busy(self):
        return {ext for call in self.pbx.state()["calls"] for ext, state in call["legs"].items() if state != "ended"}

    def change_directory(self):
        free = [r for r in self.directory[3:] if r["extension_number"] not in self.busy()]
        change = ("add", "remove", "rename", "renumber")[self.counts["directory changes"] % 4]
        record = self.rng.choice(free)
        if change == "add" or len(free) < 4:
            change = "add"
            self.directory.append({"extension_number": str(self.next_extension), "name": "Büro Süd"})
            self.next_extension += 1
        elif change == "remove":
            self.directory.remove(record)
        elif change == "rename":
            record["name"] = self.rng.choice(("Max Müller", "Empfang", "Straße 5", "Zoë", "Lager"))
        else:
            record.setdefault("uuid", f"soak-{record['extension_number']}")
            record["extension_number"] = str(self.next_extension)
            self.next_extension += 1
        self.pbx.set_extensions(self.directory)
        self.wait_directory_read()
        self.counts["directory changes"] += 1
        return change

    def wait_directory_read(self, reads=2):
        path = "/v1/extensions/phone/data"
        count = self.pbx.control("POST", "wait", {"path": path, "method": "GET", "timeout_ms": 0})["requests"]
        self.pbx.control("POST", "wait", {"path": path, "method": "GET", "requests": count + reads,
                                          "timeout_ms": 30000}, timeout=35)

    def directory_fault(self):
        body = json.dumps({"extensions": self.directory[:5]})
        fault = self.rng.choice(({"status": 200, "body": body, "truncate": True}, {"truncate": True},
                                 {"truncate": True, "reset": True}, {"status": 500}, {"reset": True}))
        self.pbx.fault("/v1/extensions/phone/data", method="GET", **fault)
        self.wait_directory_read()
        return ("cut off: " if fault.get("truncate") else "failed: ") + json.dumps(fault)[:60]

    def token_expiry(self):
        self.pbx.settings(token_lifetime=1)
        self.wait_directory_read(2)
        self.pbx.settings(token_lifetime=3600)
        self.wait_directory_read()

    def refresh_refused(self):
        self.pbx.fault("/v1/login", method="PUT", status=401)
        self.pbx.revoke_tokens()
        self.wait_directory_read()

    def outage(self):
        self.await_dialer_connected()
        opened = self.opened()
        self.pbx_up = False
        self.pbx.down(60000 // DIVISOR)
        time.sleep(60 / DIVISOR)
        self.pbx.wait_until_up()
        self.pbx_up = True
        self.wait_stream(opened + 1)

    def wrong_password(self):
        logins = lambda: self.pbx.control("POST", "wait", {"path": "/v1/login", "method": "POST"})["requests"]
        before = logins()
        self.password_ok = False
        self.host.ask(f"account {USER} Wrong-Pass-1")
        time.sleep(120 / DIVISOR)  # two minutes of the PBX's time
        tries = logins() - before
        if tries > 1:
            self.counts["mismatches"] += 1
            print(f"MISMATCH episode {self.episode} wrong password: {tries} logins with the refused password "
                  f"in 2 minutes (PBX time), one expected until the settings change", flush=True)
        self.host.ask(f"account {USER} {PASSWORD}")
        self.password_ok = True
        self.wait_stream(0)
        return f"{tries} login(s) with it"

    def dialect(self):
        wanted = {knob: self.rng.choice(values) for knob, values in DIALECT_KNOBS.items()}
        opened = self.opened()
        try:
            self.pbx.settings(**wanted)
        except PbxSimError:  # a simulator without the dialect knobs
            wanted = {"heartbeat_ms": wanted["heartbeat_ms"]}
            self.pbx.settings(**wanted)
        self.event_ids = wanted.get("event_ids", True)
        self.await_dialer_connected()
        self.pbx.close_streams("end")  # the new stream speaks it
        self.wait_stream(opened + 1)
        return ", ".join(f"{k}={v}" for k, v in wanted.items())

    def reload(self):
        self.drop_dialer()
        self.end_calls()
        self.quiet("before reload")
        opened = self.opened()
        started = self.host.ask("reload", timeout=300)
        self.run_number += 1
        self.known_lines = {}
        self.wait_stream(opened + 1)
        return f"{started['lines']} lines"

    # -- the run ---------------------------------------------------------------
    def run(self):
        started = self.host.ask("start", timeout=300)
        if int(started["result"]) != 0:
            raise RuntimeError(f"the provider did not start: {started}")
        self.wait_stream(1)
        incidents = plan(self.episodes, self.rng)
        actions = {"cut": self.cut, "directory": self.change_directory, "directory-fault": self.directory_fault,
                   "token-expiry": self.token_expiry, "refresh-refused": self.refresh_refused,
                   "outage": self.outage, "wrong-password": self.wrong_password, "dialect": self.dialect,
                   "reload": self.reload}
        for self.episode in range(self.episodes):
            self.dial()
            self.traffic()
            self.quiet("after traffic")
            for kind in incidents[self.episode]:
                detail = actions[kind]()
                self.incidents[kind] = self.incidents.get(kind, 0) + 1
                self.quiet(f"after {kind}" + (f" ({detail})" if detail else ""))
                self.dial()
            self.end_calls()
            self.quiet("calls ended")
            self.samples.append((self.counts["calls"], self.host.ask("sample"), self.run_number))
            if self.episode % 10 == 0:
                say(f"episode {self.episode + 1}/{self.episodes}: {self.counts['calls']} calls, "
                    f"{self.counts['mismatches']} mismatches")
        self.host.close()

    def growth(self):
        """Per 10,000 calls: figure -> (growth, limit, first sample, last sample). A reload starts the
        provider's tables afresh, so each run of the library is judged alone, and the largest growth counts."""
        size = lambda s, table: s["tables"][TABLES.index(table)] if TABLES.index(table) < len(s["tables"]) else 0
        bounded = lambda s: sum(size(s, table) * bytes for table, bytes in BOUNDED_ENTRY_BYTES.items())
        picks = {name: (lambda s, n=name: s[n], LIMITS[name]) for name in ("handles", "threads")}
        for name in ("private", "heap"):
            picks[name] = (lambda s, n=name: s[n] - bounded(s), LIMITS[name])
        for table in TABLES:
            picks[table] = (lambda s, t=table: size(s, t), LIMITS["table"])
        runs = [[(calls, s) for calls, s, run in self.samples if run == number] for number in range(self.run_number + 1)]
        result = {}
        for samples in (run for run in runs if len(run) >= 4):
            quarter = len(samples) // 4
            early, late = samples[quarter:2 * quarter], samples[-quarter:]
            # Over a span shorter than 10,000 calls the limits hold for the whole span.
            calls = max(10000, late[len(late) // 2][0] - early[len(early) // 2][0])
            for name, (pick, limit) in picks.items():
                value = (sorted(pick(s) for _, s in late)[len(late) // 2] -
                         sorted(pick(s) for _, s in early)[len(early) // 2]) * 10000 / calls
                if name not in result or value > result[name][0]:
                    result[name] = (value, limit, pick(self.samples[0][1]), pick(self.samples[-1][1]))
        return result


def table(soak, seconds):
    growth = soak.growth()
    rows = [("calls (PBX traffic + placed through TAPI)", f"{soak.counts['calls']} + {soak.counts['placed']}"),
            ("PBX events", soak.counts["events"]), ("stream cuts", soak.counts["cuts"]),
            ("directory changes", soak.counts["directory changes"]),
            ("PBX calls by kind", ", ".join(f"{k} {v}" for k, v in sorted(soak.kinds.items()))),
            ("incidents", ", ".join(f"{k} {v}" for k, v in sorted(soak.incidents.items()))),
            ("quiet points compared", soak.counts["quiet points"]), ("mismatches", soak.counts["mismatches"]),
            ("longest event delay (PBX ring write to OFFERING)", f"{soak.longest_delay[0] * 1000:.0f} ms, "
                                                        f"{soak.longest_delay[1]}")]
    grown = []
    for name, (value, limit, first, last) in growth.items():
        unit = " bytes" if name in ("private", "heap") else ""
        bound = BOUNDS.get(name)
        judged = f"bounded at {bound}" if bound else f"limit {limit}"
        rows.append((f"growth per 10,000 calls: {name}",
                     f"{value:+.0f}{unit} ({judged}; first sample {first}, last {last})"))
        if (last > bound) if bound else (value > limit):
            grown.append(name)
    print(f"\nORVOTSP soak: seed {soak.seed}, {soak.episodes} episodes, {seconds / 60:.1f} min, timers / {DIVISOR}")
    print(f"growth rule: {GROWTH_RULE}\n")
    print("| figure | value |\n|---|---|")
    for name, value in rows:
        print(f"| {name} | {value} |")
    return grown


def main():
    parser = argparse.ArgumentParser(description="A month of PBX traffic against the provider, compressed.")
    parser.add_argument("build", help="the build folder (ORVOTSP.TSP and tapihost.exe)")
    parser.add_argument("--minutes", type=float, default=FULL_MINUTES,
                        help=f"share of the month to play: {FULL_MINUTES} is all of it")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--debug-level", type=int, default=0,
                        help="the provider's DebugLevel: its log in the soak prefix's ProgramData\\ORVO")
    args = parser.parse_args()
    episodes = max(1, round(MONTH["episodes"] * args.minutes / FULL_MINUTES))
    build = os.path.abspath(args.build)
    begun = time.monotonic()
    with start_pbxsim(extra_args=["--extensions", str(EXTENSIONS)]) as sim:
        pbx = sim.client(timeout=60.0)
        pbx.set_make_call(dial_delay_ms=1000 // DIVISOR, answer_delay_ms=3000 // DIVISOR)
        settings = {"Name": USER, "Password": PASSWORD, "ApiBaseUrl": f"http://127.0.0.1:{sim.port}/v1",
                    "NumberFormat": 1, "LineFormat": 2, "DebugLevel": args.debug_level, "TestTimeDivisor": DIVISOR,
                    "DirectoryRefreshSeconds": 40, "StreamIdleTimeout": 60}
        subprocess.run(["wine", os.path.join(build, "tapihost.exe"), "settings"] +
                       [f"{k}={v}" for k, v in settings.items()], cwd=build, check=True, timeout=120,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        soak = Soak(build, pbx, args.seed, episodes)
        try:
            soak.run()
        finally:
            soak.host.process.kill()
    grown = table(soak, time.monotonic() - begun)
    failed = soak.counts["mismatches"] > 0 or grown
    print(f"\nsoak: {'FAILED' if failed else 'passed'}" + (f" (grew: {', '.join(grown)})" if grown else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
