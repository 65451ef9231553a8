"""Offices that reach the internet through a proxy: the updater follows the
user's Internet Options (a manual proxy and its bypass list, a PAC script,
WPAD) or the machine's setting to a real squid, checks the pin inside the
tunnel, takes the package and its ranges through it, and ends a start that
cannot reach the server with its box within seconds.

The proxy updater asks for a host that only squid can resolve: whatever
reaches the server from it went through the proxy."""

import contextlib
import os
import socket
import time

import pytest

import harness
import proxy_harness
from conftest import (CHECK_PREFIX, NEW_APPLICATION, PACKAGE_PATH, PORT, SERVER_FAILURE_TEXT, UPDATER,
                      assert_installed, assert_nothing_installed, check_requests, expect_server_failure, key, offer,
                      package, package_requests, sha256, test_server)
from proxy_harness import PROXY_HOST, connection_settings, machine_settings, relay, web_folder
from test_delta import OLD_FILES, assert_installed_exactly, offer_over_previous, release

PROXY_UPDATER = harness.BUILD_DIR / "proxy" / "nirva_updater.exe"
TUNNEL = ("TCP_TUNNEL/200", "CONNECT", f"{PROXY_HOST}:{PORT}")
MIB = 1 << 20


@pytest.fixture(scope="module")
def squid():
    with proxy_harness.squid() as running:
        yield running


@pytest.fixture
def proxy(squid):
    """The module's squid, its log read from this test on."""
    squid.forget()
    return squid


@pytest.fixture
def settings(office):
    """Writes proxy settings into the prefix; afterwards Wine's default returns."""
    written = set()

    def write(where_and_data):
        proxy_harness.write_setting(harness.WINE_RUN, office.env(), *where_and_data)
        written.add(where_and_data[0])

    yield write
    for where in written:
        proxy_harness.write_setting(harness.WINE_RUN, office.env(), where)


def offer_update(office, server):
    office.install_application("1234")
    offer(server, mandatory=True, sha256_text=sha256(package()))


def assert_updated(office, server):
    assert_installed(office)
    assert [request["path"] for request in server.requests] == [CHECK_PREFIX + "1.2.3.4", PACKAGE_PATH]


@pytest.mark.parametrize("route", ["manual", "pac", "bypass", "machine"])
def test_the_update_takes_the_route_the_office_is_set_up_with(office, server, proxy, settings, tmp_path, route):
    offer_update(office, server)
    (tmp_path / "proxy.pac").write_text('function FindProxyForURL(url, host) {\n'
                                        f'  return host == "{PROXY_HOST}" ? "PROXY {proxy.address()}; DIRECT" : '
                                        '"DIRECT";\n}\n')
    with web_folder(tmp_path) as (pac_port, asked):
        settings({
            "manual": connection_settings(proxy=f"http=web:80;https={proxy.address()}", bypass="<local>;*.example"),
            "pac": connection_settings(pac_url=f"http://127.0.0.1:{pac_port}/proxy.pac", auto_detect=True),
            # The same proxy, but the list names the server: no proxy for it.
            "bypass": connection_settings(proxy=proxy.address(), bypass="<local>;127.0.0.*"),
            # No setting of the user's but automatic detection: the machine's proxy.
            "machine": machine_settings(proxy.address()),
        }[route])
        office.start_updater(executable=UPDATER if route == "bypass" else PROXY_UPDATER)
        assert_updated(office, server)
    tunnels = [] if route == "bypass" else [TUNNEL, TUNNEL]
    assert (proxy.wait_for_log(2) if tunnels else proxy.log()) == tunnels
    assert asked == (["/proxy.pac"] if route == "pac" else [])


@contextlib.contextmanager
def black_hole(port):
    """A listener on the port that accepts no connection: its queue is full, so
    every further attempt waits unanswered, as behind a firewall that drops it."""
    listener = socket.create_server(("127.0.0.1", port), backlog=0)
    fillers = [socket.socket() for _ in range(3)]
    for filler in fillers:
        filler.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            filler.connect(("127.0.0.1", port))
    try:
        yield
    finally:
        for end in [*fillers, listener]:
            end.close()


@pytest.mark.parametrize("route", ["another-key-in-the-tunnel", "basic-authentication", "black-holed-server"])
def test_a_server_out_of_reach_ends_in_the_failure_box_within_15_s(office, proxy, settings, route):
    office.install_application("1234")
    with contextlib.ExitStack() as stack:
        if route == "another-key-in-the-tunnel":
            intruder = test_server.start(0, *key("wrong"))
            stack.callback(intruder.stop)
            intercepting_port, connects = stack.enter_context(relay(intruder.port, end_tunnels=True))
            settings(connection_settings(proxy=f"127.0.0.1:{intercepting_port}"))
        elif route == "basic-authentication":
            settings(connection_settings(proxy=proxy.address("basic")))
        else:
            stack.enter_context(black_hole(PORT))
        started = time.monotonic()
        office.start_updater(executable=UPDATER if route == "black-holed-server" else PROXY_UPDATER)
        office.wait_for_message_box(SERVER_FAILURE_TEXT, timeout=30)
        assert time.monotonic() - started < 15
        expect_server_failure(office)
    assert_nothing_installed(office)
    if route == "another-key-in-the-tunnel":
        assert connects == [f"CONNECT {PROXY_HOST}:{PORT} HTTP/1.1"] and len(check_requests(intruder)) == 1
    elif route == "basic-authentication":
        # Wine then speaks TLS to the proxy itself, which squid logs as a bad request.
        assert proxy.wait_for_log(1)[0] == ("TCP_DENIED/407", "CONNECT", f"{PROXY_HOST}:{PORT}")


@pytest.mark.parametrize("road", ["resumed-after-a-cut", "rebuilt-from-the-previous-package"])
def test_the_package_comes_through_the_proxy(office, server, proxy, settings, tmp_path, road):
    cut = road == "resumed-after-a-cut"
    if cut:
        new = release(tmp_path, "new", NEW_APPLICATION, OLD_FILES)
        office.install_application("1234")
        offer(server, mandatory=True, sha256_text=sha256(new), data=new)
    else:
        _, new = offer_over_previous(office, server, tmp_path)
    # The first connection that brings more than 1 MiB from squid is cut there.
    with relay(proxy.ports["open"], cut_after=MIB if cut else None) as (port, _):
        settings(connection_settings(proxy=f"127.0.0.1:{port}"))
        office.start_updater(executable=PROXY_UPDATER)
        assert_installed_exactly(office, new)
    requests = package_requests(server)
    assert proxy.wait_for_log(1 + len(requests)) == [TUNNEL] * (1 + len(requests))
    if cut:
        assert [(r["status"], r["range"] is None) for r in requests] == [(200, True), (206, False)]
        # The rest is asked for from what reached the office before the cut.
        kept = int(requests[1]["range"].removeprefix("bytes=").removesuffix("-"))
        assert 0 < kept < MIB and kept + requests[1]["sent"] == len(new)
    else:
        assert all(r["status"] == 206 for r in requests) and sum(r["sent"] for r in requests) < len(new) / 2


@pytest.mark.skipif(os.environ.get("NIRVA_ISOLATED") != "1",
                    reason="WPAD needs a DNS server on 127.0.0.1:53 and the script on port 80: only in a "
                           "network namespace of the test's own (scripts/test.sh as root)")
def test_wpad_names_the_proxy_once_the_server_cannot_be_reached_directly(office, server, proxy, tmp_path):
    offer_update(office, server)
    (tmp_path / "wpad.dat").write_text(f'function FindProxyForURL(url, host) {{ return "PROXY {proxy.address()}"; }}')
    # Wine asks DNS alone for wpad in the computer's domain, and fetches the script from port 80.
    with web_folder(tmp_path, port=80) as (_, asked), proxy_harness.dns_server({"wpad.nirva.test": "127.0.0.1"}), \
            proxy_harness.office_computer(tmp_path) as environment:
        office.start_updater(extra_env=environment, executable=PROXY_UPDATER, tracer=proxy_harness.OFFICE_COMPUTER)
        assert_updated(office, server)
    assert asked == ["/wpad.dat"]
    assert proxy.wait_for_log(2) == [TUNNEL, TUNNEL]
