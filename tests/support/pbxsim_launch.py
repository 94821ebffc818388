"""Starts the PBX simulator for a test that runs under Wine.

A Wine process can start a Linux program, but it gets neither the program's
process handle nor its standard output. So the test listens on a loopback
port and passes that port here; this launcher connects back, starts the
simulator, reports its port as "PBXSIM_PORT <n>" (or "PBXSIM_ERROR <text>"),
and stops the simulator as soon as that connection closes, which is when
the test ends, however it ends.

Usage: pbxsim_launch.py REPORT_PORT [simulator arguments...]
"""

import os
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "tools"))

from pbxsim.client import start_pbxsim  # noqa: E402

CONNECT_TIMEOUT = 30

# Started by Wine, the interpreter may not know its own path, which the
# simulator's start needs.
if not sys.executable:
    sys.executable = os.path.realpath("/proc/self/exe")


def main(argv):
    report_port, sim_args = int(argv[0]), argv[1:]
    with socket.create_connection(("127.0.0.1", report_port), timeout=CONNECT_TIMEOUT) as link:
        try:
            sim = start_pbxsim(extra_args=sim_args)
        except Exception as exc:  # reported to the test, which shows it
            link.sendall(f"PBXSIM_ERROR {exc}\n".encode("utf-8", "replace"))
            return 1
        with sim:
            link.sendall(f"PBXSIM_PORT {sim.port}\n".encode("ascii"))
            link.settimeout(None)
            try:
                while link.recv(4096):
                    pass
            except OSError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
