"""The Python client against the real daemon, against infoctl, and against a fake server
that breaks the wire format."""

import os
import socket
import struct
import threading

import pytest

from conftest import DEADLINE
from infoservice import Client, InfoError
from infoservice import wire

SHORT = 0.5


def test_every_call(daemon):
    client = Client(daemon.address)
    assert client.get("w.a") == b"1"
    assert client.get_many([b"w.b", "w.a"]) == [b"2", b"1"]
    client.set("p.x", "é", volatile=True)
    assert client.get("p.x") == "é".encode()
    client.set_many({"p.y": b"\x00\xff", "p.z": ""}, volatile=True)
    assert client.get_many(["p.y", "p.z"]) == [b"\x00\xff", b""]
    client.set("w.a", "permanent")
    assert client.get("w.a") == b"permanent"
    client.unset("w.a")
    assert client.get("w.a") == b"1"
    out = daemon.file("out")
    open(out, "wb").close()
    client.get_to_file("p.y", out)
    with open(out, "rb") as f:
        assert f.read() == b"\x00\xff"
    client.set_from_file("p.f", out, volatile=True)
    assert client.get("p.f") == b"\x00\xff"
    assert client.dump("p.*") == {b"p.f": b"\x00\xff", b"p.x": "é".encode(), b"p.y": b"\x00\xff",
                                  b"p.z": b""}
    client.unset_many(["p.x", "p.y"], volatile=True)
    assert sorted(client.dump("p.*")) == [b"p.f", b"p.z"]
    assert client.dump("nothing.*") == {}


def test_address_is_found_like_infoctl_finds_it(daemon, monkeypatch):
    assert Client(address_file=daemon.address_file).get("w.a") == b"1"
    monkeypatch.setenv("INFOSERVICE_ADDRESS", daemon.address)
    assert Client().get("w.a") == b"1"
    monkeypatch.delenv("INFOSERVICE_ADDRESS")
    with FakeServer(daemon.root, lambda body: reply(body, wire.Writer().string(
            daemon.address.encode()).payload())) as names:
        monkeypatch.setenv("NAMESERVICE_ADDRESS", names.address)
        assert Client().get("w.b") == b"2"


@pytest.mark.parametrize("call, code, text", [
    (lambda c, d: c.get("no.such"), 201, "Unknown object"),
    (lambda c, d: c.get_many(["w.a", "no.such"]), 201, "Unknown object"),
    (lambda c, d: c.watch(""), 201, "Invalid expression"),
    (lambda c, d: c.get_to_file("w.a", d.file("missing/out")), 207, "Failed to open file"),
    (lambda c, d: c.set("x", 5), 301, "value must be bytes or str"),
    (lambda c, d: Client("ipc:" + d.root + "/nobody.sock#1").get("w.a"), 300,
     "cannot reach the information service"),
    (lambda c, d: Client().get("w.a"), 300, "no daemon address"),
    (lambda c, d: Client("not an address").get("w.a"), 300, "not an IPC address"),
])
def test_errors_carry_code_and_text(daemon, call, code, text):
    with pytest.raises(InfoError) as raised:
        call(Client(daemon.address), daemon)
    assert raised.value.code == code
    assert text in raised.value.text


def test_watch_sees_changes_and_removals(daemon):
    client = Client(daemon.address)
    with client.watch("w.*", "v.*", timeout=DEADLINE) as watch:
        assert sorted([next(watch), next(watch)]) == [("changed", b"w.a"), ("changed", b"w.b")]
        client.set("v.new", "1", volatile=True)
        client.unset("v.new", volatile=True)
        client.set("other", "1", volatile=True)
        client.set("w.a", "2", volatile=True)
        assert [next(watch) for _ in range(3)] == [
            ("changed", b"v.new"), ("removed", b"v.new"), ("changed", b"w.a")]
    with client.watch("w.*", enumerate=False, timeout=SHORT) as quiet:
        assert list(quiet) == []


# --- the same bytes through infoctl and through Python ---------------------------------------

VALUE = b"caf\xe9 \\ \"x\"\nnext\tend"


def test_same_bytes_through_infoctl_and_python(daemon):
    client = Client(daemon.address)
    client.set("b.py", VALUE, volatile=True)
    assert daemon.infoctl("set", "-v", "b.ctl", VALUE) == (0, b"", b"")
    assert client.get("b.ctl") == VALUE
    assert daemon.infoctl("get", "b.py", "b.ctl") == (0, VALUE + b"\n" + VALUE + b"\n", b"")
    status, dumped, _ = daemon.infoctl("dump", "b.*")
    escaped = b"".join(name + b"=" + value.replace(b"\\", b"\\\\").replace(b"\n", b"\\n") + b"\n"
                       for name, value in sorted(client.dump("b.*").items()))
    assert (status, dumped) == (0, escaped)
    for name in ("b.py", "b.ctl"):
        path = daemon.file(name)
        open(path, "wb").close()
        assert daemon.infoctl("get-to-file", name, path)[0] == 0
        with open(path, "rb") as f:
            assert f.read() == client.get(name)
    status, _, error = daemon.infoctl("get", "no.such")
    with pytest.raises(InfoError) as raised:
        client.get("no.such")
    assert (status, error) == (1, ("infoctl: no.such: error %d: %s\n" % (
        raised.value.code, raised.value.text)).encode())


# --- a fake server that breaks the format ------------------------------------------------------

def reply(body, payload, kind=wire.REPLY, call_id=None):
    if call_id is None:
        call_id = struct.unpack(">I", body[4:8])[0]
    return struct.pack(">IBBHII", 12 + len(payload), 1, kind, 0, call_id, 0) + payload


class FakeServer:
    """Serves one object at <root>/fake.sock: answers each request frame with what
    respond(body) returns (bytes, or a list of bytes sent apart), or nothing for None. Bounded:
    it stops with the with block."""

    def __init__(self, root, respond):
        self.path = os.path.join(root, "fake.sock")
        self.address = "ipc:%s#1" % self.path
        self.respond = respond
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen(4)
        self.listener.settimeout(0.1)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join(DEADLINE)
        self.listener.close()
        os.unlink(self.path)

    def run(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            with connection:
                connection.settimeout(DEADLINE)
                try:
                    length = struct.unpack(">I", connection.recv(4, socket.MSG_WAITALL))[0]
                    body = connection.recv(length, socket.MSG_WAITALL)
                    answer = self.respond(body)
                    for part in answer if isinstance(answer, list) else [answer]:
                        if part is not None:
                            connection.sendall(part)
                        self.stopping.wait(0.2)
                    self.stopping.wait(DEADLINE)
                except OSError:
                    pass


def payload(*strings):
    return wire.Writer().strings(list(strings)).payload()


BAD_ANSWERS = {
    "silence": lambda body: None,
    "length above 16 MiB": lambda body: struct.pack(">I", 16 * 1024 * 1024 + 1),
    "length below the header": lambda body: struct.pack(">IQ", 11, 0),
    "version 2": lambda body: struct.pack(">IBBHII", 12, 2, 3, 0, 1, 0),
    "a call instead of a reply": lambda body: struct.pack(">IBBHII", 12, 1, 1, 1, 1, 1),
    "another call's id": lambda body: reply(body, wire.Writer().string(b"v").payload(), call_id=99),
    "string past the payload": lambda body: reply(body, struct.pack(">I", 1000) + b"short"),
    "trailing bytes": lambda body: reply(body, wire.Writer().string(b"v").payload() + b"x"),
    "list count above the payload": lambda body: reply(body, struct.pack(">I", 60000)),
    "truncated frame": lambda body: reply(body, wire.Writer().string(b"value").payload())[:-2],
    "one byte at a time": lambda body: [bytes([b]) for b in reply(body, payload(b"v" * 64))],
    "malformed error reply": lambda body: reply(body, b"\x00", kind=wire.ERROR),
}


@pytest.mark.parametrize("case", sorted(BAD_ANSWERS))
def test_bad_frames_from_a_server_end_the_call(root, case):
    outcome = []
    with FakeServer(root, BAD_ANSWERS[case]) as server:
        client = Client(server.address, timeout=SHORT)
        call = client.get_many if case.startswith("list") else client.get

        def run():
            try:
                call(["x"] if case.startswith("list") else "x")
                outcome.append("answered")
            except InfoError as e:
                outcome.append(e.code)
        caller = threading.Thread(target=run, daemon=True)
        caller.start()
        caller.join(DEADLINE)
    assert outcome == [300], case


def test_error_reply_of_a_server_carries_its_code(root):
    text = wire.Writer().string(b"Permission denied").payload()
    with FakeServer(root, lambda body: reply(body, struct.pack(">H", 203) + text,
                                             kind=wire.ERROR)) as server:
        with pytest.raises(InfoError) as raised:
            Client(server.address, timeout=SHORT).get("x")
    assert (raised.value.code, raised.value.text) == (203, "Permission denied")


def test_watch_drops_a_connection_that_breaks_the_format(daemon):
    client = Client(daemon.address)
    with client.watch("w.*", enumerate=False, timeout=DEADLINE) as watch:
        path = watch.address[4:watch.address.rfind("#")]
        notification = wire.frame(wire.ONE_WAY, wire.ON_OBJECTS_CHANGED, 0, 1, payload(b"fake"))
        for garbage in (struct.pack(">I", 1 << 30),
                        wire.frame(wire.ONE_WAY, wire.ON_OBJECTS_CHANGED, 0, 1, b"\0\0\0\5"),
                        wire.frame(wire.CALL, wire.ON_OBJECTS_CHANGED, 7, 1, payload(b"x"))):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as peer:
                peer.connect(path)
                peer.sendall(garbage + notification)
        client.set("w.a", "after", volatile=True)
        assert next(watch) == ("changed", b"w.a")
