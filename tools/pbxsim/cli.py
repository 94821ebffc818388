"""Command line: start the simulator, print its port, serve until stopped."""

import argparse
import os
import signal
import socket
import sys
import tempfile
import threading

from . import certs
from .account import AccountError, load_account, numbered_extensions
from .listeners import Listeners
from .simulator import Simulator

DEMO_ACCOUNT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "demo_account.json")


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="pbxsim", description="PBX simulator on a loopback port.")
    parser.add_argument("--account", default=DEMO_ACCOUNT, help="account file (JSON); default: the demo account")
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 picks a free one")
    parser.add_argument("--https", action="store_true", help="serve HTTPS with a self-signed localhost certificate")
    parser.add_argument("--cert", help="PEM certificate to use instead of a generated one (with --key)")
    parser.add_argument("--key", help="PEM private key for --cert")
    parser.add_argument("--cert-out", help="write the server certificate here (PEM)")
    parser.add_argument("--cert-der-out", help="write the server certificate here (DER)")
    parser.add_argument("--chunked", action="store_true", help="serve the event stream with chunked encoding")
    parser.add_argument("--proxy", action="store_true",
                        help="also act as an HTTP proxy: take requests in absolute form as if sent here")
    parser.add_argument("--token-lifetime", type=int, help="access token lifetime in seconds")
    parser.add_argument("--extensions", type=int, metavar="N",
                        help="serve N extensions numbered from 10000 on instead of the account's own")
    parser.add_argument("--quiet", action="store_true", help="do not log requests to stderr")
    parser.add_argument("--report-to", type=int, metavar="PORT",
                        help="connect to this loopback port, send the port line (or the error) there "
                             "instead of stdout, and stop when that connection closes")
    args = parser.parse_args(argv)
    if (args.cert is None) != (args.key is None):
        parser.error("--cert and --key go together")
    if (args.cert or args.cert_out or args.cert_der_out) and not args.https:
        parser.error("certificate options need --https")
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0..65535")
    return args


def _tls_context(args, workdir):
    if not args.https:
        return None
    cert, key = (args.cert, args.key) if args.cert else certs.generate(workdir)
    certs.export(cert, args.cert_out, args.cert_der_out)
    return certs.server_context(cert, key)


class Caller:
    """Where the port line goes: stdout, or the connection of a caller that
    cannot hold the process itself (a Windows program under Wine gets no
    handle of a Linux child) and holds the connection instead."""

    def __init__(self, port):
        self.link = None if port is None else socket.create_connection(("127.0.0.1", port), timeout=30)

    def report(self, line):
        if self.link is None:
            print(line, flush=True)
        else:
            self.link.sendall((line + "\n").encode("utf-8", "replace"))

    def fail(self, text, code):
        print(f"pbxsim: {text}", file=sys.stderr)
        if self.link is not None:
            self.report(f"PBXSIM_ERROR {text}")
        return code

    def stop_when_gone(self, stopping):
        if self.link is None:
            return

        def wait():
            self.link.settimeout(None)
            try:
                while self.link.recv(4096):
                    pass
            except OSError:
                pass
            stopping.set()

        threading.Thread(target=wait, daemon=True).start()


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    caller = Caller(args.report_to)
    overrides = {"chunked": args.chunked, "proxy": args.proxy}
    if args.token_lifetime is not None:
        overrides["token_lifetime"] = args.token_lifetime
    try:
        account = load_account(args.account)
        if args.extensions is not None:
            account.extensions = numbered_extensions(args.extensions)
        sim = Simulator(account, overrides)
    except (AccountError, ValueError) as exc:
        return caller.fail(exc, 2)
    with tempfile.TemporaryDirectory(prefix="pbxsim-") as workdir:
        try:
            listeners = Listeners(sim, _tls_context(args, workdir), quiet=args.quiet)
            port = listeners.start(args.port)
        except (OSError, certs.CertificateError) as exc:
            return caller.fail(exc, 1)
        for signum in (signal.SIGTERM, signal.SIGINT):
            signal.signal(signum, lambda *_: sim.stopping.set())
        caller.report(f"PBXSIM_PORT {port}")
        caller.stop_when_gone(sim.stopping)
        sim.stopping.wait()
        listeners.stop()
        sim.close()
    return 0
