"""The call event stream: framing, the set of open streams and their writer.

Every event goes to every open stream as one write ("id: N", "data: {...}",
blank line), so that a client normally receives it in one piece. In chunked
mode each event is one chunk.

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
from collections import namedtuple

END = object()     # finish the body properly (terminating chunk when chunked)
ABORT = object()   # cut the connection without ending the body

PEER_POLL_SECONDS = 0.2


def event_members(uuid, extension, caller, callee, state, direction):
    # Member order as the PBX sends them.
    return {"uuid": uuid, "extension": extension, "caller": caller,
            "callee": callee, "state": state, "direction": direction}


def frame_event(event_id, data):
    text = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
    return f"id: {event_id}\ndata: {text}\n\n".encode("utf-8")


def frame_chunk(payload):
    return f"{len(payload):X}\r\n".encode("ascii") + payload + b"\r\n"


# An event on its way to one stream, with its history entry for the write time.
Pending = namedtuple("Pending", "frame entry")


def wall_clock():
    return time.time()


class Stream:
    def __init__(self, stream_id, chunked, peer, hub):
        self.stream_id = stream_id
        self.chunked = chunked
        self.peer = peer
        self.items = queue.Queue()
        self._hub = hub

    def describe(self):
        return {"id": self.stream_id, "chunked": self.chunked, "peer": self.peer}

    def note_written(self, entry):
        self._hub.note_written(entry, self.stream_id, wall_clock())


class EventHub:
    def __init__(self):
        self._lock = threading.Lock()
        self._streams = {}
        self._next_stream_id = 1
        self._next_event_id = 1
        self._history = []

    def open_stream(self, chunked, peer):
        with self._lock:
            stream = Stream(self._next_stream_id, chunked, peer, self)
            self._next_stream_id += 1
            self._streams[stream.stream_id] = stream
            return stream

    def remove(self, stream):
        with self._lock:
            self._streams.pop(stream.stream_id, None)

    def publish(self, data):
        """Sends one framed event to every open stream; returns its id."""
        with self._lock:
            event_id = self._next_event_id
            self._next_event_id += 1
            frame = frame_event(event_id, data)
            entry = {"id": event_id, "data": data, "streams": len(self._streams),
                     "published": wall_clock(), "written": []}
            self._history.append(entry)
            for stream in self._streams.values():
                stream.items.put(Pending(frame, entry))
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

    def history(self):
        with self._lock:
            return [dict(e, written=list(e["written"])) if "written" in e else dict(e)
                    for e in self._history]

    def clear_history(self):
        with self._lock:
            self._history.clear()


def _peer_gone(sock):
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


def pump(stream, sock, write):
    """Writes the stream's events until it is ended; returns "end", "abort" or "gone"."""
    while True:
        try:
            item = stream.items.get(timeout=PEER_POLL_SECONDS)
        except queue.Empty:
            if _peer_gone(sock):
                return "gone"
            continue
        try:
            if item is END:
                if stream.chunked:
                    write(b"0\r\n\r\n")
                return "end"
            if item is ABORT:
                return "abort"
            payload = item.frame if isinstance(item, Pending) else item
            write(frame_chunk(payload) if stream.chunked else payload)
            if isinstance(item, Pending):
                stream.note_written(item.entry)
        except OSError:
            return "gone"
