"""A Python client of the set-top box information service, for test automation.

Pure standard library: it speaks the service's IPC wire format (docs/ipc.md) itself.

    from infoservice import Client, InfoError

    client = Client()                      # $INFOSERVICE_ADDRESS, else the name service
    print(client.get("cfg.locale.ui"))     # b'sv-SE'
    client.set("var.demo", "hello", volatile=True)
    with client.watch("var.*", timeout=5) as watch:
        for event, name in watch:          # ("changed", b"var.demo"), ...
            print(event, name)
    try:
        client.get("no.such.object")
    except InfoError as e:
        print(e.code, e.text)              # 201 Unknown object

Names and values are bytes; str is accepted and sent as UTF-8. Errors raise InfoError with
.code and .text: the service's codes (201 unknown object or malformed request, 202 storage
limit, 203 permission denied, 207 file failure), UNREACHABLE (300) when the daemon cannot be
found, reached, does not answer in time or answers with a broken frame, INVALID_ARGUMENT (301)
for what this library refuses itself.
"""

from .client import (DEFAULT_TIMEOUT, FILE_FAILURE, INVALID_ARGUMENT, PERMANENT,
                     PERMISSION_DENIED, STORAGE_LIMIT, UNKNOWN_OBJECT, UNREACHABLE, VOLATILE,
                     Client, InfoError, Watch)

__all__ = ["Client", "InfoError", "Watch", "DEFAULT_TIMEOUT", "UNKNOWN_OBJECT",
           "STORAGE_LIMIT", "PERMISSION_DENIED", "FILE_FAILURE", "UNREACHABLE",
           "INVALID_ARGUMENT", "PERMANENT", "VOLATILE"]
