"""The IPC wire format of the information service (docs/ipc.md), written from the document.

A frame is a 4-byte big-endian length of the rest, then a 12-byte header and the payload:

    offset size field
    0      4    length: 12 + payload, at most 16 MiB
    4      1    version, 1
    5      1    kind: 1 call, 2 one-way call, 3 reply, 4 error reply
    6      2    operation (calls: 1 and up; replies: 0)
    8      4    call id (calls and their replies; 0 for one-way calls)
    12     4    object number (calls: 1 and up; replies: 0)

Payload values are big-endian: int 4 bytes two's complement, bool 1 byte 0 or 1, string a
4-byte unsigned length and the bytes, list a 4-byte count and the elements. An error reply
holds a 2-byte unsigned code and a string.

Decoding is strict, as the daemon's: a bad length, version or kind, header fields that do not
fit the kind, a value that runs past the payload, a bool other than 0 or 1, a list count above
65536 or above what the remaining bytes could hold, and bytes left over all raise
ProtocolError. Nothing is allocated for a frame before its length was checked.
"""

import struct

VERSION = 1
CALL, ONE_WAY, REPLY, ERROR = 1, 2, 3, 4

LENGTH_SIZE = 4
HEADER_SIZE = 12
MAX_FRAME_BODY = 16 * 1024 * 1024
MAX_LIST_ELEMENTS = 65536

_HEADER = struct.Struct(">IBBHII")
_UINT32 = struct.Struct(">I")
_INT32 = struct.Struct(">i")
_UINT16 = struct.Struct(">H")

# Operation numbers: the position in each interface's list plus one.
GET_OBJECT = 1
GET_OBJECTS = 2
GET_OBJECT_TO_FILE = 3
SET_OBJECT = 4
SET_OBJECTS = 5
SET_OBJECT_FROM_FILE = 6
UNSET_OBJECT = 7
UNSET_OBJECTS = 8
SUBSCRIBE_OBJECTS2 = 12
UNSUBSCRIBE_ALL_OBJECTS = 15
LOOKUP_OBJECT = 2  # of the name service
ON_OBJECTS_CHANGED = 1  # of an information observer
ON_OBJECTS_REMOVED = 2


class ProtocolError(Exception):
    """A peer sent something the wire format does not allow."""


class Writer:
    """Builds a payload."""

    def __init__(self):
        self._parts = []

    def int(self, value):
        self._parts.append(_INT32.pack(value))
        return self

    def bool(self, value):
        self._parts.append(b"\x01" if value else b"\x00")
        return self

    def string(self, value):
        self._parts.append(_UINT32.pack(len(value)))
        self._parts.append(value)
        return self

    def strings(self, values):
        self._parts.append(_UINT32.pack(len(values)))
        for value in values:
            self.string(value)
        return self

    def ints(self, values):
        self._parts.append(_UINT32.pack(len(values)))
        for value in values:
            self.int(value)
        return self

    def payload(self):
        return b"".join(self._parts)


class Reader:
    """Reads a payload strictly."""

    def __init__(self, payload):
        self._data = memoryview(payload)
        self._offset = 0

    def _take(self, size):
        if size > len(self._data) - self._offset:
            raise ProtocolError("payload truncated")
        start = self._offset
        self._offset += size
        return self._data[start:self._offset]

    def uint32(self):
        return _UINT32.unpack(self._take(4))[0]

    def int(self):
        return _INT32.unpack(self._take(4))[0]

    def code(self):
        return _UINT16.unpack(self._take(2))[0]

    def bool(self):
        byte = self._take(1)[0]
        if byte > 1:
            raise ProtocolError("bool not 0 or 1")
        return byte == 1

    def string(self):
        return bytes(self._take(self.uint32()))

    def strings(self):
        count = self.uint32()
        # Each string takes at least its 4-byte length.
        if count > MAX_LIST_ELEMENTS or count > (len(self._data) - self._offset) // 4:
            raise ProtocolError("list count %d exceeds the payload" % count)
        return [self.string() for _ in range(count)]

    def end(self):
        if self._offset != len(self._data):
            raise ProtocolError("trailing bytes after the values")


def frame(kind, operation, call_id, object_id, payload):
    """The bytes of one frame."""
    if len(payload) > MAX_FRAME_BODY - HEADER_SIZE:
        raise ProtocolError("payload of %d bytes exceeds the frame limit" % len(payload))
    return _HEADER.pack(HEADER_SIZE + len(payload), VERSION, kind, operation, call_id,
                        object_id) + payload


def body_length(prefix):
    """The length field of a frame from its first 4 bytes, checked before anything is read."""
    length = _UINT32.unpack(prefix)[0]
    if length < HEADER_SIZE:
        raise ProtocolError("frame length %d below the header size" % length)
    if length > MAX_FRAME_BODY:
        raise ProtocolError("frame length %d above the limit" % length)
    return length


def parse_header(body):
    """(kind, operation, call id, object number) of a frame body (the bytes after the
    length), checked against the kind."""
    version, kind, operation, call_id, object_id = struct.unpack_from(">BBHII", body)
    if version != VERSION:
        raise ProtocolError("unknown version %d" % version)
    if kind == CALL:
        ok = operation != 0 and object_id != 0
    elif kind == ONE_WAY:
        ok = operation != 0 and object_id != 0 and call_id == 0
    elif kind in (REPLY, ERROR):
        ok = operation == 0 and object_id == 0
    else:
        raise ProtocolError("unknown frame kind %d" % kind)
    if not ok:
        raise ProtocolError("header fields do not fit frame kind %d" % kind)
    return kind, operation, call_id, object_id


def parse_address(address):
    """(socket path, object number) of an address "ipc:<path>#<number>"; ProtocolError when
    it is not one the runtime makes: an absolute path of printable ASCII without "#", ending
    in ".sock", at most 107 bytes; a number 1 to 4294967295 without leading zeros."""
    if isinstance(address, bytes):
        address = address.decode("ascii", "replace")
    hash_at = address.rfind("#")
    path, number = address[4:hash_at], address[hash_at + 1:]
    valid = (address.startswith("ipc:") and hash_at >= 4 and 5 < len(path) <= 107
             and path.startswith("/") and path.endswith(".sock")
             and all(" " <= c <= "~" and c != "#" for c in path)
             and number.isdigit() and number.isascii() and len(number) <= 10
             and not number.startswith("0") and int(number) <= 0xFFFFFFFF)
    if not valid:
        raise ProtocolError("not an IPC address: %r" % address)
    return path, int(number)
