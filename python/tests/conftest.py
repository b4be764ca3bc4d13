"""The real daemon for the tests: built by CMake (INFOSERVICE_BINARY_DIR, else ../build),
started in standalone host mode (-s -t) on a temporary root of its own, stopped by its pid."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

BINARY_DIR = os.environ.get("INFOSERVICE_BINARY_DIR") or os.path.join(HERE, "..", "..", "build")
DEADLINE = 20.0

DEFAULTS = b"""<Objects>
  <Object><Name>w.a</Name><Value>1</Value></Object>
  <Object><Name>w.b</Name><Value>2</Value></Object>
</Objects>
"""


def wait_until(ready, limit=DEADLINE):
    end = time.monotonic() + limit
    while not ready():
        if time.monotonic() >= end:
            return False
        time.sleep(0.005)
    return True


class Daemon:
    def __init__(self, root):
        self.root = root
        self.address_file = os.path.join(root, "infoservice.address")
        for folder in ("etc", "flash2/information", "tmp2/information", "proc", "work"):
            os.makedirs(os.path.join(root, folder))
        with open(os.path.join(root, "etc/ial_token_value_dictionary.xml"), "wb") as f:
            f.write(b"<Objects></Objects>\n")
        with open(os.path.join(root, "proc/cmdline"), "wb") as f:
            f.write(b"console=ttyS0\n")
        with open(self.file("defaults.xml"), "wb") as f:
            f.write(DEFAULTS)
        self.environment = dict(os.environ, INFOSERVICE_ROOT=root)
        for name in ("INFOSERVICE_ADDRESS", "NAMESERVICE_ADDRESS", "SERVICE_ID"):
            self.environment.pop(name, None)
        self.log = open(self.file("daemon.log"), "wb")
        self.process = subprocess.Popen(
            [self.program("infoservice"), "-s", "-t", "-i", self.address_file,
             "-d", self.file("defaults.xml")],
            env=self.environment, stdout=self.log, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL)
        if not wait_until(lambda: self.read_address() or self.process.poll() is not None):
            raise RuntimeError("the daemon did not start")
        self.address = self.read_address()
        if not self.address:
            raise RuntimeError("the daemon ended at start-up")

    @staticmethod
    def program(name):
        for folder in ("tools", ""):
            path = os.path.join(BINARY_DIR, folder, name)
            if os.access(path, os.X_OK):
                return path
        pytest.skip("program not built: " + name)

    def file(self, name):
        return os.path.join(self.root, "work", name)

    def read_address(self):
        try:
            with open(self.address_file) as f:
                return f.read().strip()
        except OSError:
            return ""

    def infoctl(self, *arguments):
        """infoctl -i <address file> ARGUMENTS, run to its end: (status, stdout, stderr)."""
        done = subprocess.run([self.program("infoctl"), "-i", self.address_file, *arguments],
                              env=self.environment, capture_output=True, timeout=DEADLINE)
        return done.returncode, done.stdout, done.stderr

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGHUP)
            try:
                self.process.wait(timeout=DEADLINE)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=DEADLINE)
        self.log.close()


@pytest.fixture
def root(monkeypatch):
    # Short: socket paths under it must fit 107 bytes.
    path = tempfile.mkdtemp(prefix="is-py-")
    monkeypatch.setenv("INFOSERVICE_ROOT", path)
    for name in ("INFOSERVICE_ADDRESS", "NAMESERVICE_ADDRESS"):
        monkeypatch.delenv(name, raising=False)
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def daemon(root):
    started = Daemon(root)
    yield started
    started.stop()
