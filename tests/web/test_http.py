"""infoservice-web over HTTP against a real daemon: the endpoints, the token rules, the bounds,
and values that hold markup or bytes that are not UTF-8 coming back as text."""

import http.client
import json
import socket
import time

from conftest import DEADLINE, EventStream, start_web, wait_until

MARKUP = "<script>alert(1)</script>"


def test_objects_are_the_json_of_infoctl_dump(daemon, web):
    daemon.infoctl("set", "-v", "var.t.markup", MARKUP, "var.t.latin", b"caf\xe9", "var.t.nl", "a\nb")
    status, headers, body = web.request("GET", "/api/objects?expr=var.t.*")
    assert status == 200 and headers["Content-Type"].startswith("application/json")
    assert body.decode() == daemon.infoctl("dump", "--json", "var.t.*").stdout.decode().strip()
    objects = json.loads(body)
    assert objects["var.t.markup"] == MARKUP
    assert objects["var.t.latin"].encode("utf-8", "surrogateescape") == b"caf\xe9"
    assert "script-src 'self'" in headers["Content-Security-Policy"]
    assert "unsafe" not in headers["Content-Security-Policy"]
    assert headers["X-Content-Type-Options"] == "nosniff"

    status, _, body = web.request("GET", "/api/objects?expr=")
    assert status == 400 and json.loads(body)["error"] == 201


def test_events_carry_changes_as_text(daemon, web):
    stream = EventStream(web)
    try:
        assert stream.status == 200
        daemon.infoctl("set", "-v", "var.e", "<img src=x onerror=alert(1)>")
        event = stream.next_for("var.e")
        assert event == {"event": "changed", "name": "var.e",
                         "value": "<img src=x onerror=alert(1)>", "size": 28}
        daemon.infoctl("set", "-v", "var.e", b"\xff\xfe")
        assert stream.next_for("var.e")["value"] == "\udcff\udcfe"
        daemon.infoctl("unset", "-v", "var.e")
        assert stream.next_for("var.e") == {"event": "removed", "name": "var.e"}
        # A long value travels cut short, with its size; the page loads the rest on request.
        daemon.infoctl("set", "-v", "var.e", "x" * 10000)
        event = stream.next_for("var.e")
        assert event["truncated"] and event["size"] == 10000 and len(event["value"]) == 4096
    finally:
        stream.close()


def test_writes_need_the_token_and_reach_the_daemon(daemon, web):
    path = "/api/objects/var.w"
    wrong = "0" * len(web.token)
    for token in (None, wrong, web.token + "x"):
        status, headers, _ = web.request("PUT", path, b"no", token=token)
        assert status == 401 and headers["WWW-Authenticate"] == "Bearer"
    assert daemon.value("var.w") is None

    assert web.request("PUT", path, b"\x00\xff<b>", token=web.token)[0] == 204
    assert daemon.value("var.w") == b"\x00\xff<b>"
    assert web.request("PUT", path + "?storage=volatile", b"v", token=web.token)[0] == 204
    assert daemon.value("var.w") == b"v"
    assert web.request("DELETE", path + "?storage=volatile", token=web.token)[0] == 204
    assert daemon.value("var.w") == b"\x00\xff<b>"
    assert web.request("DELETE", path, token=web.token)[0] == 204
    assert daemon.value("var.w") is None

    # The page sends names percent-encoded.
    assert web.request("PUT", "/api/objects/var.w%3Cq%3E%20r", b"1", token=web.token)[0] == 204
    assert daemon.value("var.w<q> r") == b"1"
    assert web.request("PUT", path + "?storage=flash", b"x", token=web.token)[0] == 400
    assert web.request("DELETE", path, token=None)[0] == 401
    assert web.request("POST", "/api/objects", b"x", token=web.token)[0] == 405
    # A refusal of the daemon: the environment objects hold at most 4096 bytes.
    status, _, body = web.request("PUT", "/api/objects/_env.trusted.0", b"x" * 5000,
                                  token=web.token)
    assert status == 507 and json.loads(body)["error"] == 202 and json.loads(body)["text"]


def test_read_only_and_token_for_reading_off_loopback(daemon, tmp_path):
    read_only = start_web(daemon, tmp_path, "--read-only")
    try:
        assert read_only.request("PUT", "/api/objects/var.r", b"x", token=read_only.token)[0] == 403
        assert read_only.request("GET", "/api/objects?expr=var.*")[0] == 200
        assert json.loads(read_only.request("GET", "/api/config")[2])["readOnly"] is True
    finally:
        assert read_only.stop() == 0

    token_file = tmp_path / "token"
    token_file.write_text("a-secret-of-ours\n")
    # Listening on every address makes the server demand the token for reading; the test
    # talks to it over loopback only.
    open_server = start_web(daemon, tmp_path, "--listen", "0.0.0.0:0", "--token-file",
                            str(token_file))
    try:
        assert open_server.token == "from " + str(token_file)
        token = "a-secret-of-ours"
        for path in ("/api/objects", "/api/stats", "/api/events"):
            assert open_server.request("GET", path)[0] == 401
        assert open_server.request("GET", "/api/objects", token=token)[0] == 200
        assert open_server.request("GET", "/")[0] == 200
        assert open_server.request("PUT", "/api/objects/var.o", b"o", token=token)[0] == 204
        assert daemon.value("var.o") == b"o"
        # Any Host is fine here: the token guards everything.
        assert open_server.request("GET", "/api/objects", token=token,
                                   headers={"Host": "box.example"})[0] == 200
    finally:
        assert open_server.stop() == 0


def test_loopback_server_refuses_foreign_host_names(web):
    # A site of the attacker's that resolves its own name to 127.0.0.1 reaches the server
    # with that name in Host.
    assert web.request("GET", "/api/objects", headers={"Host": "attacker.example"})[0] == 403
    for host in (f"localhost:{web.port}", f"127.0.0.1:{web.port}", "127.1.2.3"):
        assert web.request("GET", "/api/config", headers={"Host": host})[0] == 200


def test_headers_and_bodies_are_bounded(daemon, web):
    status, _, _ = web.request("GET", "/api/config", headers={"X-Big": "a" * 40000})
    assert status in (413, 431)
    # Refused from the declared length before any body is sent; without one, the connection
    # is closed as soon as the chunks grow past the bound.
    for chunked in (False, True):
        connection = web.connect()
        try:
            connection.putrequest("PUT", "/api/objects/var.big")
            connection.putheader("Authorization", "Bearer " + web.token)
            if chunked:
                connection.putheader("Transfer-Encoding", "chunked")
            else:
                connection.putheader("Content-Length", str(1024 * 1024 + 1))
            connection.endheaders()
            try:
                for _ in range(chunked and 40 or 0):
                    connection.send(b"10000\r\n" + b"x" * 65536 + b"\r\n")
            except OSError:
                pass
            if chunked:
                try:
                    assert connection.getresponse().status == 413
                except (http.client.RemoteDisconnected, ConnectionResetError):
                    pass
            else:
                assert connection.getresponse().status == 413
        finally:
            connection.close()
    assert daemon.value("var.big") is None
    assert web.request("GET", "/api/config")[0] == 200


def open_silent_stream(web):
    """An event stream whose reader never reads, with a receive buffer as small as it gets."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.settimeout(DEADLINE)
    sock.connect(("127.0.0.1", web.port))
    sock.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    head = sock.recv(12)
    return sock, head


def test_event_streams_are_bounded_and_silent_readers_dropped(daemon, web):
    streams = [open_silent_stream(web) for _ in range(16)]
    try:
        assert all(head == b"HTTP/1.1 200" for _, head in streams)
        refused = EventStream(web)
        assert refused.status == 503
        refused.close()

        # 200 changes of 4 KiB each travel as about 5 MB of events per stream: far more than
        # a stream may hold for a reader that does not read.
        value = b"\xff" * 4096
        for i in range(200):
            assert web.request("PUT", f"/api/objects/var.flood.{i}?storage=volatile", value,
                               token=web.token)[0] == 204
        assert daemon.value("var.flood.199") == value

        def slot_free():
            stream = EventStream(web)
            stream.close()
            return stream.status == 200

        # Sooner than the general connection timeout (30 s) could end them.
        assert wait_until(slot_free, limit=20, interval=0.5)
    finally:
        for sock, _ in streams:
            sock.close()
