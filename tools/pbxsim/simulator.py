"""The simulated PBX's state, shared by all connections."""

import threading

from .calls import CallBook
from .eventstream import DIALECT_KEYS, END, EventHub, event_members
from .faults import FaultTable
from .requestlog import RequestLog
from .scheduler import Scheduler
from .settings import Settings
from .tokens import TokenIssuer


class Simulator:
    def __init__(self, account, settings_overrides=None):
        self.account = account
        self._start_extensions = list(account.extensions)
        self.settings = Settings(settings_overrides)
        self.tokens = TokenIssuer(account.customer)
        self.hub = EventHub(lambda: self.settings.pick(*DIALECT_KEYS))
        self.scheduler = Scheduler()
        self.calls = CallBook(self.hub, self.scheduler)
        self.faults = FaultTable()
        self.requests = RequestLog()
        self._changed = threading.Condition()
        self.stopping = threading.Event()
        # Set by the listeners: take_down(ms) closes the port for a while.
        self.take_down = None
        self._floods = 0

    def notify(self):
        """Wakes control clients waiting for streams or requests.

        Callers must not hold another component's lock here, since waiters
        read those components while holding this condition.
        """
        with self._changed:
            self._changed.notify_all()

    def wait_until(self, predicate, timeout):
        with self._changed:
            return self._changed.wait_for(predicate, timeout)

    def describe(self):
        return {
            "customer": self.account.customer,
            "streams": self.hub.streams(),
            "calls": self.calls.describe(),
            "scheduled": self.scheduler.pending(),
            "faults": self.faults.describe(),
            "requests": self.requests.count(),
            "settings": self.settings.snapshot(),
        }

    def start_flood(self, count, interval, extensions):
        """Publishes count ring/hangup pairs on a thread of their own."""
        with self._changed:
            self._floods += 1
            flood_number = self._floods

        def run():
            for number in range(count):
                if self.stopping.is_set():
                    return
                extension = extensions[number % len(extensions)]
                uuid = "flood-%d-%d" % (flood_number, number)
                for state in ("ring", "hangup"):
                    self.hub.publish(event_members(uuid, extension, "4930%06d" % number, extension, state, "inbound"))
                if interval:
                    self.stopping.wait(interval)
        threading.Thread(target=run, name="flood", daemon=True).start()

    def reset(self):
        """Back to the state after start, for test isolation."""
        self.scheduler.clear()
        self.calls.clear()
        self.faults.clear()
        self.requests.clear()
        self.hub.clear_history()
        self.hub.close_all(END)
        # Streams of the previous test must be gone before the next one counts streams.
        self.wait_until(lambda: self.hub.count() == 0, 5)
        self.settings.reset()
        self.tokens.revoke_all()
        self.account.extensions = list(self._start_extensions)
        self.notify()

    def close(self):
        self.stopping.set()
        self.scheduler.stop()
        self.hub.close_all(END)
