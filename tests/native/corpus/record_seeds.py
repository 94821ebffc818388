#!/usr/bin/env python3
"""Records the fuzzers' seed corpus from the PBX simulator's real answers.

Runs tools/pbxsim, goes through a login, a token refresh, the extension
directory, an incoming call (offered, answered, hung up), a placed and a
dropped call, and the usual error answers, and writes what went over the wire
into one folder per fuzz target beside this script:

  json/          answer bodies, the event payloads and the token claims
  mask_secrets/  the texts of an exchange as the exchange files show them:
                 request header and data, answer header and data
  base64/        the three parts of the issued tokens, padded as the provider pads them
  event_stream/  the call event stream's body as received, close-delimited
                 and chunked (raw bytes, for the event framing)

Every text but the event stream is written as UTF-16LE, the form the product
holds it in: the fuzzers read their input as 16-bit units. The output is
committed; run this again only to record new seeds:

  python3 tests/native/corpus/record_seeds.py
"""

import base64
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from pbxsim.client import CALLS_PATH, DIRECTORY_PATH, LOGIN_PATH, EventStream, start_pbxsim  # noqa: E402

USER, PASSWORD = "lena.muster", "Demo-Pass-2024"
TARGETS = ("json", "mask_secrets", "base64", "event_stream")

# Texts of the unit tests' rows that the recorded traffic does not show:
# the other grammar rules, and the other secret markers.
TEST_SEEDS = {
    "json": {
        "grammar": '{ "a" : [1,-2.5e3,true,null,{"b":"\\u00e9\\n"},[ ]] , "t" : TRUE }',
        "escapes": '{"e":"\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9","k":"first","k":7}',
        "numbers": '{"n":[-0,150E-1,123.456e1,0.000001,4e4294967295,2147483648]}',
    },
    "mask_secrets": {
        "tags": "<username>alice</username><password>pw</password>",
        "basic": "Authorization: Basic YWI6Yw==\r\n",
        "form": "user=alice&pwd=s3cret&lang=de AUTH_TOKEN=abc\tdef&password=x",
        "token-member": '{"token":"t=1,2", "access-token" : "a=b,c", "refresh-token":\r\n  "d" }',
        "quoted-mask-at-end": 'name="XXX pwd=secret',
    },
}

# Words the fuzzers should try in every place: the markers and names the
# modules look for, as UTF-16LE like the inputs.
DICTIONARIES = {
    "json": ['"', "\\u", "true", "false", "null", "e-", "[]", "{}", '":"', '","'],
    "mask_secrets": ["<username>", "<password>", "Authorization: Basic ", "Authorization: Bearer ", "pwd=",
                     "&password=", "AUTH_TOKEN=", '"token":"', '"password":"', '"access-token"',
                     '"refresh-token"', '"XXX'],
}

# The request headers as the provider sends them.
JSON_HEADER = "Accept:*.*\r\nContent-Type: application/json\r\n\r\n"
BEARER_HEADER = "Accept:*.*\r\nContent-Type: application/json\r\nAuthorization: Bearer {}\r\n\r\n"


class Corpus:
    def __init__(self):
        self.names = set()
        for target in TARGETS:
            folder = os.path.join(HERE, target)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)

    def write(self, target, name, data):
        assert (target, name) not in self.names, name
        self.names.add((target, name))
        if isinstance(data, str):
            data = data.encode("utf-16-le")
        with open(os.path.join(HERE, target, name), "wb") as file:
            file.write(data)


def response_header(status, headers):
    return f"HTTP/1.1 {status}\r\n" + "".join(f"{name}: {value}\r\n" for name, value in headers) + "\r\n"


def padded(part):
    return part + "=" * (-len(part) % 4)


def record_exchange(corpus, name, pbx, method, path, body=None, token=None):
    """One request and its answer: the answer body as JSON seed, all four texts as masking seeds."""
    header = BEARER_HEADER.format(token) if token else JSON_HEADER
    data = json.dumps(body) if body is not None else ""
    request_headers = {"Content-Type": "application/json"}
    if token:
        request_headers["Authorization"] = "Bearer " + token
    status, headers, answer = pbx.request(method, path, data if data else None, request_headers)
    answer_text = answer.decode("utf-8")
    corpus.write("json", name, answer_text)
    corpus.write("mask_secrets", name + "-query-header", header)
    if data:
        corpus.write("mask_secrets", name + "-query-data", data)
    corpus.write("mask_secrets", name + "-response-header", response_header(status, headers))
    corpus.write("mask_secrets", name + "-response-data", answer_text)
    return status, answer_text


def record_token(corpus, name, token):
    header, payload, signature = token.split(".")
    corpus.write("base64", name + "-header", padded(header))
    corpus.write("base64", name + "-payload", padded(payload))
    corpus.write("base64", name + "-signature", padded(signature))
    claims = base64.b64decode(padded(payload)).decode("utf-8")
    corpus.write("json", name + "-claims", claims)
    return json.loads(claims)["customer"]


def record_stream(corpus, name, sim, pbx, token, customer, chunked):
    pbx.set_chunked(chunked)
    with EventStream(sim.port, token) as stream:
        pbx.wait_for(streams=1)
        uuid = pbx.ring(["21", "22"], "+4930123456")
        pbx.answer(uuid, "22")
        pbx.hangup(uuid)
        status, answer = record_exchange(corpus, name + "-make-call", pbx, "POST", CALLS_PATH,
                                         {"caller": "21", "caller_context": customer, "callee": "0301234",
                                          "callee_context": customer, "extension": "21"}, token)
        placed = json.loads(answer)["uuid"]
        events = []
        while True:
            event = stream.next_event(timeout=10)
            events.append(event)
            if event.members and event.members.get("uuid") == placed and event.members.get("state") in ("answer", "hangup"):
                break
        record_exchange(corpus, name + "-drop", pbx, "DELETE", f"{CALLS_PATH}/{placed}", token=token)
        events.append(stream.next_event(timeout=10))
        pbx.close_streams("end")
        stream.wait_closed(timeout=10)
        corpus.write("event_stream", name, stream.raw)
    for number, event in enumerate(events, 1):
        corpus.write("json", f"{name}-event-{number:02d}-{event.members['state']}", event.data)


def write_dictionary(target, words):
    with open(os.path.join(HERE, target + ".dict"), "w", encoding="ascii") as file:
        for word in words:
            units = "".join(f"\\x{byte:02x}" for byte in word.encode("utf-16-le"))
            file.write(f'"{units}"\n')


def main():
    corpus = Corpus()
    for target, seeds in TEST_SEEDS.items():
        for name, text in seeds.items():
            corpus.write(target, "test-" + name, text)
    for target, words in DICTIONARIES.items():
        write_dictionary(target, words)
    with start_pbxsim() as sim:
        pbx = sim.client()
        pbx.set_make_call(answer_delay_ms=100)
        status, answer = record_exchange(corpus, "login", pbx, "POST", LOGIN_PATH,
                                         {"username": USER, "password": PASSWORD})
        assert status == 200, answer
        tokens = json.loads(answer)
        access, refresh = tokens["access-token"], tokens["refresh-token"]
        customer = record_token(corpus, "access-token", access)
        record_token(corpus, "refresh-token", refresh)

        status, answer = record_exchange(corpus, "refresh", pbx, "PUT", LOGIN_PATH, token=refresh)
        assert status == 200, answer
        access = json.loads(answer)["access-token"]

        record_exchange(corpus, "login-wrong-password", pbx, "POST", LOGIN_PATH,
                        {"username": USER, "password": "not-" + PASSWORD})
        record_exchange(corpus, "directory", pbx, "GET", DIRECTORY_PATH, token=access)
        record_exchange(corpus, "directory-expired-token", pbx, "GET", DIRECTORY_PATH, token=refresh)
        record_exchange(corpus, "drop-unknown-call", pbx, "DELETE", CALLS_PATH + "/no-such-call", token=access)

        record_stream(corpus, "stream", sim, pbx, access, customer, chunked=False)
        record_stream(corpus, "stream-chunked", sim, pbx, access, customer, chunked=True)
    print(f"recorded {len(corpus.names)} seeds")


if __name__ == "__main__":
    main()
