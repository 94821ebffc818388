"""Runs delayed call-flow steps on one worker thread, in time order.

One thread for all steps keeps the events of a call (and of calls started
together) in the order they were planned, which timers per step would not.
"""

import heapq
import itertools
import sys
import threading
import time
import traceback


class Scheduler:
    def __init__(self):
        self._cond = threading.Condition()
        self._queue = []
        self._order = itertools.count()
        self._stopped = False
        self._thread = threading.Thread(target=self._run, name="pbxsim-scheduler", daemon=True)
        self._thread.start()

    def call_later(self, delay_seconds, action, tag=None):
        """Runs action after the delay; tag groups steps for cancel()."""
        due = time.monotonic() + max(0.0, delay_seconds)
        with self._cond:
            heapq.heappush(self._queue, (due, next(self._order), tag, action))
            self._cond.notify()

    def cancel(self, tag):
        with self._cond:
            self._queue = [entry for entry in self._queue if entry[2] != tag]
            heapq.heapify(self._queue)

    def pending(self):
        with self._cond:
            return len(self._queue)

    def clear(self):
        with self._cond:
            self._queue.clear()

    def stop(self):
        with self._cond:
            self._stopped = True
            self._cond.notify()
        self._thread.join(timeout=5)

    def _next_action(self):
        with self._cond:
            while not self._stopped:
                now = time.monotonic()
                if self._queue and self._queue[0][0] <= now:
                    return heapq.heappop(self._queue)[3]
                timeout = self._queue[0][0] - now if self._queue else None
                self._cond.wait(timeout)
            return None

    def _run(self):
        while True:
            action = self._next_action()
            if action is None:
                return
            try:
                action()
            except Exception:  # a broken step must not stop later calls
                traceback.print_exc(file=sys.stderr)
