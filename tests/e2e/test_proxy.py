"""Offices behind a proxy, a real squid. The proxy updater's host only squid can
resolve: whatever reaches the server from it went through the proxy."""

import contextlib
import os

import pytest

import harness
from conftest import (PORT, SERVER_FAILURE_TEXT, UPDATER, events, assert_installed, assert_nothing_installed,
                      check_requests, expect_server_failure, key, offer, package, package_requests, sha256, test_server)
from proxy_harness import (OFFICE_COMPUTER, PROXY_HOST, black_hole, connection_settings, dns_server,  # noqa: F401
                           machine_settings, office_computer, proxy, relay, settings, squid_process, web_folder)
from test_delta import assert_installed_exactly, offer_over_previous

PROXY_UPDATER = harness.BUILD_DIR / "proxy" / "nirva_updater.exe"
TUNNEL = ("TCP_TUNNEL/200", "CONNECT", f"{PROXY_HOST}:{PORT}")
MIB = 1 << 20
IN_NAMESPACE = pytest.mark.skipif(os.environ.get("NIRVA_ISOLATED") != "1", reason="WPAD needs DNS on "
                                  "127.0.0.1:53 and port 80: a network namespace of its own (scripts/test.sh as root)")


@pytest.mark.parametrize("route", ["manual", "pac", "bypass", "machine", pytest.param("wpad", marks=IN_NAMESPACE)])
def test_the_update_takes_the_route_the_office_is_set_up_with(office, server, proxy, settings, tmp_path, route):
    office.install_application("1234")
    offer(server, mandatory=True, sha256_text=sha256(package()))
    script = f'function FindProxyForURL(url, host) {{ return "PROXY {proxy.address()}; DIRECT"; }}'
    for name in ("proxy.pac", "wpad.dat"):
        (tmp_path / name).write_text(script)
    with contextlib.ExitStack() as stack:
        script_port, asked = stack.enter_context(web_folder(tmp_path, port=80 if route == "wpad" else 0))
        launch = {}
        if route == "wpad":
            # Wine asks DNS alone for wpad in the computer's domain: nothing is set but detection.
            stack.enter_context(dns_server({"wpad.nirva.test": "127.0.0.1"}))
            launch = dict(extra_env=stack.enter_context(office_computer(tmp_path)), tracer=OFFICE_COMPUTER)
        else:
            settings({
                "manual": connection_settings(proxy=f"http=web:80;https={proxy.address()}", bypass="<local>;*.example"),
                "pac": connection_settings(pac_url=f"http://127.0.0.1:{script_port}/proxy.pac", auto_detect=True),
                # The same proxy, but the list names the server: no proxy for it.
                "bypass": connection_settings(proxy=proxy.address(), bypass="<local>;127.0.0.*"),
                # No setting of the user's but automatic detection: the machine's proxy.
                "machine": machine_settings(proxy.address()),
            }[route])
        office.start_updater(executable=UPDATER if route == "bypass" else PROXY_UPDATER, **launch)
        assert_installed(office)
        office.wait_for_exit()
    # A tunnel of its own for every request: the check, the package and the report.
    tunnels = 0 if route == "bypass" else len(server.requests)
    assert (proxy.wait_for_log(tunnels) if tunnels else proxy.log()) == [TUNNEL] * tunnels
    assert asked == {"pac": ["/proxy.pac"], "wpad": ["/wpad.dat"]}.get(route, [])
    # The support log says which way the run went, WPAD's found proxy last.
    taken = {"bypass": "direct (manual, bypass list)", "machine": "machine default"}.get(route, "proxy")
    assert events(office, "route")[-1]["route"].startswith(taken)


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
        office.start_updater(executable=UPDATER if route == "black-holed-server" else PROXY_UPDATER)
        office.wait_for_message_box(SERVER_FAILURE_TEXT, timeout=15)
        expect_server_failure(office)
    assert_nothing_installed(office)
    if route == "another-key-in-the-tunnel":
        assert connects == [f"CONNECT {PROXY_HOST}:{PORT} HTTP/1.1"] and len(check_requests(intruder)) == 1
        seen = [line["route"] for line in events(office, "tlsinspection")]
        assert seen == [f"proxy 127.0.0.1:{intercepting_port} (manual)"]
    elif route == "basic-authentication":
        # Wine then speaks TLS to the proxy itself, which squid logs as a bad request.
        assert proxy.wait_for_log(1)[0] == ("TCP_DENIED/407", "CONNECT", f"{PROXY_HOST}:{PORT}")


@pytest.mark.parametrize("road", ["resumed-after-a-cut", "rebuilt-from-the-previous-package"])
def test_the_package_comes_through_the_proxy(office, server, proxy, settings, tmp_path, road):
    cut = road == "resumed-after-a-cut"
    # Cut: no previous package, the whole download, and the first connection that
    # brings more than 1 MiB from squid is cut there.
    _, new = offer_over_previous(office, server, tmp_path, previous=lambda old: None if cut else old)
    with relay(proxy.ports["open"], cut_after=MIB if cut else None) as (port, _):
        settings(connection_settings(proxy=f"127.0.0.1:{port}"))
        office.start_updater(executable=PROXY_UPDATER)
        assert_installed_exactly(office, new)
        office.wait_for_exit()
    requests = package_requests(server)
    assert proxy.wait_for_log(len(server.requests)) == [TUNNEL] * len(server.requests)
    if cut:
        assert [r["status"] for r in requests] == [200, 206]
    else:
        assert all(r["status"] == 206 for r in requests) and sum(r["sent"] for r in requests) < len(new) / 2
