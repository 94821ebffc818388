"""Tests of the PBX simulator, run against the real command line in a child process."""

import base64
import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

if __package__ in (None, ""):
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

from pbxsim.client import (CALLS_PATH, DIRECTORY_PATH, LOGIN_PATH, EventStream,  # noqa: E402
                           PbxSimClient, PbxSimError, start_pbxsim)

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


def strict_b64decode(text):
    # What the provider does: standard alphabet, "=" only as padding.
    return base64.b64decode(text, validate=True)


def token_claims(token):
    parts = token.split(".")
    if len(parts) != 3:
        raise ValueError(f"token has {len(parts)} parts")
    return json.loads(strict_b64decode(parts[1]))


def write_account(directory, account=ACCOUNT):
    path = os.path.join(directory, "account.json")
    with open(path, "w", encoding="utf-8") as handle:
        json.dump(account, handle, ensure_ascii=False)
    return path


class SimulatorCase(unittest.TestCase):
    """Starts one simulator per test class and resets it before every test."""

    start_options = {}

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pbxsim-test-")
        cls.addClassCleanup(cls.tmp.cleanup)
        cls.account_path = write_account(cls.tmp.name)
        cls.sim = start_pbxsim(account=cls.account_path, **cls.make_start_options(cls.tmp.name))
        cls.addClassCleanup(cls.sim.stop)
        cls.client = cls.sim.client()

    @classmethod
    def make_start_options(cls, directory):
        return dict(cls.start_options)

    def setUp(self):
        self.client.reset()
        self.client.set_make_call(**FAST_CALLS)

    # -- helpers ---------------------------------------------------------
    def token(self):
        return self.client.access_token(USER, PASSWORD)

    def api(self, method, path, body=None, token=None, headers=None):
        all_headers = dict(headers or {})
        if token is not None:
            all_headers.update(PbxSimClient.bearer(token))
        status, answer_headers, data = self.client.request(method, path, body, all_headers)
        return status, dict((k.lower(), v) for k, v in answer_headers), data

    def open_stream(self, token=None, last_event_id=None):
        stream = EventStream(self.sim.port, token or self.token(), https=self.sim.https,
                             host=self.client.host, cafile=self.client.cafile, last_event_id=last_event_id)
        stream.open()
        self.addCleanup(stream.close)
        self.assertEqual(stream.status, 200)
        self.client.wait_for(streams=1)
        return stream

    def make_call(self, token, extension="21", callee="030123456", customer=CUSTOMER):
        body = ('{"caller":"%s", "caller_context":"%s", "callee":"%s", "callee_context":"%s", '
                '"extension":"%s"}' % (extension, customer, callee, customer, extension))
        return self.api("POST", CALLS_PATH, body, token)

    def expect_events(self, stream, expected):
        """Reads len(expected) events; each must carry the given (state, extension)."""
        events = [stream.next_event() for _ in expected]
        self.assertNotIn(None, events, "stream ended early")
        self.assertEqual([(e.members["state"], e.members["extension"]) for e in events], expected)
        return events

    def expect_nothing_before_marker(self, stream):
        # Absence of events is shown without waiting: a marker emitted now
        # must be the very next thing on the stream.
        marker = self.client.emit_event(state="marker")
        event = stream.next_event()
        self.assertEqual((event.id, event.members), (str(marker), {"state": "marker"}))


class TokenTest(SimulatorCase):
    def test_login_answers_tokens_whose_payload_carries_customer_and_expiry(self):
        self.client.set_token_lifetime(600, refresh_seconds=7200)
        before = int(time.time())
        status, answer = self.client.login(USER, PASSWORD)
        after = int(time.time())
        self.assertEqual(status, 200)
        access, refresh = answer["access-token"], answer["refresh-token"]
        self.assertNotEqual(access, refresh)
        for token, lifetime in ((access, 600), (refresh, 7200)):
            payload = token.split(".")[1]
            self.assertEqual(len(payload) % 4, 0, "payload must carry its padding")
            claims = token_claims(token)
            self.assertEqual(claims["customer"], CUSTOMER)
            self.assertIsInstance(claims["exp"], int)
            self.assertGreaterEqual(claims["exp"], before + lifetime)
            self.assertLessEqual(claims["exp"], after + lifetime)

    def test_login_refusals(self):
        cases = [
            ("wrong password", {"username": USER, "password": "nope"}, 401),
            ("unknown user", {"username": "ghost", "password": PASSWORD}, 401),
            ("password of another user", {"username": USER, "password": "two"}, 401),
            ("missing password", {"username": USER}, 400),
            ("not JSON", b'{"username":"tester", "password":"Pa', 400),
            ("unescaped quote", b'{"username":"tes"ter", "password":"x"}', 400),
            ("JSON array", b'["tester", "x"]', 400),
            ("empty body", b"", 400),
        ]
        for label, body, expected in cases:
            with self.subTest(label):
                status, headers, data = self.api("POST", LOGIN_PATH, body)
                self.assertEqual(status, expected)
                self.assertIn("error", json.loads(data))
                self.assertNotIn("access-token", json.loads(data))

    def test_login_refuses_a_password_not_in_utf8(self):
        body = ('{"username":"%s", "password":"%s"}' % (USER, PASSWORD)).encode("cp1252")
        status, _, data = self.api("POST", LOGIN_PATH, body)
        self.assertEqual(status, 401)

    def test_refresh_with_refresh_token_gives_new_working_tokens(self):
        _, first = self.client.login(USER, PASSWORD)
        status, _, data = self.api("PUT", LOGIN_PATH, token=first["refresh-token"])
        self.assertEqual(status, 200)
        renewed = json.loads(data)
        self.assertNotEqual(renewed["access-token"], first["access-token"])
        self.assertEqual(token_claims(renewed["access-token"])["customer"], CUSTOMER)
        status, _, _ = self.api("GET", DIRECTORY_PATH, token=renewed["access-token"])
        self.assertEqual(status, 200)
        # Every token handed out is listed, for tests that look for them in a client's files.
        issued = self.client.tokens()
        self.assertEqual(issued[-4:], [first["access-token"], first["refresh-token"],
                                       renewed["access-token"], renewed["refresh-token"]])

    def test_refresh_refusals(self):
        _, tokens = self.client.login(USER, PASSWORD)
        self.client.set_token_lifetime(3600, refresh_seconds=0)
        _, stale = self.client.login(USER, PASSWORD)
        cases = [
            ("no token", None, "missing bearer token"),
            ("access token instead of refresh token", tokens["access-token"], "not a refresh token"),
            ("expired refresh token", stale["refresh-token"], "token expired"),
        ]
        for label, token, error in cases:
            with self.subTest(label):
                status, headers, data = self.api("PUT", LOGIN_PATH, token=token)
                self.assertEqual(status, 401)
                self.assertEqual(json.loads(data)["error"], error)

    def test_bearer_token_is_checked_on_every_pbx_path(self):
        good = self.token()
        header, payload, signature = good.split(".")
        claims = token_claims(good)
        claims["customer"] = "someone-else"
        forged_payload = base64.b64encode(json.dumps(claims).encode()).decode()
        _, tokens = self.client.login(USER, PASSWORD)
        self.client.set_token_lifetime(0)
        expired = self.token()
        self.client.set_token_lifetime(3600)
        revoked = self.token()
        self.client.revoke_tokens()
        cases = [
            ("missing", None, "missing bearer token"),
            ("two parts", header + "." + payload, "malformed token"),
            ("forged payload", ".".join((header, forged_payload, signature)), "invalid token signature"),
            ("expired", expired, "token expired"),
            ("revoked", revoked, "token revoked"),
            ("refresh token", tokens["refresh-token"], "not an access token"),
        ]
        targets = [("GET", DIRECTORY_PATH, None), ("GET", CALLS_PATH, None),
                   ("POST", CALLS_PATH, '{"extension":"21", "callee":"030123"}'),
                   ("DELETE", CALLS_PATH + "/some-call", None)]
        for label, token, error in cases:
            for method, path, body in targets:
                with self.subTest(label, method=method, path=path):
                    status, headers, data = self.api(method, path, body, token)
                    self.assertEqual(status, 401)
                    self.assertEqual(json.loads(data)["error"], error)
                    self.assertTrue(headers["www-authenticate"].startswith("Bearer"))
        self.assertEqual(self.client.state()["calls"], [], "a refused make-call must not place a call")

    def test_token_with_zero_lifetime_is_refused_and_a_fresh_one_works(self):
        self.client.set_token_lifetime(0)
        short = self.token()
        self.assertLessEqual(token_claims(short)["exp"], int(time.time()))
        self.assertEqual(self.api("GET", DIRECTORY_PATH, token=short)[0], 401)
        self.client.set_token_lifetime(3600)
        self.assertEqual(self.api("GET", DIRECTORY_PATH, token=self.token())[0], 200)


class DirectoryTest(SimulatorCase):
    def test_directory_lists_flat_extension_records_in_account_order(self):
        status, headers, data = self.api("GET", DIRECTORY_PATH, token=self.token())
        self.assertEqual(status, 200)
        self.assertTrue(headers["content-type"].startswith("application/json"))
        records = json.loads(data)["extensions"]
        self.assertEqual([r["extension_number"] for r in records], ["21", "22", "23"])
        self.assertEqual([r["name"] for r in records], ["Büro", "Reception", "Lab"])
        self.assertEqual([r["presence"] for r in records], ["online", "offline", "online"])
        self.assertEqual(records[0]["uuid"], "u-21")
        self.assertTrue(records[2]["uuid"], "a record without uuid gets one")
        for record in records:
            self.assertTrue(all(isinstance(v, str) for v in record.values()), record)
        # The provider re-decodes names from the raw bytes: UTF-8, not \u escapes.
        self.assertIn("Büro".encode("utf-8"), data)

    def test_numbered_directory_of_a_large_account_and_its_refusals(self):
        records = self.client.number_extensions(2000)
        _, _, data = self.api("GET", DIRECTORY_PATH, token=self.token())
        served = json.loads(data)["extensions"]
        self.assertEqual(served, records)
        self.assertEqual([r["extension_number"] for r in served], [str(n) for n in range(10000, 12000)])
        self.assertEqual(served[0]["name"], "Extension 10000")
        self.assertEqual(len({r["uuid"] for r in served}), 2000)
        self.assertEqual([r["extension_number"] for r in self.client.number_extensions(2, first=500)],
                         ["500", "501"])
        for label, body in (("negative", {"count": -1}), ("too many", {"count": 100001}),
                            ("not a number", {"count": "5"}), ("bad first", {"count": 1, "first": -3})):
            with self.subTest(label):
                with self.assertRaises(PbxSimError) as caught:
                    self.client.control("POST", "extensions", body)
                self.assertEqual(caught.exception.status, 400)

    def test_directory_can_be_replaced_at_run_time(self):
        self.client.set_extensions([{"extension_number": "31", "name": "Hall"}])
        _, _, data = self.api("GET", DIRECTORY_PATH, token=self.token())
        self.assertEqual([r["extension_number"] for r in json.loads(data)["extensions"]], ["31"])
        self.client.reset()
        _, _, data = self.api("GET", DIRECTORY_PATH, token=self.token())
        self.assertEqual(len(json.loads(data)["extensions"]), 3)


class CallEventTest(SimulatorCase):
    def test_stream_header_is_close_delimited_event_stream(self):
        stream = self.open_stream()
        self.assertTrue(stream.headers["content-type"].startswith("text/event-stream"))
        self.assertNotIn("content-length", stream.headers)
        self.assertNotIn("transfer-encoding", stream.headers)
        self.assertEqual(stream.headers["connection"], "close")

    def test_incoming_call_offered_to_two_extensions_answered_on_one(self):
        stream = self.open_stream()
        uuid = self.client.ring(["21", "22"], "+4930123456")
        self.client.answer(uuid, "22")
        self.client.hangup(uuid)
        events = self.expect_events(stream, [("ring", "21"), ("ring", "22"),
                                             ("answer", "22"), ("hangup", "22")])
        for event in events:
            self.assertEqual(list(event.members),
                             ["uuid", "extension", "caller", "callee", "state", "direction"])
            self.assertEqual(event.members["uuid"], uuid)
            self.assertEqual(event.members["caller"], "+4930123456")
            self.assertEqual(event.members["direction"], "inbound")
        self.assertEqual([e.members["callee"] for e in events[:2]], ["21", "22"])
        ids = [int(e.id) for e in events]
        self.assertEqual(ids, sorted(set(ids)))
        # Each event is "id:", "data:" and a blank line, nothing else.
        expected_wire = b"".join(
            b"id: %d\ndata: %s\n\n" % (int(e.id), e.data.encode()) for e in events)
        self.assertEqual(stream.raw, expected_wire)
        self.assertEqual(self.client.state()["calls"], [])

    def test_unanswered_call_hangs_up_every_offered_extension(self):
        stream = self.open_stream()
        uuid = self.client.ring(["21", "23"], "0711999", callee="0800123", uuid="call-1")
        self.assertEqual(uuid, "call-1")
        self.client.hangup(uuid)
        events = self.expect_events(stream, [("ring", "21"), ("ring", "23"),
                                             ("hangup", "21"), ("hangup", "23")])
        self.assertEqual({e.members["callee"] for e in events}, {"0800123"})

    def test_call_control_refusals(self):
        uuid = self.client.ring("21", "0711999")
        cases = [
            ("answer unknown call", "answer", {"uuid": "nope"}, 404),
            ("answer at extension not offered", "answer", {"uuid": uuid, "extension": "23"}, 409),
            ("hang up unknown call", "hangup", {"uuid": "nope"}, 404),
            ("ring without extensions", "ring", {"extensions": [], "caller": "1"}, 400),
            ("ring with active uuid", "ring", {"extensions": ["22"], "caller": "1", "uuid": uuid}, 409),
            ("not JSON", "ring", b"{", 400),
        ]
        for label, name, body, expected in cases:
            with self.subTest(label):
                with self.assertRaises(PbxSimError) as caught:
                    self.client.control("POST", name, body)
                self.assertEqual(caught.exception.status, expected)

    def test_make_call_is_accepted_and_plays_caller_dial_dial_answer(self):
        token = self.token()
        stream = self.open_stream(token)
        status, _, data = self.make_call(token, "21", "030123456")
        self.assertEqual(status, 202)
        uuid = json.loads(data)["uuid"]
        events = self.expect_events(stream, [("caller-dial", "21"), ("dial", "21"), ("answer", "21")])
        for event in events:
            self.assertEqual(event.members["uuid"], uuid)
            self.assertEqual((event.members["caller"], event.members["callee"]), ("21", "030123456"))
            self.assertEqual(event.members["direction"], "outbound")

    def test_make_call_outcomes(self):
        token = self.token()
        stream = self.open_stream(token)
        cases = [
            ("far end busy", {"outcome": "hangup"}, 202, ["caller-dial", "dial", "hangup"]),
            ("nobody answers", {"outcome": "ringing"}, 202, ["caller-dial", "dial"]),
            ("no events at all", {"outcome": "silent"}, 202, []),
            ("rejected", {"outcome": "reject", "status": 503, "error": "trunk down"}, 503, []),
            ("rejected with 200", {"outcome": "reject", "status": 200, "error": "no"}, 200, []),
        ]
        for label, behaviour, expected_status, states in cases:
            with self.subTest(label):
                self.client.set_make_call(**behaviour)
                status, _, data = self.make_call(token)
                self.assertEqual(status, expected_status)
                if behaviour["outcome"] == "reject":
                    self.assertEqual(json.loads(data), {"error": behaviour["error"]})
                self.expect_events(stream, [(state, "21") for state in states])
                self.expect_nothing_before_marker(stream)

    def test_make_call_refusals(self):
        token = self.token()
        cases = [
            ("not JSON", b'{"caller":"21", "callee":"0"30"}', 400),
            ("missing callee", {"extension": "21"}, 400),
            ("foreign customer context",
             {"extension": "21", "callee": "030", "caller_context": "other"}, 403),
            ("extension of no account", {"extension": "99", "callee": "030"}, 403),
        ]
        for label, body, expected in cases:
            with self.subTest(label):
                status, _, data = self.api("POST", CALLS_PATH, body, token)
                self.assertEqual(status, expected)
                self.assertIn('"error":', data.decode())
        self.assertEqual(self.client.state()["calls"], [])

    def test_delete_ends_the_call_with_hangup(self):
        token = self.token()
        stream = self.open_stream(token)
        self.client.set_make_call(outcome="ringing")
        uuid = json.loads(self.make_call(token, "23", "0049301234")[2])["uuid"]
        self.expect_events(stream, [("caller-dial", "23"), ("dial", "23")])
        status, _, data = self.api("DELETE", CALLS_PATH + "/" + uuid, token=token)
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(data)["uuid"], uuid)
        event, = self.expect_events(stream, [("hangup", "23")])
        self.assertEqual(event.members["uuid"], uuid)
        self.assertEqual(self.client.state()["calls"], [])
        for label, call_id in (("again", uuid), ("unknown", "nope"), ("with slash", uuid + "/x")):
            with self.subTest(label):
                status, _, data = self.api("DELETE", CALLS_PATH + "/" + call_id, token=token)
                self.assertEqual(status, 404)
                self.assertIn('"error":', data.decode())

    def test_drop_before_answer_cancels_the_pending_answer(self):
        token = self.token()
        stream = self.open_stream(token)
        self.client.set_make_call(outcome="answer", dial_delay_ms=0, answer_delay_ms=60000)
        uuid = json.loads(self.make_call(token)[2])["uuid"]
        self.expect_events(stream, [("caller-dial", "21"), ("dial", "21")])
        self.assertEqual(self.client.state()["scheduled"], 1, "the answer is planned")
        self.assertEqual(self.api("DELETE", CALLS_PATH + "/" + uuid, token=token)[0], 200)
        self.expect_events(stream, [("hangup", "21")])
        self.assertEqual(self.client.state()["scheduled"], 0, "the answer is called off")
        self.expect_nothing_before_marker(stream)

    def test_phone_started_call_and_far_end_answer_by_control(self):
        stream = self.open_stream()
        uuid = self.client.dial("22", "0800555", outcome="ringing")
        self.expect_events(stream, [("caller-dial", "22"), ("dial", "22")])
        self.client.answer(uuid)
        self.client.hangup(uuid)
        self.expect_events(stream, [("answer", "22"), ("hangup", "22")])

    def test_emitted_events_and_raw_text_reach_every_stream(self):
        first = self.open_stream()
        second = EventStream(self.sim.port, self.token())
        second.open()
        self.addCleanup(second.close)
        self.client.wait_for(streams=2)
        self.client.emit_raw(": comment\n\n")
        event_id = self.client.emit_event(uuid="x", extension="21", state="bridge")
        for stream in (first, second):
            comment = stream.next_event()
            self.assertEqual((comment.id, comment.data), (None, ""))
            event = stream.next_event()
            self.assertEqual(event.id, str(event_id))
            self.assertEqual(event.members, {"uuid": "x", "extension": "21", "state": "bridge"})
            self.assertEqual(stream.raw, b": comment\n\n" + b"id: %d\ndata: " % event_id
                             + b'{"uuid":"x","extension":"21","state":"bridge"}\n\n')
        history = self.client.events()
        self.assertEqual(history[0]["raw"], ": comment\n\n")
        self.assertEqual(history[1]["id"], event_id)
        self.assertEqual(history[1]["streams"], 2)

    def test_ended_stream_closes_the_connection(self):
        for mode in ("end", "abort"):
            with self.subTest(mode):
                stream = self.open_stream()
                self.assertEqual(self.client.close_streams(mode), 1)
                try:
                    closed = stream.wait_closed()
                except ConnectionResetError:
                    closed = mode == "abort"
                self.assertTrue(closed)
                self.client.wait_for(max_streams=0)
                self.assertEqual(self.client.state()["streams"], [])

    def test_stream_count_follows_clients_that_go_away(self):
        stream = self.open_stream()
        self.assertEqual(len(self.client.state()["streams"]), 1)
        stream.close()
        self.client.wait_for(max_streams=0, timeout=5)
        self.assertEqual(self.client.state()["streams"], [])

    def test_opened_counts_every_stream_ever_opened_while_an_old_one_is_held(self):
        before = self.client.control("POST", "wait", {"timeout_ms": 0})["opened"]
        old = self.open_stream()
        # A new stream beside the old one: the open count alone cannot tell them apart.
        self.assertFalse(self.client.control("POST", "wait", {"opened": before + 2, "timeout_ms": 300})["ok"])
        new = self.open_stream()
        answer = self.client.control("POST", "wait", {"opened": before + 2, "timeout_ms": 5000})
        self.assertTrue(answer["ok"])
        self.assertEqual((answer["opened"], answer["streams"]), (before + 2, 2))
        old.close()
        new.close()
        answer = self.client.wait_for(max_streams=0, timeout=5)
        self.assertEqual(answer["opened"], before + 2)

    def test_reconnect_with_last_event_id_replays_what_was_missed(self):
        first = self.open_stream()
        uuid = self.client.ring("21", "0711")
        self.client.answer(uuid)
        ring, answer = self.expect_events(first, [("ring", "21"), ("answer", "21")])
        first.close()
        self.client.wait_for(max_streams=0, timeout=5)
        self.client.hangup(uuid)
        # (Last-Event-ID sent, replay on, what the new stream gets first)
        cases = [(answer.id, True, [("hangup", "21")]),
                 (ring.id, True, [("answer", "21"), ("hangup", "21")]),
                 ("not-an-id", True, []),
                 ("999999", True, []),
                 (answer.id, False, [])]
        for last_id, replay, expected in cases:
            with self.subTest(last_id=last_id, replay=replay):
                self.client.settings(replay=replay)
                stream = self.open_stream(last_event_id=last_id)
                self.client.emit_event(uuid="marker", extension="22", state="bridge")
                self.expect_events(stream, expected + [("bridge", "22")])
                stream.close()
                self.client.wait_for(max_streams=0, timeout=5)

    def test_directory_shows_extensions_in_a_call_busy(self):
        def presence():
            _, _, data = self.api("GET", DIRECTORY_PATH, token=self.token())
            return {r["extension_number"]: r["presence"] for r in json.loads(data)["extensions"]}
        uuid = self.client.ring("21", "0711")
        self.assertEqual((presence()["21"], presence()["23"]), ("busy", "online"))
        self.client.hangup(uuid)
        self.assertEqual(presence()["21"], "online")

    def test_chunked_mode_can_be_switched_on_at_run_time(self):
        self.client.set_chunked(True)
        stream = self.open_stream()
        self.assertEqual(stream.headers["transfer-encoding"], "chunked")
        self.client.ring("21", "0711")
        self.expect_events(stream, [("ring", "21")])


class BurstTest(SimulatorCase):
    def read_all(self, stream, count):
        events = [stream.next_event() for _ in range(count)]
        self.assertNotIn(None, events, "stream ended early")
        return events

    def test_burst_rings_answers_and_hangs_up_every_call_back_to_back(self):
        stream = self.open_stream()
        calls = self.client.burst(["21", "22", "23"], "+4930123456")
        self.assertEqual([c["extension"] for c in calls], ["21", "22", "23"])
        events = self.read_all(stream, 9)
        self.assertEqual([(e.members["state"], e.members["extension"]) for e in events],
                         [(state, ext) for state in ("ring", "answer", "hangup") for ext in ("21", "22", "23")])
        # Each call's events carry its uuid, and the answer names their ids.
        for call in calls:
            mine = [e for e in events if e.members["uuid"] == call["uuid"]]
            self.assertEqual([e.members["extension"] for e in mine], [call["extension"]] * 3)
            self.assertEqual([int(e.id) for e in mine], call["events"])
            self.assertEqual((mine[0].members["caller"], mine[0].members["callee"]),
                             ("+4930123456", call["extension"]))
        self.assertEqual(self.client.state()["calls"], [])
        self.expect_nothing_before_marker(stream)

    def test_burst_steps_and_refusals(self):
        stream = self.open_stream()
        self.client.burst(["21", "22"], "0711", steps=["ring", "hangup"])
        self.assertEqual([(e.members["state"], e.members["extension"]) for e in self.read_all(stream, 4)],
                         [("ring", "21"), ("ring", "22"), ("hangup", "21"), ("hangup", "22")])
        calls = self.client.burst(["23"], "0711", steps=["ring"])
        self.assertEqual(len(self.client.state()["calls"]), 1, "the ringing call stays")
        self.client.hangup(calls[0]["uuid"])
        self.read_all(stream, 2)
        cases = [("answer first", {"steps": ["answer"]}), ("twice", {"steps": ["ring", "ring"]}),
                 ("out of order", {"steps": ["ring", "hangup", "answer"]}), ("no list", {"steps": "ring"}),
                 ("no extensions", {"extensions": []}), ("no caller", {"caller": ""})]
        for label, change in cases:
            with self.subTest(label):
                body = dict({"extensions": ["21"], "caller": "0711"}, **change)
                with self.assertRaises(PbxSimError) as caught:
                    self.client.control("POST", "burst", body)
                self.assertEqual(caught.exception.status, 400)
        self.expect_nothing_before_marker(stream)

    def test_history_has_when_each_event_was_written_to_each_stream(self):
        first = self.open_stream()
        second = EventStream(self.sim.port, self.token())
        second.open()
        self.addCleanup(second.close)
        self.client.wait_for(streams=2)
        before = time.time()
        calls = self.client.burst(["21", "22"], "0711")
        for stream in (first, second):
            self.read_all(stream, 6)
        # A write is noted once it returned, which may be just after the reader has it.
        deadline = time.monotonic() + 10
        while True:
            history = [e for e in self.client.events() if "id" in e]
            if all(len(e["written"]) == 2 for e in history) or time.monotonic() > deadline:
                break
            time.sleep(0.01)
        after = time.time()
        self.assertEqual([e["id"] for e in history], sorted(i for c in calls for i in c["events"]))
        streams = {w["stream"] for e in history for w in e["written"]}
        self.assertEqual(len(streams), 2)
        for entry in history:
            self.assertEqual(len(entry["written"]), 2, entry)
            # Times of the one wall clock the reader's own time.time() reads.
            self.assertLessEqual(before, entry["published"])
            for write in entry["written"]:
                self.assertLessEqual(entry["published"], write["time"])
                self.assertLessEqual(write["time"], after)
        for stream_id in streams:
            times = [w["time"] for e in history for w in e["written"] if w["stream"] == stream_id]
            self.assertEqual(times, sorted(times), "one stream's writes follow the event order")


class ChunkedStreamTest(SimulatorCase):
    start_options = {"chunked": True}

    def test_each_event_is_one_chunk_and_end_sends_the_last_chunk(self):
        stream = self.open_stream()
        self.assertEqual(stream.headers["transfer-encoding"], "chunked")
        self.assertNotIn("content-length", stream.headers)
        uuid = self.client.ring("21", "+491701234567")
        self.client.answer(uuid)
        events = self.expect_events(stream, [("ring", "21"), ("answer", "21")])
        self.assertEqual(stream.chunks,
                         [b"id: %s\ndata: %s\n\n" % (e.id.encode(), e.data.encode()) for e in events])
        # Chunk sizes on the wire are the hexadecimal byte counts of the events.
        self.assertTrue(stream.raw.startswith(b"%X\r\nid: " % len(stream.chunks[0])))
        self.client.close_streams("end")
        self.assertTrue(stream.wait_closed())
        self.assertTrue(stream.ended)
        self.assertTrue(stream.raw.endswith(b"\r\n0\r\n\r\n"))

    def test_abort_cuts_the_stream_without_the_last_chunk(self):
        stream = self.open_stream()
        self.client.emit_event(state="x")
        self.assertIsNotNone(stream.next_event())
        self.client.close_streams("abort")
        try:
            stream.wait_closed()
        except ConnectionResetError:
            pass
        self.assertFalse(stream.ended)
        self.assertFalse(stream.raw.endswith(b"0\r\n\r\n"))


class FaultTest(SimulatorCase):
    def test_status_faults_answer_the_next_n_matching_requests(self):
        self.client.fault(LOGIN_PATH, 503, count=2, method="POST")
        self.client.fault(CALLS_PATH + "/*", 500, body='{"error":"boom"}')
        statuses = [self.client.login(USER, PASSWORD)[0] for _ in range(3)]
        self.assertEqual(statuses, [503, 503, 200])
        token = self.token()
        status, _, data = self.api("DELETE", CALLS_PATH + "/anything", token=token)
        self.assertEqual((status, data), (500, b'{"error":"boom"}'))
        self.assertEqual(self.client.faults(), [])
        self.assertEqual(self.api("DELETE", CALLS_PATH + "/anything", token=token)[0], 404)

    def test_fault_for_another_method_or_path_does_not_fire(self):
        self.client.fault(LOGIN_PATH, 500, method="PUT")
        self.client.fault(DIRECTORY_PATH, 500)
        self.assertEqual(self.client.login(USER, PASSWORD)[0], 200)
        self.assertEqual(len(self.client.faults()), 2)

    def test_fault_with_status_200_and_custom_body(self):
        body = '{"access-token":"a.b", "refresh-token":"r"}'
        self.client.fault(LOGIN_PATH, 200, body=body)
        status, answer = self.client.login(USER, PASSWORD)
        self.assertEqual((status, answer), (200, json.loads(body)))

    def test_dropped_and_reset_connections(self):
        for option, errors in (("drop", (http.client.RemoteDisconnected, ConnectionError)),
                               ("reset", (ConnectionError,))):
            with self.subTest(option):
                self.client.clear_requests()
                self.client.fault(LOGIN_PATH, **{option: True})
                with self.assertRaises(errors):
                    self.client.login(USER, PASSWORD)
                entry, = self.client.requests()
                self.assertEqual((entry["status"], entry["fault"]), (None, True))
                self.assertEqual(self.client.login(USER, PASSWORD)[0], 200)

    def test_truncated_answer(self):
        self.client.fault(LOGIN_PATH, 200, body='{"access-token":"xxxxxxxxxxxxxxxx"}', truncate=True)
        with self.assertRaises(http.client.IncompleteRead):
            self.client.login(USER, PASSWORD)

    def test_delay_slows_the_answer_but_keeps_it(self):
        self.client.fault(LOGIN_PATH, delay_ms=300)
        started = time.monotonic()
        status, _ = self.client.login(USER, PASSWORD)
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.assertEqual(status, 200)

    def test_stream_request_can_be_refused(self):
        self.client.fault(CALLS_PATH, 503, method="GET")
        stream = EventStream(self.sim.port, self.token())
        stream.open()
        self.addCleanup(stream.close)
        self.assertEqual(stream.status, 503)
        self.assertEqual(self.client.state()["streams"], [])

    def test_bad_fault_requests_are_refused(self):
        for fields in ({"status": 500}, {"path": "/x", "count": 0}, {"path": "/x", "truncate": True, "drop": True},
                     {"path": "/x", "colour": "red"}, {"path": "/x", "status": "500"}):
            with self.subTest(fields):
                with self.assertRaises(PbxSimError) as caught:
                    self.client.control("POST", "faults", fields)
                self.assertEqual(caught.exception.status, 400)
        self.assertEqual(self.client.faults(), [])

    def test_server_down_refuses_connections_then_comes_back(self):
        stream = self.open_stream()
        self.client.down(300)
        with self.assertRaises(ConnectionRefusedError):
            self.client.state()
        try:
            self.assertTrue(stream.wait_closed())
        except ConnectionResetError:
            pass
        self.client.wait_until_up()
        self.assertEqual(self.client.login(USER, PASSWORD)[0], 200)


class MisbehavingServerTest(SimulatorCase):
    """The fault modes a provider has to survive."""

    def test_hung_request_gets_no_answer_until_the_faults_are_cleared(self):
        for path, call in ((LOGIN_PATH, lambda: self.client.login(USER, PASSWORD)[0]),
                           (DIRECTORY_PATH, lambda: self.api("GET", DIRECTORY_PATH, token=self.token())[0])):
            with self.subTest(path):
                self.client.fault(path, hang=True, method="POST" if path == LOGIN_PATH else "GET")
                with self.assertRaises(socket.timeout):
                    self.client.request("POST" if path == LOGIN_PATH else "GET", path,
                                        {"username": USER, "password": PASSWORD}, timeout=0.5)
                # The held request leaves when its client gives up; the next one is held too.
                self.client.fault(path, hang=True, method="POST" if path == LOGIN_PATH else "GET")
                result = []
                waiter = threading.Thread(target=lambda: result.append(call()))
                waiter.start()
                self.client.wait_for(requests=2, path=path)
                self.assertEqual(result, [])
                self.client.clear_faults()
                waiter.join(10)
                self.assertEqual(result, [200])

    def test_stream_that_closes_at_once_after_its_header(self):
        self.client.fault(CALLS_PATH, method="GET", stream="close", count=2)
        for _ in range(2):
            stream = EventStream(self.sim.port, self.token())
            stream.open()
            self.addCleanup(stream.close)
            self.assertEqual(stream.status, 200)
            self.assertTrue(stream.wait_closed(5))
            self.assertEqual(stream.raw, b"")
        self.open_stream()

    def test_silent_stream_stays_open_and_sends_nothing(self):
        self.client.settings(heartbeat_ms=100)
        self.client.fault(CALLS_PATH, method="GET", stream="silent")
        silent = EventStream(self.sim.port, self.token())
        silent.open()
        self.addCleanup(silent.close)
        self.client.wait_for(streams=1)
        talking = self.open_stream()
        self.client.wait_for(streams=2)
        self.client.ring("21", "0711")
        self.expect_events(talking, [("ring", "21")])
        self.assertIsNone(self._next_or_none(silent))
        self.assertEqual(silent.raw, b"")
        # Silencing the open streams: the talking one falls silent too. What
        # was sent before the silence is read off first.
        self.assertEqual(self.client.close_streams("silence"), 2)
        while self._next_or_none(talking) is not None:
            pass
        heard = talking.raw
        self.client.ring("22", "0711")
        self.assertIsNone(self._next_or_none(talking))
        self.assertEqual(talking.raw, heard)
        self.assertEqual([s["silent"] for s in self.client.state()["streams"]], [True, True])

    def _next_or_none(self, stream):
        try:
            return stream.next_event(timeout=0.6)
        except TimeoutError:
            return None

    def test_heartbeat_comments_on_an_idle_stream(self):
        self.client.settings(heartbeat_ms=200)
        stream = self.open_stream()
        for _ in range(2):
            comment = stream.next_event(timeout=2)
            self.assertEqual((comment.id, comment.data), (None, ""))
        self.assertTrue(stream.raw.startswith(b": keep-alive\n\n: keep-alive\n\n"))

    def test_event_stalled_in_its_middle_arrives_whole_and_in_order(self):
        for chunked in (False, True):
            with self.subTest(chunked=chunked):
                self.client.set_chunked(chunked)
                stream = self.open_stream()
                first = self.client.emit_stalled_event(800, uuid="s", extension="21", state="ring")
                second = self.client.emit_event(uuid="s", extension="21", state="hangup")
                time.sleep(0.3)
                # Half of the first event is on the wire, nothing of the second.
                stream._fill(time.monotonic() + 2)
                self.assertIn(b"id: %d\ndata: {" % first, stream.raw)
                self.assertNotIn(b"}", stream.raw)
                started = time.monotonic()
                events = [stream.next_event(timeout=5), stream.next_event(timeout=5)]
                self.assertGreaterEqual(time.monotonic() - started, 0.3)
                self.assertEqual([(e.id, e.members["state"]) for e in events],
                                 [(str(first), "ring"), (str(second), "hangup")])
                if chunked:
                    self.assertEqual(len(stream.chunks), 3)
                self.client.close_streams("end")
                self.client.wait_for(max_streams=0)

    def test_flood_publishes_ring_and_hangup_per_call_to_every_stream(self):
        stream = self.open_stream()
        self.assertEqual(self.client.flood(["21", "22"], count=20)["count"], 20)
        events = [stream.next_event(timeout=5) for _ in range(40)]
        self.assertEqual([(e.members["state"], e.members["extension"]) for e in events[:4]],
                         [("ring", "21"), ("hangup", "21"), ("ring", "22"), ("hangup", "22")])
        self.assertEqual(len({e.members["uuid"] for e in events}), 20)

    def test_bad_fault_modes_are_refused(self):
        for fields in ({"path": "/x", "stream": "sleepy"}, {"path": "/x", "hang": 1}):
            with self.subTest(fields):
                with self.assertRaises(PbxSimError) as caught:
                    self.client.control("POST", "faults", fields)
                self.assertEqual(caught.exception.status, 400)
        with self.assertRaises(PbxSimError):
            self.client.close_streams("pause")
        with self.assertRaises(PbxSimError):
            self.client.settings(heartbeat_ms=-1)


class RequestLogTest(SimulatorCase):
    def test_log_holds_every_pbx_request_and_no_control_request(self):
        self.client.clear_requests()
        body = '{"username":"%s", "password":"%s"}' % (USER, PASSWORD)
        self.api("POST", LOGIN_PATH, body, headers={"Accept": "*.*", "Content-Type": "application/json"})
        self.api("GET", "/v1/unknown")
        self.client.state()
        entries = self.client.requests()
        self.assertEqual([(e["method"], e["path"], e["status"]) for e in entries],
                         [("POST", LOGIN_PATH, 200), ("GET", "/v1/unknown", 404)])
        login = entries[0]
        self.assertEqual(login["body"], body)
        self.assertEqual(base64.b64decode(login["body_base64"]).decode("utf-8"), body)
        self.assertIn(["Accept", "*.*"], login["headers"])
        self.assertIn(["Content-Length", str(len(body.encode()))], login["headers"])
        self.assertEqual(login["version"], "HTTP/1.1")
        self.assertEqual(self.client.clear_requests()["requests"], [])
        self.assertEqual(self.client.requests(), [])

    def send_raw(self, request):
        with socket.create_connection(("127.0.0.1", self.sim.port), timeout=10) as sock:
            sock.sendall(request)
            answer = b""
            while b"\r\n\r\n" not in answer:
                data = sock.recv(4096)
                if not data:
                    break
                answer += data
        return answer

    def test_duplicate_header_lines_as_the_provider_sends_them(self):
        # The provider writes its own host and content-length lines; WinHTTP
        # may add its own as well. Equal copies are accepted, differing ones not.
        body = b'{"username":"tester", "password":"x"}'
        head = b"POST /v1/login HTTP/1.1\r\nHost: 127.0.0.1\r\nhost: 127.0.0.1\r\nAccept:*.*\r\n"
        answer = self.send_raw(head + b"Content-Length: %d\r\ncontent-length: %d\r\n\r\n"
                               % (len(body), len(body)) + body)
        self.assertTrue(answer.startswith(b"HTTP/1.1 401 "), answer)
        entry, = [e for e in self.client.requests() if e["path"] == LOGIN_PATH]
        self.assertEqual(len([h for h in entry["headers"] if h[0].lower() == "host"]), 2)
        answer = self.send_raw(head + b"Content-Length: %d\r\ncontent-length: 3\r\n\r\n"
                               % len(body) + body)
        self.assertTrue(answer.startswith(b"HTTP/1.1 400 "), answer)

    def test_absolute_form_requests_are_served_only_as_a_proxy_and_logged_as_such(self):
        # What a client sends to its proxy: the whole URL, naming a host that
        # need not even resolve; as a proxy the simulator takes it as its own.
        url = "http://pbx.invalid:%d%s" % (self.sim.port, LOGIN_PATH)
        body = json.dumps({"username": USER, "password": PASSWORD}).encode("utf-8")
        head = b"POST %s HTTP/1.1\r\nHost: pbx.invalid\r\nContent-Length: %d\r\n\r\n" % (url.encode(), len(body))
        self.client.clear_requests()
        for proxy, status in ((False, b"400"), (True, b"200")):
            with self.subTest(proxy=proxy):
                self.client.set_proxy(proxy)
                answer = self.send_raw(head + body)
                self.assertTrue(answer.startswith(b"HTTP/1.1 " + status + b" "), answer)
        self.api("GET", "/v1/unknown")
        entries = self.client.requests()
        self.assertEqual([(e["path"], e["target"], e["proxied"], e["status"]) for e in entries],
                         [(LOGIN_PATH, url, True, 400), (LOGIN_PATH, url, True, 200),
                          ("/v1/unknown", "/v1/unknown", False, 404)])

    def test_wait_for_requests_and_its_time_out(self):
        self.client.login(USER, PASSWORD)
        self.assertEqual(self.client.wait_for(requests=1, path=LOGIN_PATH, method="POST")["requests"], 1)
        with self.assertRaises(TimeoutError):
            self.client.wait_for(requests=2, path=LOGIN_PATH, timeout=0.2)

    def test_unknown_paths_and_methods(self):
        cases = [("GET", "/v1/nothing", 404), ("GET", "/", 404), ("DELETE", LOGIN_PATH, 405),
                 ("PUT", CALLS_PATH, 405), ("GET", "/_control/nothing", 404)]
        for method, path, expected in cases:
            with self.subTest(method=method, path=path):
                self.assertEqual(self.api(method, path)[0], expected)

    def test_every_address_of_localhost_reaches_the_simulator(self):
        # HTTPS clients must connect to "localhost", whichever address it resolves to.
        addresses = {info[4][0] for info in socket.getaddrinfo("localhost", self.sim.port,
                                                               type=socket.SOCK_STREAM)}
        self.assertTrue(addresses)
        for address in addresses:
            with self.subTest(address):
                self.assertEqual(PbxSimClient(self.sim.port, host=address).state()["customer"], CUSTOMER)

    def test_date_header_can_be_switched_off(self):
        self.assertIn("date", self.api("GET", "/v1/nothing")[1])
        self.client.settings(date_header=False)
        self.assertNotIn("date", self.api("GET", "/v1/nothing")[1])


class HttpsTest(SimulatorCase):
    @classmethod
    def make_start_options(cls, directory):
        cls.pem = os.path.join(directory, "cert.pem")
        cls.der = os.path.join(directory, "cert.der")
        return {"https": True, "cert_out": cls.pem, "cert_der_out": cls.der}

    def test_tls12_with_the_exported_localhost_certificate(self):
        context = ssl.create_default_context(cafile=self.pem)
        with socket.create_connection(("localhost", self.sim.port), timeout=10) as raw:
            with context.wrap_socket(raw, server_hostname="localhost") as tls:
                self.assertEqual(tls.version(), "TLSv1.2")
                with open(self.der, "rb") as der:
                    self.assertEqual(tls.getpeercert(binary_form=True), der.read())
                names = tls.getpeercert()["subjectAltName"]
        self.assertIn(("DNS", "localhost"), names)

    def test_tls13_only_clients_are_refused(self):
        context = ssl.create_default_context(cafile=self.pem)
        context.minimum_version = ssl.TLSVersion.TLSv1_3
        with socket.create_connection(("localhost", self.sim.port), timeout=10) as raw:
            with self.assertRaises(ssl.SSLError):
                context.wrap_socket(raw, server_hostname="localhost")

    def test_login_and_event_stream_over_https(self):
        self.assertEqual(self.client.host, "localhost")
        token = self.token()
        self.assertEqual(token_claims(token)["customer"], CUSTOMER)
        stream = self.open_stream(token)
        uuid = self.client.ring("22", "0711")
        event, = self.expect_events(stream, [("ring", "22")])
        self.assertEqual(event.members["uuid"], uuid)


class CommandLineTest(unittest.TestCase):
    def run_cli(self, *args):
        command = [sys.executable, os.path.join(os.path.dirname(__file__), os.pardir)] + list(args)
        return subprocess.run(command, capture_output=True, text=True, timeout=30)

    def test_invalid_start_options_fail_without_a_port_line(self):
        with tempfile.TemporaryDirectory() as directory:
            broken = os.path.join(directory, "broken.json")
            with open(broken, "w") as handle:
                handle.write('{"customer": "c", "users": []}')
            cases = [("missing account file", ["--account", os.path.join(directory, "none.json")], 2),
                     ("account without users", ["--account", broken], 2),
                     ("certificate output without https", ["--cert-out", broken], 2)]
            for label, args, code in cases:
                with self.subTest(label):
                    result = self.run_cli("--port", "0", *args)
                    self.assertEqual(result.returncode, code)
                    self.assertNotIn("PBXSIM_PORT", result.stdout)
                    self.assertTrue(result.stderr)

    def test_demo_account_and_clean_stop_on_sigterm(self):
        sim = start_pbxsim()
        self.addCleanup(sim.stop)
        client = sim.client()
        token = client.access_token("lena.muster", "Demo-Pass-2024")
        status, _, data = client.request("GET", DIRECTORY_PATH, headers=PbxSimClient.bearer(token))
        records = json.loads(data)["extensions"]
        self.assertEqual([(r["extension_number"], r["name"]) for r in records],
                         [("21", "Office"), ("22", "Reception"), ("23", "Lab")])
        self.assertEqual(sim.stop(), 0)

    def test_numbered_extensions_option_is_the_start_directory(self):
        sim = start_pbxsim(extra_args=["--extensions", "1200"])
        self.addCleanup(sim.stop)
        client = sim.client()
        client.set_extensions([{"extension_number": "1"}])
        client.reset()
        token = client.access_token("lena.muster", "Demo-Pass-2024")
        _, _, data = client.request("GET", DIRECTORY_PATH, headers=PbxSimClient.bearer(token))
        numbers = [r["extension_number"] for r in json.loads(data)["extensions"]]
        self.assertEqual(numbers, [str(n) for n in range(10000, 11200)])

    def test_shutdown_by_control_request(self):
        sim = start_pbxsim()
        self.addCleanup(sim.stop)
        sim.client().shutdown()
        self.assertEqual(sim.process.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
