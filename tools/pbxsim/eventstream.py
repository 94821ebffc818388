"""The call event stream: framing, the set of open streams and their writer.

Every event goes to every open stream as one write ("id: N", "data: {...}",
blank line), so that a client normally receives it in one piece. In chunked
mode each event is one chunk. An event may also be sent in two writes with a
pause between them (a server that stalls in the middle of an event), and a
stream may fall silent while its connection stays open (a connection that a
NAT or firewall dropped without a word). With a heartbeat set, an idle stream
carries a comment line every so often, as real servers do.

The settings' dialect shapes each frame as it is published: line ends LF,
CR LF or CR; an "id:" line or none; the JSON compact or pretty-printed over
several "data:" lines; non-ASCII raw or escaped. A byte-order mark, when set,
goes out once, right after the header.

A bounded record of the latest events lets a client that reconnects with
"Last-Event-ID" get what it missed: the events after that id are written to
its new stream before any new event (when replay is on; an unknown or too
old id replays nothing, as a server that forgot it would).

The history notes when each event was published and when its write to each
stream returned, in Unix seconds of time.time(), that is CLOCK_REALTIME. The
benchmark's TAPI host under Wine stamps its callbacks with
GetSystemTimePreciseAsFileTime, which Wine reads from the same CLOCK_REALTIME
of the same machine: the two times are of one clock and subtract directly.
"""

import json
import queue
import select
import socket
import ssl
import threading
import time
from collections import deque, namedtuple
from dataclasses import dataclass

END = object()     # finish the body properly (terminating chunk when chunked)
ABORT = object()   # cut the connection without ending the body
SILENCE = object() # send nothing more, keep the connection open

PEER_POLL_SECONDS = 0.2
LINE_ENDS = {"lf": "\n", "crlf": "\r\n", "cr": "\r"}
DIALECT_KEYS = ("ascii_json", "pretty_json", "line_end", "event_ids")
PLAIN_DIALECT = {"ascii_json": False, "pretty_json": False, "line_end": "lf", "event_ids": True}
REPLAY_EVENTS = 1000   # events kept for clients that reconnect


@dataclass
class Stalled:
    """One event written in two parts with a pause between them."""
    first: bytes
    seconds: float
    rest: bytes


def event_members(uuid, extension, caller, callee, state, direction):
    # Member order as the PBX sends them.
    return {"uuid": uuid, "extension": extension, "caller": caller,
            "callee": callee, "state": state, "direction": direction}


def frame_event(event_id, data, dialect=PLAIN_DIALECT):
    end = LINE_ENDS[dialect["line_end"]]
    if dialect["pretty_json"]:
        text = json.dumps(data, ensure_ascii=dialect["ascii_json"], indent=2)
    else:
        text = json.dumps(data, ensure_ascii=dialect["ascii_json"], separators=(",", ":"))
    lines = [f"id: {event_id}"] if dialect["event_ids"] else []
    lines += ["data: " + line for line in text.split("\n")]
    return (end.join(lines) + end + end).encode("utf-8")


def heartbeat_frame(line_end="lf"):
    end = LINE_ENDS[line_end]
    return f": keep-alive{end}{end}".encode("ascii")


def frame_chunk(payload):
    return f"{len(payload):X}\r\n".encode("ascii") + payload + b"\r\n"


def split_frame(frame, stall_ms):
    """The frame cut in the middle of its JSON object, for a stalled write."""
    middle = frame.index(b"data: ") + (len(frame) - frame.index(b"data: ")) // 2
    return Stalled(frame[:middle], stall_ms / 1000.0, frame[middle:])


# An event on its way to one stream, with its history entry for the write time.
Pending = namedtuple("Pending", "frame entry")


def wall_clock():
    return time.time()


class Stream:
    def __init__(self, stream_id, chunked, peer, hub, silent=False):
        self.stream_id = stream_id
        self.chunked = chunked
        self.peer = peer
        self.silent = silent
        self.items = queue.Queue()
        self._hub = hub
        self.deferred = []   # items that arrived while an event was stalled

    def describe(self):
        return {"id": self.stream_id, "chunked": self.chunked, "peer": self.peer, "silent": self.silent}

    def note_written(self, entry):
        self._hub.note_written(entry, self.stream_id, wall_clock())


class EventHub:
    def __init__(self, dialect=lambda: PLAIN_DIALECT):
        """dialect() gives the framing of the next event (DIALECT_KEYS)."""
        self._dialect = dialect
        self._lock = threading.Lock()
        self._streams = {}
        self._next_stream_id = 1
        self._next_event_id = 1
        self._history = []
        self._recent = deque(maxlen=REPLAY_EVENTS)  # (id, frame, history entry)

    def open_stream(self, chunked, peer, silent=False, last_event_id=None):
        """A new stream; with last_event_id, the kept events after it go first.

        Registering and replaying under one lock: no event is missed or sent twice."""
        with self._lock:
            stream = Stream(self._next_stream_id, chunked, peer, self, silent)
            self._next_stream_id += 1
            stream.replayed = 0
            for event_id, frame, entry in self._missed_since(last_event_id):
                stream.items.put(Pending(frame, entry))
                stream.replayed += 1
            self._streams[stream.stream_id] = stream
            return stream

    def _missed_since(self, last_event_id):
        # Under the lock. Only an id this server gave and still keeps is honoured.
        if last_event_id is None:
            return []
        try:
            last = int(last_event_id.strip())
        except ValueError:
            return []
        if not self._recent or not self._recent[0][0] - 1 <= last < self._next_event_id:
            return []
        return [item for item in self._recent if item[0] > last]

    def remove(self, stream):
        with self._lock:
            self._streams.pop(stream.stream_id, None)

    def publish(self, data, stall_ms=0):
        """Sends one framed event to every open stream; returns its id.

        With stall_ms, each stream gets the first half of the event, then
        nothing for that long, then the rest."""
        with self._lock:
            event_id = self._next_event_id
            self._next_event_id += 1
            frame = frame_event(event_id, data, self._dialect())
            entry = {"id": event_id, "data": data, "streams": len(self._streams),
                     "published": wall_clock(), "written": []}
            self._history.append(entry)
            self._recent.append((event_id, frame, entry))
            item = split_frame(frame, stall_ms) if stall_ms else frame
            for stream in self._streams.values():
                stream.items.put(Pending(item, entry))
            return event_id

    def note_written(self, entry, stream_id, when):
        with self._lock:
            entry["written"].append({"stream": stream_id, "time": when})

    def publish_raw(self, text):
        """Sends text exactly as given, for framing tests of the client."""
        with self._lock:
            self._history.append({"raw": text, "streams": len(self._streams)})
            for stream in self._streams.values():
                stream.items.put(text.encode("utf-8"))

    def close_all(self, how):
        """Ends (END, ABORT) or silences (SILENCE) every open stream."""
        with self._lock:
            streams = list(self._streams.values())
        for stream in streams:
            stream.items.put(how)
        return len(streams)

    def streams(self):
        with self._lock:
            return [s.describe() for s in self._streams.values()]

    def count(self):
        with self._lock:
            return len(self._streams)

    def opened(self):
        """How many streams were ever opened: a client that waits for its own
        new stream cannot be fooled by an old one still held open."""
        with self._lock:
            return self._next_stream_id - 1

    def history(self):
        with self._lock:
            return [dict(e, written=list(e["written"])) if "written" in e else dict(e)
                    for e in self._history]

    def clear_history(self, replay=True):
        """Forgets the log; with replay, the events kept for reconnecting clients too."""
        with self._lock:
            self._history.clear()
            if replay:
                self._recent.clear()


def peer_gone(sock):
    """True when the client has closed its side of an idle stream."""
    try:
        readable, _, _ = select.select([sock], [], [], 0)
        if not readable:
            return False
        previous = sock.gettimeout()
        sock.settimeout(0.01)
        try:
            # A stream client sends nothing after its request; whatever comes
            # is dropped, and only end of file matters.
            return sock.recv(1) == b""
        finally:
            sock.settimeout(previous)
    except (socket.timeout, ssl.SSLWantReadError):
        return False
    except (OSError, ValueError):
        return True


def _pause(stream, seconds, sock):
    """Waits while a stalled event is half written; False when the stream
    was ended meanwhile or its client went away."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            item = stream.items.get(timeout=min(PEER_POLL_SECONDS, max(0.0, deadline - time.monotonic())))
        except queue.Empty:
            if peer_gone(sock):
                return False
            continue
        if item is END or item is ABORT:
            stream.items.put(item)
            return False
        # Anything else waits behind the stalled event, in order.
        stream.deferred.append(item)
    return True


def pump(stream, sock, write, heartbeat_seconds=lambda: 0, line_end=lambda: "lf", preamble=b""):
    """Writes the stream's events until it is ended; returns "end", "abort" or "gone".

    heartbeat_seconds() gives the current heartbeat interval (0: none),
    line_end() the heartbeat's line ends; preamble (a byte-order mark) goes first."""
    last_write = time.monotonic()

    def send(payload):
        nonlocal last_write
        write(frame_chunk(payload) if stream.chunked else payload)
        last_write = time.monotonic()

    if preamble:
        try:
            send(preamble)
        except OSError:
            return "gone"

    while True:
        if stream.deferred:
            item = stream.deferred.pop(0)
        else:
            try:
                item = stream.items.get(timeout=PEER_POLL_SECONDS)
            except queue.Empty:
                if peer_gone(sock):
                    return "gone"
                interval = heartbeat_seconds()
                if interval and not stream.silent and time.monotonic() - last_write >= interval:
                    try:
                        send(heartbeat_frame(line_end()))
                    except OSError:
                        return "gone"
                continue
        try:
            if item is END:
                if stream.chunked:
                    write(b"0\r\n\r\n")
                return "end"
            if item is ABORT:
                return "abort"
            if item is SILENCE:
                stream.silent = True
                continue
            if stream.silent:
                continue
            entry = None
            if isinstance(item, Pending):
                item, entry = item.frame, item.entry
            if isinstance(item, Stalled):
                # One chunk per part in chunked mode: the client sees the cut as it is.
                send(item.first)
                if not _pause(stream, item.seconds, sock):
                    continue
                send(item.rest)
            else:
                send(item)
            if entry is not None:
                stream.note_written(entry)
        except OSError:
            return "gone"
