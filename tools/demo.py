#!/usr/bin/env python3
"""The demo: the PBX simulator with its demo account, the provider in
tapihost as the telephony service would run it, and a few calls played
through both: an incoming call offered to two extensions and answered on one,
then an outgoing call placed through TAPI and dropped, and last a new
extension in the PBX's directory that shows up as a new TAPI line by itself.

    tools/demo.py BUILD_DIR      (./dev demo runs it)
"""
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from pbxsim.client import start_pbxsim  # noqa: E402


def say(text):
    print(f"demo: {text}", flush=True)


def wine(build, *args, **popen):
    return subprocess.Popen(["wine", os.path.join(build, "tapihost.exe"), *args], cwd=build, **popen)


def main():
    build = os.path.abspath(sys.argv[1])
    with start_pbxsim() as sim:
        pbx = sim.client()
        api = f"http://127.0.0.1:{sim.port}/v1"
        say(f"PBX simulator at {api}, demo account lena.muster with extensions 21, 22, 23")
        settings = wine(build, "settings", "Name=lena.muster", "Password=Demo-Pass-2024", f"ApiBaseUrl={api}",
                        "NumberFormat=0", "LineFormat=2", "DebugLevel=0",
                        # The directory is read every few seconds here (default: every 5 minutes).
                        "DirectoryRefreshSeconds=2")
        if settings.wait() != 0:
            raise SystemExit("demo: could not write the provider settings")

        host = wine(build, "watch", stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        printer = threading.Thread(target=lambda: [print(f"  {line}", end="", flush=True) for line in host.stdout])
        printer.start()

        def command(text):
            host.stdin.write(text + "\n")
            host.stdin.flush()

        try:
            pbx.wait_for(streams=1, timeout=30.0)
            say("incoming call from 4930123456 rings at 21 and 22")
            uuid = pbx.ring(["21", "22"], "4930123456")
            time.sleep(1.5)
            say("22 answers")
            pbx.answer(uuid, "22")
            time.sleep(1.5)
            say("the caller hangs up")
            pbx.hangup(uuid)
            time.sleep(1.0)
            say("TAPI places a call on line 0 (extension 21) to 498955512345; the callee answers")
            command("call 0 498955512345")
            time.sleep(3.0)
            say("TAPI drops the call")
            command("drop 0")
            time.sleep(1.5)
            say("a new colleague: extension 24 \"Store\" is added to the PBX directory; no restart, no dialog")
            directory = pbx.control("GET", "extensions")["extensions"]
            pbx.set_extensions(directory + [{"extension_number": "24", "name": "Store"}])
            time.sleep(4.0)
            command("quit")
            host.stdin.close()
            host.wait(timeout=30)
        finally:
            if host.poll() is None:
                host.kill()
                host.wait()
            printer.join(timeout=5)
    say(f"done (tapihost exit code {host.returncode})")
    return host.returncode


if __name__ == "__main__":
    sys.exit(main())
