"""The address guard of `zelvik wifi`: IPv4 literals only, large ranges behind
--all, and probing in chunks that together name exactly the range."""
import ipaddress
import re
import socket
import tracemalloc

import pytest
from hypothesis import given, settings, strategies as st

from test_cli import zelvik
from zelvik.workbench import ranges
from zelvik.workbench.errors import UsageError

ostrel = pytest.importorskip("zelvik.core.ostrel")
LAST = 2 ** 32 - 1


def addresses(scan):
    """Every address the core is asked to probe, chunk by chunk."""
    manager = ostrel.DeviceManager()
    return [address for chunk in scan.chunks() for address in manager._parse_ip_range(chunk)]


def span(first, last):
    return [str(ipaddress.IPv4Address(i)) for i in range(first, last + 1)]


@pytest.mark.parametrize("text, message", [
    ("abc", "not an IPv4 address: abc (Expected 4 octets in 'abc'); host names are not looked up"),
    ("localhost", "not an IPv4 address: localhost"),
    ("127.0.0.300", "not an IPv4 address: 127.0.0.300 (Octet 300 (> 255) not permitted"),
    ("::1", "not an IPv4 address: ::1"),
    ("127.0.0.1-20", "no address in the range 127.0.0.1-20 (Expected 4 octets in '20')"),
    ("1.1.1.1-2.2.2.2-3.3.3.3", "no address in the range 1.1.1.1-2.2.2.2-3.3.3.3 (one hyphen between two"),
    ("10.0.0.9-10.0.0.1", "no address in the range 10.0.0.9-10.0.0.1 (it starts above its end)"),
    ("10.0.0.0/33", "not an IPv4 network: 10.0.0.0/33 ('33' is not a valid netmask)"),
    ("host.example/24", "not an IPv4 network: host.example/24"),
])
def test_malformed_ranges_are_usage_errors(text, message):
    with pytest.raises(UsageError) as caught:
        ranges.parse(text)
    assert str(caught.value).startswith(message)
    assert str(caught.value).endswith("give an address A.B.C.D, a range A.B.C.D-A.B.C.E or a network A.B.C.D/N")


@pytest.mark.parametrize("text, count", [
    (" 10.0.0.5 ", 1), ("10.0.0.1 - 10.0.0.3", 3), ("192.168.1.77/24", 254), ("10.0.0.6/31", 2),
    ("10.0.0.7/32", 1), ("10.0.0.1-10.0.4.0", 1024), ("10.0.0.0/8", 16_777_214),
])
def test_counts_and_the_limit(text, count):
    assert ranges.parse(text).count == count
    if count > ranges.LIMIT:
        with pytest.raises(UsageError, match=f"^{re.escape(text)} holds {count:,} addresses: "
                                             "a scan of more than 1,024 needs --all$"):
            ranges.guarded(text, everything=False)
    assert ranges.guarded(text, everything=True).count == count


@pytest.mark.parametrize("text", ["192.168.1.77/24", "10.0.0.6/31", "10.0.0.7/32", "10.0.0.0/22", "0.0.0.0/23",
                                  "255.255.255.0/24", "255.255.255.254/31", "255.255.255.255/32"])
def test_network_chunks_probe_what_the_core_probes_for_the_network(text):
    assert addresses(ranges.parse(text)) == ostrel.DeviceManager()._parse_ip_range(text)


@settings(max_examples=60, deadline=None)
@given(st.integers(0, LAST), st.integers(0, 2000))
def test_range_chunks_name_every_address_once_in_order(first, length):
    last = min(first + length, LAST)
    text = f"{ipaddress.IPv4Address(first)}-{ipaddress.IPv4Address(last)}"
    scan = ranges.parse(text)
    assert all(len(ostrel.DeviceManager()._parse_ip_range(c)) <= ranges.CHUNK for c in scan.chunks())
    assert addresses(scan) == span(first, last)


def test_a_huge_network_is_walked_in_bounded_memory():
    scan = ranges.parse("10.0.0.0/12")
    tracemalloc.start()
    try:
        chunks = 0
        for chunk in scan.chunks():
            chunks += 1
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert chunk == "10.15.255.241-10.15.255.254" and chunks == -(-1_048_574 // ranges.CHUNK)
    assert peak < 64 * 1024


@pytest.mark.parametrize("argv, message", [
    (["localhost"], "zelvik: error: not an IPv4 address: localhost"),
    (["10.0.0.0/8"], "zelvik: error: 10.0.0.0/8 holds 16,777,214 addresses: a scan of more than 1,024 needs --all"),
    (["127.0.0.1-127.0.4.1"], "zelvik: error: 127.0.0.1-127.0.4.1 holds 1,025 addresses"),
])
def test_wifi_refuses_before_probing(tmp_path, argv, message):
    run = zelvik("--virtual", "wifi", *argv, cwd=tmp_path)
    assert run.returncode == 2
    assert run.stderr.splitlines()[-1].startswith(message)
    assert "probing" not in run.stderr and "Traceback" not in run.stderr


def test_wifi_with_all_probes_a_large_range_in_chunks(tmp_path):
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        port = server.getsockname()[1]
        run = zelvik("--virtual", "wifi", "127.0.0.0-127.0.4.0", "--all", "--port", str(port), cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[1].split()[0] == f"127.0.0.1:{port}"
    assert f"wifi: probing port {port}: 1025 to go" in run.stderr
    assert f"wifi: probing port {port}: 1025 of 1025 addresses probed, 1 found in" in run.stderr


def test_wifi_help_warns_that_it_probes_other_hosts(tmp_path):
    run = zelvik("wifi", "--help", cwd=tmp_path)
    assert run.returncode == 0
    text = " ".join(run.stdout.split())
    assert "Warning: this probes other hosts." in text and "no host names" in text and "--all" in text
