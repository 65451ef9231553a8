"""Downloads over a link that drops, and across a killed updater: what was
received is kept and only the rest is asked for, yet a package is installed
only whole and, with a digest, verified."""

import functools
import io
import re
import zipfile

import pytest

import harness
from conftest import (DATA, DATA_NAME, DOWNLOAD_FAILED_TEXT, INSTALLING_TEXT, NEW_APPLICATION, PACKAGE_URL,
                      assert_installed, assert_nothing_installed, entries, offer, package, package_requests, path_of,
                      sha256, start_update, wait_until, watch_until_exit)

PARTIAL = "nirva.zip.partial"
RECORD = "nirva.zip.partial.record"
FIFTH = len(package()) // 5


@functools.cache
def repacked():
    """The same release packed in another order: other bytes from the first on."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(DATA_NAME, DATA)
        archive.write(NEW_APPLICATION, "nirva_acc.exe")
    return buffer.getvalue()


def garbled():
    """The package with its first fifth damaged."""
    return bytes(byte ^ 0xFF for byte in package()[:FIFTH]) + package()[FIFTH:]


def rest_from(start):
    return f"bytes={start}-"


def assert_resumed_as(server, url, expected):
    """Each package request's (Range asked, status answered); every request
    for the rest names the validator of the answer whose bytes it continues."""
    requests = package_requests(server, url)
    assert [(r["range"], r["status"]) for r in requests] == expected
    assert all(r["if_range"] == requests[0]["etag"] for r in requests if r["range"])
    return sum(r["sent"] for r in requests)


def assert_only_package_left(office, data):
    assert entries(office.folder) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert (office.folder / "nirva.zip").read_bytes() == data


@pytest.mark.parametrize("options, digest_of, expected, installed, most_sent", [
    pytest.param(dict(cut_at=FIFTH), package,
                 [(None, 200)] + [(rest_from(start), 206) for start in range(FIFTH, len(package()), FIFTH)],
                 package, 1.1, id="every-response-cut-after-a-fifth"),
    pytest.param(dict(cut_at=[FIFTH, None], ignore_ranges=True), None,
                 [(None, 200), (rest_from(FIFTH), 200)], package, None, id="ranges-ignored"),
    pytest.param(dict(cut_at=[FIFTH, None], etag=""), None,
                 [(None, 200), (None, 200)], package, None, id="nothing-vouches-for-the-kept-bytes"),
    pytest.param(dict(data=[package(), repacked()], etag=['"old"', '"new"'], cut_at=[FIFTH, None]), None,
                 [(None, 200), (rest_from(FIFTH), 200)], repacked, None, id="file-changed"),
    pytest.param(dict(data=[garbled(), package()], etag='"same"', cut_at=[FIFTH, None]), package,
                 [(None, 200), (rest_from(FIFTH), 206), (None, 200)], package, None,
                 id="kept-bytes-fail-the-digest"),
    pytest.param(dict(status=[200, 503], cut_at=FIFTH), None,
                 [(None, 200)] + [(rest_from(FIFTH), 503)] * 3, None, None, id="dead-server-after-a-fifth"),
])
def test_broken_download_asks_only_for_the_rest(office, server, options, digest_of, expected, installed,
                                                most_sent):
    office.install_application("1234")
    offer(server, sha256_text=sha256(digest_of()) if digest_of else "", **options)
    office.start_updater()

    start_update(office)

    if installed:
        assert_installed(office)
        assert_only_package_left(office, installed())
    else:
        office.wait_for_status(DOWNLOAD_FAILED_TEXT)
        assert (office.folder / PARTIAL).read_bytes() == package()[:FIFTH]
        assert (office.folder / RECORD).exists()
    sent = assert_resumed_as(server, PACKAGE_URL, expected)
    assert not most_sent or sent <= most_sent * len(package())


@pytest.mark.parametrize("same_release", [True, False], ids=["same-release", "other-release"])
def test_killed_download_resumes_only_for_the_same_release(office, server, same_release):
    office.install_application("1234")
    # Paced as the updater writes them, the chunks reach the disk; the answer
    # waits at a third, for the power to go.
    offer(server, sha256_text=sha256(package()), chunk_size=4096, delay=0.12, hold_at=len(package()) // 3)
    office.start_updater()
    start_update(office)
    partial = office.folder / PARTIAL
    wait_until(lambda: partial.exists() and partial.stat().st_size >= FIFTH, 60, interval=0.05,
               what="a fifth of the package on disk")
    harness.stop_wine()
    server.release()
    office.wait_for_exit()
    kept = partial.stat().st_size
    assert kept < len(package()) and not (office.folder / "nirva.zip").exists()

    url, expected = PACKAGE_URL, [(None, 200), (rest_from(kept), 206)]
    if same_release:
        server.packages[path_of(url)]["delay"] = 0
    else:
        # Another package of the release: the old bytes are dropped at once,
        # the new ones resume on their own.
        url, expected = PACKAGE_URL.replace("2.0", "2.0.1"), [(None, 200), (rest_from(FIFTH), 206)]
        offer(server, sha256_text=sha256(package()), url=url, cut_at=[FIFTH, None])
    office.start_updater()
    start_update(office)

    assert_installed(office)
    assert_only_package_left(office, package())
    sent = assert_resumed_as(server, url, expected)
    assert not same_release or sent <= 1.1 * len(package())


def test_progress_counts_kept_bytes_and_shows_the_links_speed(office, server):
    # 16 KiB a second, the first 16 KiB of each answer along with its headers.
    office.install_application("1234")
    offer(server, sha256_text=sha256(package()), cut_at=[FIFTH, None], chunk_size=16384, delay=1.0)
    office.start_updater()
    start_update(office)

    seen = watch_until_exit(office)

    assert_installed(office)
    # The bar fills again with the unpacking, which is over too soon to be
    # seen at its end, or at all; the download's share is seen up to its last
    # piece. A look reads the text and then the bar: the one on the change of
    # phase, the last one when the unpacking was never seen, may see the
    # download's text with the emptied bar.
    installing = next((i for i, (text, _) in enumerate(seen) if text == INSTALLING_TEXT), len(seen))
    positions = [position for _, position in seen[:installing - 1]]
    assert positions == sorted(positions) and max(positions) > 80
    speeds = [int(re.findall(r"\d+", text)[1]) for text, _ in seen if "KB/s" in text]
    assert speeds and max(speeds) <= 4 * 16


@pytest.mark.parametrize("options, size, env, requests", [
    pytest.param(dict(data=bytes(32 << 20), content_length=False), None, {"NIRVA_DOWNLOAD_CEILING": str(2 << 20)},
                 1, id="endless-body-meets-the-ceiling"),
    pytest.param(dict(content_length=False), len(package()) - 1, {}, 3, id="body-runs-past-the-size"),
    pytest.param({}, len(package()) + 1, {}, 3, id="length-is-not-the-size"),
    pytest.param({}, '"12x"', {}, 0, id="size-unreadable"),
    pytest.param({}, len(package()), {"NIRVA_FREE_SPACE_FLOOR": str(1 << 62)}, 0, id="no-room-for-the-size"),
])
def test_download_never_writes_more_than_it_may(office, server, options, size, env, requests):
    office.install_application("1234")
    offer(server, size=size, **options)
    office.start_updater(env)
    start_update(office)

    office.wait_for_status(DOWNLOAD_FAILED_TEXT)
    assert not (office.folder / PARTIAL).exists() and not (office.folder / RECORD).exists()
    assert_nothing_installed(office)
    sent = [r["sent"] for r in package_requests(server)]
    assert len(sent) == requests and sum(sent) < 16 << 20
