"""Smoke test of the PBX simulator, started as the product's tests start it (a child process)."""

import base64
import http.client
import json
import os
import sys
import tempfile
import time
import unittest

if __package__ in (None, ""):
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from pbxsim.client import (CALLS_PATH, DIRECTORY_PATH, LOGIN_PATH, EventStream,  # noqa: E402
                           PbxSimClient, start_pbxsim)

CUSTOMER = "c-test-0815"
USER, PASSWORD = "tester", "Pässwort"
ACCOUNT = {
    "customer": CUSTOMER,
    "users": [{"name": USER, "password": PASSWORD}, {"name": "second", "password": "two"}],
    "extensions": [
        {"uuid": "u-21", "extension_number": "21", "name": "Büro", "presence": "online"},
        {"uuid": "u-22", "extension_number": "22", "name": "Reception", "presence": "offline"},
        {"extension_number": "23", "name": "Lab"},
    ],
}
FAST_CALLS = {"dial_delay_ms": 0, "answer_delay_ms": 0}


def token_claims(token):
    # Decoded as the provider does: standard alphabet, "=" only as padding.
    _, payload, _ = token.split(".")
    return json.loads(base64.b64decode(payload, validate=True))


def write_account(directory, account=ACCOUNT):
    path = os.path.join(directory, "account.json")
    with open(path, "w", encoding="utf-8") as handle:
        json.dump(account, handle, ensure_ascii=False)
    return path


class SimulatorCase(unittest.TestCase):
    """One simulator per class, reset before every test."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pbxsim-test-")
        cls.addClassCleanup(cls.tmp.cleanup)
        cls.sim = start_pbxsim(account=write_account(cls.tmp.name))
        cls.addClassCleanup(cls.sim.stop)
        cls.client = cls.sim.client()

    def setUp(self):
        self.client.reset()
        self.client.set_make_call(**FAST_CALLS)

    def token(self):
        return self.client.access_token(USER, PASSWORD)

    def api(self, method, path, body=None, token=None):
        headers = PbxSimClient.bearer(token) if token is not None else {}
        status, _, data = self.client.request(method, path, body, headers)
        return status, data

    def open_stream(self, token=None, last_event_id=None):
        stream = EventStream(self.sim.port, token or self.token(), https=self.sim.https, host=self.client.host,
                             cafile=self.client.cafile, last_event_id=last_event_id)
        stream.open()
        self.addCleanup(stream.close)
        self.assertEqual(stream.status, 200)
        self.client.wait_for(streams=1)
        return stream

    def expect_events(self, stream, expected):
        """Reads len(expected) events; each must carry the given (state, extension)."""
        events = [stream.next_event() for _ in expected]
        self.assertNotIn(None, events, "stream ended early")
        self.assertEqual([(e.members["state"], e.members["extension"]) for e in events], expected)
        return events


# What the product's tests take from the simulator as their evidence: if one
# of these broke, those tests could pass without testing anything (a secret
# search with no tokens to look for, a fault row whose fault never fires, a
# stream cut "without replay" that replays). What would make them fail
# outright (the directory, HTTPS, chunked streams) needs no test here.
class OracleSmokeTest(SimulatorCase):
    def test_tokens_carry_customer_and_expiry_and_are_listed_for_secret_searches(self):
        self.client.set_token_lifetime(600, refresh_seconds=7200)
        status, first = self.client.login(USER, PASSWORD)
        self.assertEqual(status, 200)
        claims = token_claims(first["access-token"])
        self.assertEqual(claims["customer"], CUSTOMER)
        self.assertGreater(claims["exp"], time.time() + 500)
        status, data = self.api("PUT", LOGIN_PATH, token=first["refresh-token"])
        renewed = json.loads(data)
        self.assertEqual(status, 200)
        self.assertEqual(self.client.tokens()[-4:], [first["access-token"], first["refresh-token"],
                                                     renewed["access-token"], renewed["refresh-token"]])

    def test_refused_credentials_and_tokens(self):
        _, tokens = self.client.login(USER, PASSWORD)
        self.client.set_token_lifetime(0)
        expired = self.token()
        cp1252 = ('{"username":"%s", "password":"%s"}' % (USER, PASSWORD)).encode("cp1252")
        cases = [("wrong password", "POST", LOGIN_PATH, '{"username":"%s", "password":"x"}' % USER, None),
                 ("password not in UTF-8", "POST", LOGIN_PATH, cp1252, None),
                 ("expired access token", "GET", DIRECTORY_PATH, None, expired),
                 ("refresh token as access token", "GET", DIRECTORY_PATH, None, tokens["refresh-token"]),
                 ("access token as refresh token", "PUT", LOGIN_PATH, None, tokens["access-token"])]
        for label, method, path, body, token in cases:
            with self.subTest(label):
                self.assertEqual(self.api(method, path, body, token)[0], 401)

    def test_calls_play_their_events_in_order_and_replay_follows_last_event_id(self):
        token = self.token()
        stream = self.open_stream(token)
        uuid = self.client.ring(["21", "22"], "0711")
        self.client.answer(uuid, "22")
        self.expect_events(stream, [("ring", "21"), ("ring", "22"), ("answer", "22")])
        status, _ = self.api("POST", CALLS_PATH, '{"extension":"21", "callee":"030123"}', token)
        self.assertEqual(status, 202)
        *_, answer = self.expect_events(stream, [("caller-dial", "21"), ("dial", "21"), ("answer", "21")])
        stream.close()
        self.client.wait_for(max_streams=0, timeout=5)
        self.client.hangup(uuid)
        for replay, expected in ((True, [("hangup", "22")]), (False, [])):
            with self.subTest(replay=replay):
                self.client.settings(replay=replay)
                again = self.open_stream(last_event_id=answer.id)
                self.client.emit_event(uuid="marker", extension="23", state="bridge")
                self.expect_events(again, expected + [("bridge", "23")])
                again.close()
                self.client.wait_for(max_streams=0, timeout=5)

    def test_faults_fire_on_their_requests_only_and_are_logged(self):
        self.client.clear_requests()
        self.client.fault(LOGIN_PATH, 503, count=2, method="POST")
        self.client.fault(LOGIN_PATH, 500, method="PUT")
        self.assertEqual([self.client.login(USER, PASSWORD)[0] for _ in range(3)], [503, 503, 200])
        self.client.fault(LOGIN_PATH, reset=True)
        with self.assertRaises(ConnectionError):
            self.client.login(USER, PASSWORD)
        self.client.fault(LOGIN_PATH, 200, body='{"access-token":"xxxxxxxxxxxxxxxx"}', truncate=True)
        with self.assertRaises(http.client.IncompleteRead):
            self.client.login(USER, PASSWORD)
        entries = self.client.requests()
        self.assertEqual([(e["method"], e["path"], e["status"]) for e in entries],
                         [("POST", LOGIN_PATH, 503)] * 2 + [("POST", LOGIN_PATH, 200), ("POST", LOGIN_PATH, None),
                                                            ("POST", LOGIN_PATH, 200)])
        self.assertEqual(json.loads(entries[2]["body"])["password"], PASSWORD)
        self.assertEqual(len(self.client.faults()), 1, "the PUT fault has not fired")


if __name__ == "__main__":
    unittest.main()
