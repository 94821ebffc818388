"""The call event stream: framing, the set of open streams and their writer.

Every event goes to every open stream as one write ("id: N", "data: {...}",
blank line), so that a client normally receives it in one piece. In chunked
mode each event is one chunk.
"""

import json
import queue
import select
import socket
import ssl
import threading

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


class Stream:
    def __init__(self, stream_id, chunked, peer):
        self.stream_id = stream_id
        self.chunked = chunked
        self.peer = peer
        self.items = queue.Queue()

    def describe(self):
        return {"id": self.stream_id, "chunked": self.chunked, "peer": self.peer}


class EventHub:
    def __init__(self):
        self._lock = threading.Lock()
        self._streams = {}
        self._next_stream_id = 1
        self._next_event_id = 1
        self._history = []

    def open_stream(self, chunked, peer):
        with self._lock:
            stream = Stream(self._next_stream_id, chunked, peer)
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
            self._history.append({"id": event_id, "data": data,
                                  "streams": len(self._streams)})
            for stream in self._streams.values():
                stream.items.put(frame)
            return event_id

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
            return list(self._history)

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
            write(frame_chunk(item) if stream.chunked else item)
        except OSError:
            return "gone"
