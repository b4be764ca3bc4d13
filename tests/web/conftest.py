"""Shared support of the tests of infoservice-web: the daemon on a box root of its own (as
tests/integration/DaemonFixture.h starts it), the web program, infoctl and a small HTTP
client. Children are started with their output in files and ended by their own pid; every
wait has a deadline. Only loopback addresses are ever contacted."""

import http.client
import json
import os
import pathlib
import signal
import subprocess
import time

import pytest

BUILD = pathlib.Path(os.environ.get("INFOSERVICE_BINARY_DIR", "build")).resolve()
DEADLINE = 20.0


def wait_until(ready, limit=DEADLINE, interval=0.02):
    end = time.monotonic() + limit
    while True:
        value = ready()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)


class Process:
    """A child with its standard output and error in files of `directory`."""

    def __init__(self, directory, name, argv, env=None):
        self.out = directory / (name + ".out")
        self.err = directory / (name + ".err")
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.popen = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                          env=env)

    def text(self):
        return self.out.read_text(errors="replace") + self.err.read_text(errors="replace")

    def stop(self, sig=signal.SIGTERM):
        if self.popen.poll() is None:
            self.popen.send_signal(sig)
            try:
                self.popen.wait(10)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(10)
        return self.popen.returncode


class Daemon:
    def __init__(self, root):
        self.root = root
        for folder in ("etc", "flash2/information", "tmp2/information", "proc"):
            (root / folder).mkdir(parents=True, exist_ok=True)
        (root / "etc/ial_token_value_dictionary.xml").write_text("<Objects></Objects>\n")
        (root / "proc/cmdline").write_text("console=ttyS0\n")
        self.address = root / "address"
        self.env = dict(os.environ, INFOSERVICE_ROOT=str(root))
        for name in ("INFOSERVICE_ADDRESS", "NAMESERVICE_ADDRESS", "SERVICE_ID"):
            self.env.pop(name, None)
        self.process = Process(root, "infoservice", [
            str(BUILD / "infoservice"), "-s", "-t", "-i", str(self.address),
            "-f", str(root / "flash2/settings.xml"), "-y", "1"], self.env)
        if not wait_until(lambda: self.address.exists() and self.address.stat().st_size > 0):
            raise RuntimeError("the daemon did not start: " + self.process.text())

    def infoctl(self, *args, check=True):
        result = subprocess.run([str(BUILD / "tools/infoctl"), "-i", str(self.address), *args],
                                capture_output=True, env=self.env, timeout=DEADLINE)
        if check and result.returncode != 0:
            raise AssertionError(f"infoctl {args} failed: {result.stderr!r}")
        return result

    def value(self, name):
        """The value as bytes, or None for an unknown object."""
        result = self.infoctl("get", "--json", name, check=False)
        if result.returncode != 0:
            return None
        return json.loads(result.stdout)[name].encode("utf-8", "surrogateescape")


class Web:
    def __init__(self, daemon, directory, *options):
        if "--listen" not in options:
            options = ("--listen", "127.0.0.1:0", *options)
        self.process = Process(directory, "web" + str(time.monotonic_ns()), [
            str(BUILD / "web/infoservice-web"), "-i", str(daemon.address), *options], daemon.env)
        lines = wait_until(lambda: self._lines() if len(self._lines()) >= 2 else None)
        if not lines:
            raise RuntimeError("infoservice-web did not start: " + self.process.text())
        self.port = int(lines[0].rsplit(":", 1)[1].strip("/"))
        self.token = lines[1].split(": ", 1)[1]

    def _lines(self):
        return self.process.out.read_text().splitlines()

    def connect(self, timeout=DEADLINE):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, token=None, headers=None):
        """(status, headers, body) of one request on a connection of its own."""
        connection = self.connect()
        try:
            all_headers = dict(headers or {})
            if token is not None:
                all_headers["Authorization"] = "Bearer " + token
            connection.request(method, path, body=body, headers=all_headers)
            response = connection.getresponse()
            return response.status, response.headers, response.read()
        finally:
            connection.close()

    def stop(self):
        return self.process.stop()


@pytest.fixture(scope="module")
def daemon(tmp_path_factory):
    running = Daemon(tmp_path_factory.mktemp("root"))
    yield running
    running.process.stop(signal.SIGHUP)


@pytest.fixture(scope="module")
def web(daemon, tmp_path_factory):
    server = Web(daemon, tmp_path_factory.mktemp("web"))
    yield server
    assert server.stop() == 0, server.process.text()


def start_web(daemon, directory, *options):
    return Web(daemon, directory, *options)


class EventStream:
    """GET /api/events, read as Server-Sent Events."""

    def __init__(self, web, token=None):
        self.connection = web.connect()
        headers = {"Authorization": "Bearer " + token} if token else {}
        self.connection.request("GET", "/api/events", headers=headers)
        # The connection lets go of its socket once the response says it will close.
        self.sock = self.connection.sock
        self.response = self.connection.getresponse()
        self.status = self.response.status
        self.buffer = b""

    def next(self, limit=DEADLINE):
        """The next data event as a dict; None at the deadline or the stream's end."""
        end = time.monotonic() + limit
        while True:
            cut = self.buffer.find(b"\n\n")
            if cut >= 0:
                block, self.buffer = self.buffer[:cut], self.buffer[cut + 2:]
                for line in block.split(b"\n"):
                    if line.startswith(b"data: "):
                        return json.loads(line[6:])
                continue
            left = end - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                chunk = self.response.read1(65536)
            except (TimeoutError, OSError):
                return None
            if not chunk:
                return None
            self.buffer += chunk

    def next_for(self, name, limit=DEADLINE):
        """The next event about `name`, skipping the others."""
        end = time.monotonic() + limit
        while time.monotonic() < end:
            event = self.next(end - time.monotonic())
            if event is None or event.get("name") == name:
                return event
        return None

    def close(self):
        self.connection.close()
