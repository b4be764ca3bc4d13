"""Client and Watch: the information service's operations over its own IPC, without the C
library. See the package's docstring for the contract."""

import collections
import itertools
import os
import selectors
import socket
import threading
import time

from . import wire

UNKNOWN_OBJECT = 201  # also: a malformed request (an empty expression, an invalid address)
STORAGE_LIMIT = 202
PERMISSION_DENIED = 203
FILE_FAILURE = 207
UNREACHABLE = 300  # the daemon could not be found, reached, or did not answer properly
INVALID_ARGUMENT = 301  # refused by this library before anything was sent

PERMANENT, VOLATILE = 0, 1
DEFAULT_TIMEOUT = 5.0

# A read of at most this many bytes per readiness, as the daemon's runtime does.
_CHUNK = 64 * 1024
# Connections a watch serves at once; the daemon needs one.
_MAX_WATCH_CONNECTIONS = 16
# Events a watch holds before it stops reading its socket until they are taken.
_MAX_PENDING_EVENTS = 65536
# A dump's end: after its marker, or after this long without a notification.
_DUMP_QUIET = 1.0
_DUMP_LIMIT = 60.0


class InfoError(Exception):
    """A failed request: .code and .text, the service's own (201, 202, 203, 207) or the
    library's (UNREACHABLE 300, INVALID_ARGUMENT 301)."""

    def __init__(self, code, text):
        super().__init__("error %d: %s" % (code, text))
        self.code = code
        self.text = text


def _bytes(value, what="name"):
    if isinstance(value, str):
        return value.encode("utf-8")
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise InfoError(INVALID_ARGUMENT, "%s must be bytes or str, not %s" % (what, type(value).__name__))


def _storage(volatile):
    return VOLATILE if volatile else PERMANENT


def _runtime_directory():
    """Where servers put their sockets: the box's /tmp/infoservice-ipc under $INFOSERVICE_ROOT."""
    root = os.environ.get("INFOSERVICE_ROOT", "").rstrip("/")
    return root + "/tmp/infoservice-ipc"


def _receive_exactly(sock, size, deadline):
    """size bytes from sock, or ProtocolError / socket.timeout; the deadline bounds the
    whole read, so a peer trickling bytes cannot stretch it."""
    parts = []
    while size > 0:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise socket.timeout("no complete answer in time")
        sock.settimeout(remaining)
        chunk = sock.recv(min(size, _CHUNK))
        if not chunk:
            raise wire.ProtocolError("connection closed by the peer")
        parts.append(chunk)
        size -= len(chunk)
    return b"".join(parts)


class _Connection:
    """One connection to a served object's socket; calls one at a time."""

    def __init__(self, path):
        self.path = path
        self.sock = None
        self.next_call_id = 1

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def call(self, object_id, operation, payload, timeout):
        deadline = time.monotonic() + timeout
        try:
            if self.sock is None:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.settimeout(timeout)
                self.sock.connect(self.path)
            call_id = self.next_call_id
            self.next_call_id = self.next_call_id % 0xFFFFFFFF + 1
            self.sock.settimeout(max(deadline - time.monotonic(), 0.001))
            self.sock.sendall(wire.frame(wire.CALL, operation, call_id, object_id, payload))
            length = wire.body_length(_receive_exactly(self.sock, wire.LENGTH_SIZE, deadline))
            body = _receive_exactly(self.sock, length, deadline)
            kind, _, answered, _ = wire.parse_header(body)
            if kind not in (wire.REPLY, wire.ERROR) or answered != call_id:
                raise wire.ProtocolError("an answer to another call")
            reader = wire.Reader(body[wire.HEADER_SIZE:])
            if kind == wire.ERROR:
                code, text = reader.code(), reader.string()
                reader.end()
                raise InfoError(code, text.decode("utf-8", "replace"))
            return reader
        except InfoError:
            raise
        except (OSError, wire.ProtocolError) as e:
            # A late or garbled answer must never be taken for the next call's.
            self.close()
            raise InfoError(UNREACHABLE, "cannot reach the information service at '%s': %s"
                            % (self.path, e)) from None


class Client:
    """The information service, found like infoctl finds it: address ("ipc:/...sock#N"),
    else the file address_file (what `infoservice -i` writes), else $INFOSERVICE_ADDRESS, else
    "InformationService" looked up at the name service $NAMESERVICE_ADDRESS. Nothing is
    contacted before the first request. Every wait is bounded by timeout (seconds). One
    client may be used from several threads; its calls take turns."""

    def __init__(self, address=None, address_file=None, timeout=DEFAULT_TIMEOUT):
        if address_file is not None and address is None:
            try:
                with open(address_file, "rb") as f:
                    address = f.read(4096).strip().decode("ascii", "replace")
            except OSError as e:
                raise InfoError(UNREACHABLE, "cannot read address file '%s': %s"
                                % (address_file, e)) from None
        self._address = address or None
        self.timeout = timeout
        self._lock = threading.Lock()
        self._connections = {}

    # --- plumbing ---

    def address(self):
        """The daemon's address, looked up first when none was given."""
        if self._address:
            return self._address
        given = os.environ.get("INFOSERVICE_ADDRESS")
        if given:
            self._address = given
            return given
        name_service = os.environ.get("NAMESERVICE_ADDRESS")
        if not name_service:
            raise InfoError(UNREACHABLE, "no daemon address: give one, or set "
                            "INFOSERVICE_ADDRESS or NAMESERVICE_ADDRESS")
        try:
            reader = self._call(name_service, wire.LOOKUP_OBJECT,
                                wire.Writer().string(b"InformationService"))
        except InfoError as e:
            raise InfoError(UNREACHABLE, "cannot look up InformationService at the name "
                            "service '%s': %s" % (name_service, e.text)) from None
        found = reader.string()
        reader.end()
        self._address = found.decode("ascii", "replace")
        return self._address

    def _call(self, address, operation, writer):
        try:
            path, object_id = wire.parse_address(address)
        except wire.ProtocolError as e:
            raise InfoError(UNREACHABLE, str(e)) from None
        connection = self._connections.setdefault(path, _Connection(path))
        return connection.call(object_id, operation, writer.payload(), self.timeout)

    def _service(self, operation, writer, results=lambda reader: None):
        with self._lock:
            reader = self._call(self.address(), operation, writer)
            try:
                value = results(reader)
                reader.end()
            except wire.ProtocolError as e:
                for connection in self._connections.values():
                    connection.close()
                raise InfoError(UNREACHABLE, "bad answer from the information service: %s"
                                % e) from None
            return value

    def close(self):
        with self._lock:
            for connection in self._connections.values():
                connection.close()
            self._connections.clear()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- the operations ---

    def get(self, name):
        return self._service(wire.GET_OBJECT, wire.Writer().string(_bytes(name)),
                             lambda r: r.string())

    def get_many(self, names):
        """The values in the order of the names; one unknown name fails it all (201)."""
        names = [_bytes(n) for n in names]
        values = self._service(wire.GET_OBJECTS, wire.Writer().strings(names),
                               lambda r: r.strings())
        if len(values) != len(names):
            raise InfoError(UNREACHABLE, "%d values answered for %d names"
                            % (len(values), len(names)))
        return values

    def set(self, name, value, volatile=False):
        self._service(wire.SET_OBJECT, wire.Writer().string(_bytes(name))
                      .string(_bytes(value, "value")).int(_storage(volatile)))

    def set_many(self, pairs, volatile=False):
        """pairs: a mapping or (name, value) pairs, set in one request in that order."""
        if hasattr(pairs, "items"):
            pairs = pairs.items()
        pairs = [(_bytes(n), _bytes(v, "value")) for n, v in pairs]
        self._service(wire.SET_OBJECTS, wire.Writer().strings([n for n, _ in pairs])
                      .strings([v for _, v in pairs]).ints([_storage(volatile)] * len(pairs)))

    def unset(self, name, volatile=False):
        self._service(wire.UNSET_OBJECT,
                      wire.Writer().string(_bytes(name)).int(_storage(volatile)))

    def unset_many(self, names, volatile=False):
        names = [_bytes(n) for n in names]
        self._service(wire.UNSET_OBJECTS,
                      wire.Writer().strings(names).ints([_storage(volatile)] * len(names)))

    def get_to_file(self, name, file_name):
        """The daemon writes the value into the file, which must exist. The name is made
        absolute here, since the daemon opens it from its own working directory."""
        self._service(wire.GET_OBJECT_TO_FILE, wire.Writer().string(_bytes(name))
                      .string(_bytes(os.path.abspath(file_name), "file name")))

    def set_from_file(self, name, file_name, volatile=False):
        self._service(wire.SET_OBJECT_FROM_FILE, wire.Writer().string(_bytes(name))
                      .string(_bytes(os.path.abspath(file_name), "file name"))
                      .int(_storage(volatile)))

    def _subscribe(self, expressions, address, enumerate):
        self._service(wire.SUBSCRIBE_OBJECTS2, wire.Writer().strings(expressions).int(0)
                      .string(address.encode("ascii")).bool(enumerate))

    def _unsubscribe_all(self, address):
        self._service(wire.UNSUBSCRIBE_ALL_OBJECTS,
                      wire.Writer().string(address.encode("ascii")))

    def watch(self, *expressions, enumerate=True, timeout=None):
        """A Watch: iterate it for ("changed" | "removed", name) per notification, first
        ("changed", name) for every present match unless enumerate is false. Iteration waits
        at most timeout seconds for an event (None: for ever) and then ends."""
        return Watch(self, [_bytes(e, "expression") for e in expressions], enumerate, timeout)

    def dump(self, expression="*"):
        """{name: value} of the visible objects matching the expression, sorted by name;
        objects that vanish while the dump runs are left out."""
        names = _list(self, _bytes(expression, "expression"))
        if not names:
            return {}
        try:
            return dict(zip(names, self.get_many(names)))
        except InfoError as e:
            if e.code != UNKNOWN_OBJECT:
                raise
        objects = {}
        for name in names:
            try:
                objects[name] = self.get(name)
            except InfoError as e:
                if e.code != UNKNOWN_OBJECT:
                    raise
        return objects


class _ObserverServer:
    """A socket in the runtime directory that serves information observers: it takes the
    daemon's one-way OnObjectsChanged / OnObjectsRemoved calls for its object numbers and
    queues (object, event, name). Other one-way calls are dropped; a connection that breaks
    the format or sends a call is closed, as the daemon's runtime closes one."""

    _numbers = itertools.count(1 << 20)

    def __init__(self):
        directory = _runtime_directory()
        os.makedirs(directory, mode=0o770, exist_ok=True)
        self.path = "%s/s%d-%d.sock" % (directory, os.getpid(), next(self._numbers))
        if len(self.path) > 107:
            raise InfoError(INVALID_ARGUMENT, "socket path too long: " + self.path)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            os.unlink(self.path)  # left by a dead process that had our pid
        except FileNotFoundError:
            pass
        self.listener.bind(self.path)
        os.chmod(self.path, 0o660)
        self.listener.listen(16)
        self.listener.setblocking(False)
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.listener, selectors.EVENT_READ, None)
        self.buffers = {}
        self.events = collections.deque()

    def address(self, object_id):
        return "ipc:%s#%d" % (self.path, object_id)

    def close(self):
        for sock in list(self.buffers):
            self._drop(sock)
        self.selector.close()
        self.listener.close()
        try:
            os.unlink(self.path)
        except OSError:
            pass

    def _drop(self, sock):
        self.selector.unregister(sock)
        del self.buffers[sock]
        sock.close()

    def serve(self, timeout):
        """Waits at most timeout seconds (None: for ever) for readiness and takes what
        arrived; True when events are queued."""
        if len(self.events) >= _MAX_PENDING_EVENTS:
            return True
        for key, _ in self.selector.select(timeout):
            if key.fileobj is self.listener:
                self._accept()
            else:
                self._read(key.fileobj)
        return bool(self.events)

    def _accept(self):
        try:
            sock, _ = self.listener.accept()
        except OSError:
            return
        if len(self.buffers) >= _MAX_WATCH_CONNECTIONS:
            sock.close()
            return
        sock.setblocking(False)
        self.buffers[sock] = bytearray()
        self.selector.register(sock, selectors.EVENT_READ, None)

    def _read(self, sock):
        try:
            chunk = sock.recv(_CHUNK)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            chunk = b""
        if not chunk:
            self._drop(sock)
            return
        buffer = self.buffers[sock]
        buffer += chunk
        try:
            while len(buffer) >= wire.LENGTH_SIZE:
                length = wire.body_length(bytes(buffer[:wire.LENGTH_SIZE]))
                if len(buffer) < wire.LENGTH_SIZE + length:
                    break
                body = bytes(buffer[wire.LENGTH_SIZE:wire.LENGTH_SIZE + length])
                del buffer[:wire.LENGTH_SIZE + length]
                self._serve_frame(body)
        except wire.ProtocolError:
            self._drop(sock)

    def _serve_frame(self, body):
        kind, operation, _, object_id = wire.parse_header(body)
        if kind != wire.ONE_WAY:
            raise wire.ProtocolError("only notifications are served here")
        if operation not in (wire.ON_OBJECTS_CHANGED, wire.ON_OBJECTS_REMOVED):
            return  # a one-way call is never answered, not even to refuse it
        reader = wire.Reader(body[wire.HEADER_SIZE:])
        names = reader.strings()
        reader.end()
        event = "changed" if operation == wire.ON_OBJECTS_CHANGED else "removed"
        for name in names:
            self.events.append((object_id, event, name))


class Watch:
    """A subscription served on a socket of its own; see Client.watch. close() (or the end
    of a with block) ends the subscription at the daemon and removes the socket."""

    def __init__(self, client, expressions, enumerate, timeout):
        self._client = client
        self.timeout = timeout
        self._server = _ObserverServer()
        self.address = self._server.address(1)
        try:
            client._subscribe(expressions, self.address, enumerate)
        except BaseException:
            self.close()
            raise

    def next_event(self, timeout=None):
        """The next (event, name), or None when none came within timeout seconds."""
        if self._server is None:
            return None
        deadline = None if timeout is None else time.monotonic() + timeout
        while not self._server.events:
            remaining = None if deadline is None else deadline - time.monotonic()
            if remaining is not None and remaining <= 0:
                return None
            self._server.serve(remaining)
        _, event, name = self._server.events.popleft()
        return event, name

    def __iter__(self):
        return self

    def __next__(self):
        event = self.next_event(self.timeout)
        if event is None:
            raise StopIteration
        return event

    def close(self):
        if self._server is None:
            return
        try:
            self._client._unsubscribe_all(self.address)
        except InfoError:
            pass  # the daemon may be gone
        self._server.close()
        self._server = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_server", None) is not None:
            self._server.close()


def _list(client, expression):
    """The names of the visible objects matching expression, sorted. The daemon has no
    listing operation: an enumerating subscription delivers the names, and the subscribe
    call returns once they were sent. Since the daemon keeps one connection per peer
    socket, a second enumerating subscription on the same socket (object 2) of a name known
    to exist, else of the expression again, answers after every name of the first: its
    first notification ends the listing. When nothing matches, silence ends it."""
    server = _ObserverServer()
    main, marker = server.address(1), server.address(2)
    names = set()

    def take():
        done = False
        while server.events:
            object_id, event, name = server.events.popleft()
            if object_id == 2:
                done = True
            elif event == "changed":
                names.add(name)
            else:
                names.discard(name)
        return done

    try:
        client._subscribe([expression], main, True)
        server.serve(0)
        take()
        known = min(names) if names else expression
        client._subscribe([known], marker, True)
        limit = time.monotonic() + _DUMP_LIMIT
        quiet_until = time.monotonic() + _DUMP_QUIET
        done = False
        while not done:
            now = time.monotonic()
            if now >= limit:
                raise InfoError(UNREACHABLE, "the listing of objects did not end")
            if now >= quiet_until:
                break
            if server.serve(min(limit, quiet_until) - now):
                quiet_until = time.monotonic() + _DUMP_QUIET
            done = take()
    finally:
        for address in (main, marker):
            try:
                client._unsubscribe_all(address)
            except InfoError:
                pass
        server.close()
    return sorted(names)
