#!/usr/bin/env python3
"""./dev bench: how fast the provider turns PBX events into TAPI events, and
how it starts with a large directory, measured on the built library.

The PBX simulator publishes the events itself, as fast as it can, and notes
when each one was written to the provider's event stream; `tapihost bench`
loads ORVOTSP.TSP under Wine as the telephony service would and stamps every
TAPI callback. Both stamps come from the machine's one real-time clock (see
tools/tapihost/WallClock.h), and each run measures the offset between them.

Scenarios:
  single   one call at a time: PBX "ring" write to OFFERING, "hangup" write to IDLE
  burst    N lines, one call each, all rung, answered and hung up back to back
           (--lines: one burst per number)
  startup  N extensions: enumeration and initialisation at the first start (every
           extension new) and a later one, every line's capabilities, memory

The single calls also give the stages of one event: the provider stamps them
when tapihost runs with ORVO_STAGE_CLOCK (common/StageClock.h).

The output is the README's table: every figure beside its target, and the
targets missed named at the end.

    tools/bench/bench.py BUILD_DIR [--calls 200] [--lines 1000,10000] [--extensions 10000]
                                   [--burst-wait 60] [--only single,burst,startup] [--json FILE]

./dev bench runs it in a Wine prefix of its own (tools/bench/bench.sh).
"""

import argparse
import json
import os
import platform
import queue
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from pbxsim.client import start_pbxsim  # noqa: E402

USER, PASSWORD = "lena.muster", "Demo-Pass-2024"
CALLER = "4930123456"
NEWCALL = 0  # how tapihost bench marks a call's announcement in its event list
OFFERING, CONNECTED, DISCONNECTED, IDLE = 0x2, 0x100, 0x4000, 0x1
# What TAPI must see of one incoming call, in this order, answered or not.
ANSWERED_CALL = (NEWCALL, OFFERING, CONNECTED, DISCONNECTED, IDLE)
UNANSWERED_CALL = (NEWCALL, OFFERING, DISCONNECTED, IDLE)
QUICK_WAIT_MS = 5000
# How long a single call rings before its caller hangs up: long enough for the
# provider to finish its pauses after OFFERING, so that the hangup's figure is
# the hangup's own and not the rest of the ring.
RING_TIME_S = 0.1


def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


class Host:
    """`tapihost bench` (or another of its driven modes, `soak`) under Wine:
    one command, one JSON answer line."""

    def __init__(self, build, stage_file=None, mode="bench", answer_timeout=60.0):
        env = dict(os.environ)
        if stage_file:
            # Relative to the host's working folder, the build folder.
            env["ORVO_STAGE_CLOCK"] = stage_file
        self.answer_timeout = answer_timeout
        self.process = subprocess.Popen(
            ["wine", os.path.join(build, "tapihost.exe"), mode], cwd=build, text=True, bufsize=1, encoding="utf-8",
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def ask(self, command, timeout=None):
        timeout = timeout or self.answer_timeout
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError(f"tapihost did not answer {command!r} within {timeout:.0f} s") from None
        if line is None:
            raise RuntimeError(f"tapihost ended before answering {command!r}")
        answer = json.loads(line)
        if "error" in answer:
            raise RuntimeError(f"tapihost: {answer['error']} ({command})")
        return answer

    def close(self):
        try:
            self.ask("quit", timeout=60)
            self.process.wait(timeout=30)
        except (OSError, TimeoutError, RuntimeError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def percentile(values, share):
    """Nearest-rank percentile; None for no values."""
    if not values:
        return None
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * share // 100))
    return ordered[int(rank) - 1]


def write_times(history):
    """(uuid, state) of every event the simulator published -> its first write time."""
    times = {}
    for entry in history:
        data, written = entry.get("data"), entry.get("written")
        if isinstance(data, dict) and written:
            times.setdefault((data.get("uuid"), data.get("state")), min(w["time"] for w in written))
    return times


def start_lines(host, pbx):
    """Starts the provider, reads its lines' capabilities, opens them and waits
    for its event stream; the lines' addresses."""
    started = host.ask("start", timeout=300)
    if int(started["result"]) != 0 or started["lines"] == 0:
        raise RuntimeError(f"the provider did not start: {started}")
    addresses = host.ask("caps", timeout=300)["addresses"]
    host.ask("open", timeout=300)
    pbx.wait_for(streams=1, timeout=60)
    return addresses


def fresh_directory(pbx, count):
    pbx.reset()  # ends the last host's stream and clears the event history
    pbx.number_extensions(count)


def clock_offset(host, rounds=50):
    """Wine's wall clock minus Python's, from the round trip with the least
    delay (offset, uncertainty), in seconds."""
    best = None
    for _ in range(rounds):
        before = time.time()
        now = host.ask("clock")["now"]
        after = time.time()
        if best is None or after - before < best[1] - best[0]:
            best = (before, after, now)
    before, after, now = best
    return now - (before + after) / 2, (after - before) / 2


def judge_call(events, expected):
    """(lost, duplicated, in order) of one call's TAPI events: expected ones
    that never came, ones beyond the expected (a second time, or a state the
    call should not have had), and whether those that came kept the expected
    order."""
    states = [state for _, _, state, _ in events]
    lost = sum(1 for state in expected if state not in states)
    duplicated = len(states) - (len(expected) - lost)
    seen = [state for state in dict.fromkeys(states) if state in expected]
    return lost, duplicated, seen == [state for state in expected if state in seen]


def first_of_each(events):
    firsts = {}
    for _, _, state, stamp in events:
        firsts.setdefault(state, stamp)
    return firsts


STAGE_FILE = "bench-stages.txt"
# The stages of one event as the provider stamps them (common/StageClock.h),
# each the time since the stamp before it; "read" counts from the PBX's write.
STAGES = ("read", "framing", "parse", "dispatch", "delivery", "TAPI callback")
STAGE_MEANING = {
    "read": "PBX write until the provider has the bytes",
    "framing": "bytes to whole events",
    "parse": "JSON, event fields, numbers formatted",
    "dispatch": "handed to the dispatcher's thread",
    "delivery": "call created, TAPI records, until TAPI's callback",
    "TAPI callback": "the callback itself (tapihost's part)",
}
FILETIME_1970 = 116444736000000000


def read_stage_records(path):
    """(state, [unix seconds of read, framed, parsed, dispatched, delivering,
    returned]) of every call state the provider delivered, in order."""
    records = []
    try:
        with open(path, encoding="ascii") as handle:
            for line in handle:
                fields = [int(field) for field in line.split()]
                if len(fields) == 1 + len(STAGES):
                    records.append((fields[0], [(t - FILETIME_1970) / 1e7 if t else None for t in fields[1:]]))
    except (OSError, ValueError):
        return []
    return records


def stage_times(write, stamps):
    """The stages of one event, seconds each; None where a stamp is missing."""
    moments = [write] + stamps
    return [None if a is None or b is None else b - a for a, b in zip(moments, moments[1:])]


def single_call(build, pbx, calls):
    fresh_directory(pbx, 1)
    offering, idle = [], []
    lost = duplicated = out_of_order = 0
    stage_path = os.path.join(build, STAGE_FILE)
    if os.path.exists(stage_path):
        os.remove(stage_path)
    with Host(build, stage_file=STAGE_FILE) as host:
        extension = start_lines(host, pbx)[0]
        offerings = idles = 0
        windows = []
        for _ in range(calls):
            uuid = pbx.burst([extension], CALLER, steps=["ring"])[0]["uuid"]
            offerings = host.ask(f"wait {OFFERING} {offerings + 1} {QUICK_WAIT_MS}")["count"]
            time.sleep(RING_TIME_S)
            pbx.hangup(uuid)
            idles = host.ask(f"wait {IDLE} {idles + 1} {QUICK_WAIT_MS}")["count"]
            host.ask("close")
            windows.append((uuid, host.ask("events")["events"]))
    writes = write_times(pbx.events())
    for uuid, events in windows:
        call_lost, call_duplicated, in_order = judge_call(events, UNANSWERED_CALL)
        lost += call_lost
        duplicated += call_duplicated
        out_of_order += not in_order
        firsts = first_of_each(events)
        if OFFERING in firsts and (uuid, "ring") in writes:
            offering.append(firsts[OFFERING] - writes[(uuid, "ring")])
        if IDLE in firsts and (uuid, "hangup") in writes:
            idle.append(firsts[IDLE] - writes[(uuid, "hangup")])
    # The provider's OFFERING stamps, one per call and in the calls' order.
    offered = [stamps for state, stamps in read_stage_records(stage_path) if state == OFFERING]
    stages = {name: [] for name in STAGES}
    if len(offered) == len(windows):
        for (uuid, _), stamps in zip(windows, offered):
            if (uuid, "ring") in writes:
                for name, took in zip(STAGES, stage_times(writes[(uuid, "ring")], stamps)):
                    if took is not None:
                        stages[name].append(took)
    return {"calls": calls, "offering_p50_s": percentile(offering, 50), "offering_p99_s": percentile(offering, 99),
            "idle_p50_s": percentile(idle, 50), "idle_p99_s": percentile(idle, 99),
            "lost": lost, "duplicated": duplicated, "out_of_order": out_of_order,
            "stages": {name: {"p50_s": percentile(v, 50), "p99_s": percentile(v, 99), "mean_s": mean(v)}
                       for name, v in stages.items()}}


def mean(values):
    return sum(values) / len(values) if values else None


def burst(build, pbx, lines, wait_s):
    fresh_directory(pbx, lines)
    with Host(build) as host:
        addresses = start_lines(host, pbx)
        extensions = [a for a in addresses if a][:lines]
        say(f"burst: {len(extensions)} lines ring, answer and hang up")
        calls = pbx.burst(extensions, CALLER)
        waited = host.ask(f"wait {IDLE} {len(calls)} {int(wait_s * 1000)}", timeout=wait_s + 60)
        events = host.ask("events", timeout=120)["events"]
    history = pbx.events()
    writes = write_times(history)
    by_line = {}
    for event in events:
        by_line.setdefault(event[0], []).append(event)
    line_of = {address: line for line, address in enumerate(addresses)}
    lost = duplicated = out_of_order = handled = 0
    offering, stamps = [], []
    for call in calls:
        mine = by_line.get(line_of[call["extension"]], [])
        call_lost, call_duplicated, in_order = judge_call(mine, ANSWERED_CALL)
        lost += call_lost
        duplicated += call_duplicated
        out_of_order += not in_order
        states = first_of_each(mine)
        handled += sum(1 for state in (OFFERING, CONNECTED, IDLE) if state in states)
        stamps += [stamp for _, _, _, stamp in mine]
        if OFFERING in states and (call["uuid"], "ring") in writes:
            offering.append(states[OFFERING] - writes[(call["uuid"], "ring")])
    burst_writes = [writes[key] for key in writes]
    first_write = min(burst_writes) if burst_writes else None
    all_idle = waited["reached"] and lost == 0
    span = (max(stamps) - first_write) if stamps and first_write is not None else None
    return {"lines": len(calls), "events": 3 * len(calls), "wait_s": wait_s, "idle_calls": waited["count"],
            "complete": waited["reached"], "offered": len(offering),
            "all_idle_s": span if all_idle else None, "handled_events": handled,
            "events_per_s": handled / span if span else None,
            "offering_p50_s": percentile(offering, 50), "offering_p99_s": percentile(offering, 99),
            "write_spread_s": (max(burst_writes) - first_write) if burst_writes else None,
            "not_written": sum(1 for e in history if "id" in e and not e["written"]),
            "lost": lost, "duplicated": duplicated, "out_of_order": out_of_order}


# The start-up with this many extensions is the reference that memory per
# 1000 lines is counted from: the fixed cost of a started provider.
REFERENCE_EXTENSIONS = 10


def timed_start(build, pbx, forget_ids, measure):
    """One start of a fresh host: enumeration and initialisation, and with
    measure also every line's capabilities and the memory afterwards."""
    with Host(build) as host:
        if forget_ids:
            host.ask("forget-ids")
        loaded = host.ask("memory") if measure else None
        started = host.ask("start", timeout=600)
        run = {"lines": started["lines"], "result": int(started["result"]),
               "enumerate_ms": started["enumerate_ms"], "initialise_ms": started["initialise_ms"]}
        if measure:
            caps = host.ask("caps", timeout=600)
            after = host.ask("memory")
            run.update({"caps_ms": caps["caps_ms"], "caps_failed": caps["failed"],
                        "heap_loaded": loaded["heap"], "heap_started": after["heap"],
                        "private_started": after["private"], "working_set_started": after["working_set"]})
    return run


def startup(build, pbx, extensions):
    """Each size started twice: first with every extension new to the
    provider (no permanent line ID remembered), then again as every later
    start finds them."""
    sizes = sorted({REFERENCE_EXTENSIONS, max(1, extensions // 10), max(1, extensions // 2), extensions})
    runs = []
    for size in sizes:
        fresh_directory(pbx, size)
        say(f"start-up with {size} extensions, first and later start")
        first = timed_start(build, pbx, True, False)
        later = timed_start(build, pbx, False, True)
        runs.append(dict(later, extensions=size, first_enumerate_ms=first["enumerate_ms"],
                         first_initialise_ms=first["initialise_ms"], first_lines=first["lines"],
                         first_result=first["result"]))
    return runs


def per_thousand_lines(reference, run):
    """MiB of heap in use per 1000 lines that a start-up has beyond the reference one.

    Heap bytes in use, not the process's private or resident memory: Wine
    counts freed but still resident pages there too (the directory's answer
    and its parse, for one), which hides the growth per line behind noise.
    """
    lines = run["lines"] - reference["lines"]
    if lines <= 0:
        return None
    return (run["heap_started"] - reference["heap_started"]) / lines * 1000 / 2**20


# -- the table ------------------------------------------------------------

def ms(seconds):
    if seconds is None:
        return "-"
    if seconds >= 10:
        return f"{seconds:.1f} s"
    return f"{seconds * 1000:.1f} ms" if seconds >= 0.01 else f"{seconds * 1000:.2f} ms"


def pair(first, second, unit=ms):
    return f"{unit(first)} / {unit(second)}"


def verdict(ok):
    return "-" if ok is None else "yes" if ok else "NO"


# The targets every run is judged by.
SINGLE_P99_S = 0.002
# Burst targets by number of lines: every call idle within, OFFERING p99 at most.
BURST_TARGETS = {1000: (0.5, 0.05), 10000: (5.0, 1.0)}
START_S = 0.5
CAPS_S = 0.1
HEAP_MIB_PER_1000 = 1.5


def rows_single(r):
    p99 = r["offering_p99_s"]
    return [
        (f"one call at a time ({r['calls']} calls)", "PBX ring write to OFFERING, p50 / p99",
         pair(r["offering_p50_s"], p99), f"p99 <= {ms(SINGLE_P99_S)}",
         verdict(p99 is not None and p99 <= SINGLE_P99_S)),
        ("", "PBX hangup write to IDLE, p50 / p99", pair(r["idle_p50_s"], r["idle_p99_s"]), "", ""),
        ("", "lost / duplicated / out of order", f"{r['lost']} / {r['duplicated']} / {r['out_of_order']}",
         "0 / 0 / 0", verdict(r["lost"] == r["duplicated"] == r["out_of_order"] == 0)),
    ]


def rows_stages(r):
    """Where the time of one ring goes, stage by stage (one call at a time)."""
    stages = r.get("stages") or {}
    if not any(stage["p50_s"] is not None for stage in stages.values()):
        return [("stages of one event", "no stage stamps (ORVO_STAGE_CLOCK) were written", "-", "", "")]
    rows = []
    for index, name in enumerate(STAGES):
        stage = stages[name]
        rows.append(("stages of one ring, p50 / p99 / mean" if index == 0 else "",
                     f"{name}: {STAGE_MEANING[name]}",
                     f"{pair(stage['p50_s'], stage['p99_s'])} / {ms(stage['mean_s'])}", "", ""))
    return rows


def rows_burst(r):
    all_idle, p99 = r["all_idle_s"], r["offering_p99_s"]
    idle_target, p99_target = BURST_TARGETS.get(r["lines"], (None, None))
    idle_text = ms(all_idle) if all_idle is not None else \
        f"not all within {r['wait_s']:.0f} s ({r['idle_calls']} of {r['lines']} idle)"
    rate = r["events_per_s"]

    def judged(value, target):
        return "" if target is None else verdict(value is not None and value <= target)

    offered_all = r["offered"] == r["lines"]
    return [
        (f"burst: {r['lines']} lines, {r['events']} events", "first PBX write until every call idle",
         idle_text, "" if idle_target is None else f"<= {ms(idle_target)}",
         judged(all_idle if r["complete"] else None, idle_target)),
        ("", "events per second", "-" if rate is None else f"{rate:.0f}", "", ""),
        ("", "ring write to OFFERING, p50 / p99", pair(r["offering_p50_s"], p99) + (
            "" if offered_all else f" (of the {r['offered']} calls offered at all)"),
         "" if p99_target is None else f"p99 <= {ms(p99_target)}",
         judged(p99 if offered_all else None, p99_target)),
        ("", "lost / duplicated / out of order",
         f"{r['lost']} / {r['duplicated']} / {r['out_of_order']}" + (
             "" if r["complete"] else " (lost: not delivered by the end of the wait)"),
         "0 / 0 / 0", verdict(r["lost"] == r["duplicated"] == r["out_of_order"] == 0)),
        ("", "PBX wrote all events within", ms(r["write_spread_s"]), "", ""),
    ]


def rows_startup(runs):
    reference = runs[0]
    rows = []
    for run in runs:
        n, lines = run["extensions"], run["lines"]
        first_s = (run["first_enumerate_ms"] + run["first_initialise_ms"]) / 1000
        later_s = (run["enumerate_ms"] + run["initialise_ms"]) / 1000
        memory = (f"heap {run['heap_started'] / 2**20:.2f} MiB, private {run['private_started'] / 2**20:.1f} MiB, "
                  f"working set {run['working_set_started'] / 2**20:.1f} MiB")
        growth = per_thousand_lines(reference, run) if run is not reference else None
        complete = lines == n and run["first_lines"] == n and run["caps_failed"] == 0
        rows += [
            (f"start-up: {n} extensions", "lines", f"{lines}" + (f" ({n - lines} dropped)" if lines < n else ""),
             f"{n}", verdict(complete)),
            ("", "enumeration + initialisation, first start (every extension new)",
             f"{ms(first_s)} ({ms(run['first_enumerate_ms'] / 1000)} + {ms(run['first_initialise_ms'] / 1000)})",
             f"<= {ms(START_S)}", verdict(first_s <= START_S)),
            ("", "enumeration + initialisation, a later start",
             f"{ms(later_s)} ({ms(run['enumerate_ms'] / 1000)} + {ms(run['initialise_ms'] / 1000)})",
             f"<= {ms(START_S)}", verdict(later_s <= START_S)),
            ("", "capabilities of every line", ms(run["caps_ms"] / 1000), f"< {ms(CAPS_S)}",
             verdict(run["caps_ms"] < CAPS_S * 1000)),
            ("", "memory once started", memory, "", ""),
        ]
        if growth is not None:
            rows.append(("", f"heap MiB per 1000 lines beyond the {reference['lines']}-line start-up",
                         f"{growth:.2f}", f"<= {HEAP_MIB_PER_1000}", verdict(growth <= HEAP_MIB_PER_1000)))
    return rows


def missed(rows):
    """The figures whose target was not met, named by scenario and figure."""
    names, scenario = [], ""
    for row in rows:
        scenario = row[0] or scenario
        if row[4] == "NO":
            names.append(f"{scenario}: {row[1]}")
    return names


def print_table(rows, header):
    print(header)
    print()
    print("| scenario | figure | measured | target | met |")
    print("|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def wine_version():
    try:
        return subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    except OSError:
        return "wine"


def main():
    parser = argparse.ArgumentParser(description="Measures the provider's event and start-up performance.")
    parser.add_argument("build", help="the build folder (ORVOTSP.TSP and tapihost.exe)")
    parser.add_argument("--calls", type=int, default=200, help="calls of the one-at-a-time scenario")
    parser.add_argument("--lines", default="1000,10000",
                        help="lines of each burst, one call each, comma-separated (default 1000,10000)")
    parser.add_argument("--extensions", type=int, default=10000, help="largest directory of the start-up")
    parser.add_argument("--burst-wait", type=float, default=60.0, help="seconds the burst may take at most")
    parser.add_argument("--only", default="single,burst,startup", help="scenarios to run, comma-separated")
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args()
    try:
        bursts = [int(n) for n in args.lines.split(",") if n.strip()]
    except ValueError:
        parser.error("--lines takes numbers, comma-separated")
    for name, value in (("calls", args.calls), ("extensions", args.extensions), ("lines", min(bursts or [0]))):
        if value < 1:
            parser.error(f"--{name} must be at least 1")
    build = os.path.abspath(args.build)
    chosen = [name.strip() for name in args.only.split(",") if name.strip()]
    unknown = set(chosen) - {"single", "burst", "startup"}
    if unknown:
        parser.error(f"unknown scenarios: {', '.join(sorted(unknown))}")

    results, rows = {}, []
    with start_pbxsim() as sim:
        pbx = sim.client(timeout=120.0)
        api = f"http://127.0.0.1:{sim.port}/v1"
        # Number format 1 shows numbers as the PBX sends them; no tracing, as at a customer's.
        settings = subprocess.run(
            ["wine", os.path.join(build, "tapihost.exe"), "settings", f"Name={USER}", f"Password={PASSWORD}",
             f"ApiBaseUrl={api}", "NumberFormat=1", "LineFormat=0", "DebugLevel=0"],
            cwd=build, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if settings.returncode != 0:
            raise SystemExit("bench: could not write the provider settings")
        with Host(build) as host:
            results["clock_offset_s"], results["clock_uncertainty_s"] = clock_offset(host)
        if "single" in chosen:
            say(f"{args.calls} calls one at a time")
            results["single"] = single_call(build, pbx, args.calls)
            rows += rows_single(results["single"])
            stage_rows = rows_stages(results["single"])
        if "burst" in chosen:
            results["burst"] = []
            for lines in bursts:
                # Larger bursts may take longer than the default wait.
                results["burst"].append(burst(build, pbx, lines, max(args.burst_wait, lines / 100)))
                rows += rows_burst(results["burst"][-1])
        if "startup" in chosen:
            results["startup"] = startup(build, pbx, args.extensions)
            rows += rows_startup(results["startup"])

    cores = os.cpu_count()
    header = f"ORVOTSP bench: {cores} cores, {wine_version()}, {platform.system()} {platform.release()}"
    header += (f"; Wine's wall clock minus the simulator's: {results['clock_offset_s'] * 1000:+.3f} ms "
               f"(+-{results['clock_uncertainty_s'] * 1000:.3f} ms)")
    print_table(rows, header)
    if "single" in chosen:
        print()
        print_table(stage_rows, "Where the time of one ring goes (one call at a time; each stage from the one before)")
    print()
    misses = missed(rows)
    print("Targets missed:" + (" none" if not misses else "".join(f"\n- {name}" for name in misses)))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as handle:
            json.dump(dict(results, cores=cores), handle, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
