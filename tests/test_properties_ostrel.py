"""Property tests: DeviceManager._parse_ip_range against its plain-Python
rendition, on addresses, ranges, networks and hostile texts."""
import pytest

pytest.importorskip("hypothesis")
from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from hostile import Str, assert_same, outcome, texts, values  # noqa: E402
from plain.ostrel import parse_ip_range  # noqa: E402

ostrel = pytest.importorskip("zelvik.core.ostrel")
manager = ostrel.DeviceManager()

octets = st.one_of(st.integers(0, 255), st.sampled_from([255, 254, 0, 256, -1, 999]))
# Addresses near the ends of the address space, and written in odd ways.
addresses = st.one_of(
    st.ip_addresses(v=4).map(str),
    st.builds(lambda *o: ".".join(map(str, o)), octets, octets, octets, octets),
    st.builds(lambda o: f"255.255.255.{o}", st.integers(0, 255)),
    st.sampled_from(["01.2.3.4", "1.2.3", "1.2.3.4.5", "0x7f.0.0.1", "١.٢.٣.٤", "", " ", "localhost"]),
)
blanks = st.text(st.sampled_from([" ", "\t", "\n", "\x0b", "\x0c", "\r", "\x1c", "\x85", "\u2028", "\u3000"]),
                 max_size=3)


def padded(text):
    return st.builds(lambda a, t, b: a + t + b, blanks, text, blanks)


ranges = st.builds(lambda a, b, sep: a + sep + b, padded(addresses), padded(addresses),
                   st.sampled_from(["-", "-", "--", "-1-"]))
networks = st.builds(lambda a, n: f"{a}/{n}", addresses, st.one_of(st.integers(20, 32), st.sampled_from(
    ["24 ", " 24", "33", "-1", "", "255.255.255.0", "0.0.0.255", "x"])))
ip_ranges = st.one_of(padded(addresses), ranges, ranges, networks, networks, texts, st.builds(Str, addresses))


@given(st.one_of(ip_ranges, ip_ranges, ip_ranges, values))
def test_parse_ip_range_matches_plain(ip_range):
    assert_same(outcome(manager._parse_ip_range, ip_range), outcome(parse_ip_range, ip_range))
