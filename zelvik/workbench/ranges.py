"""The address range of `zelvik wifi`: IPv4 literals only, checked before the
core sees any text (so no host name is ever looked up), and probed in chunks
so that no list of the whole range is ever built."""
import ipaddress
from typing import Iterator

from .errors import UsageError

LIMIT = 1024  # a scan of more addresses needs --all
# The core's "A-B" text yields at most 255 addresses, and none when the
# range ends at 255.255.255.255 (stepping past it fails).
CHUNK = 255
LAST = int(ipaddress.IPv4Address("255.255.255.255"))
FORMS = "give an address A.B.C.D, a range A.B.C.D-A.B.C.E or a network A.B.C.D/N"


class ScanRange:
    """The addresses first..last, in order."""

    def __init__(self, first: int, last: int):
        self.first, self.last = first, last

    @property
    def count(self) -> int:
        return self.last - self.first + 1

    def chunks(self) -> Iterator[str]:
        """Range texts for the core's discovery, each of at most CHUNK
        addresses, which together name every address once, in order."""
        start = self.first
        while start <= self.last:
            stop = min(start + CHUNK - 1, self.last)
            if stop == LAST and stop > start:
                stop -= 1
            if stop == start:
                yield str(ipaddress.IPv4Address(start))
            else:
                yield f"{ipaddress.IPv4Address(start)}-{ipaddress.IPv4Address(stop)}"
            start = stop + 1


def _hosts(network: ipaddress.IPv4Network):
    """First and last of `network.hosts()`: all of a /31 or /32, otherwise
    the addresses between the network and broadcast addresses."""
    if network.num_addresses <= 2:
        return int(network[0]), int(network[-1])
    return int(network[0]) + 1, int(network[-1]) - 1


def parse(text: str) -> ScanRange:
    """The range a user gave; UsageError for anything but IPv4 literals."""
    value = text.strip()
    if "-" in value:
        ends = value.split("-")
        try:
            if len(ends) != 2:
                raise ValueError("one hyphen between two addresses expected")
            first, last = (int(ipaddress.IPv4Address(end.strip())) for end in ends)
        except ValueError as e:
            raise UsageError(f"no address in the range {text} ({e}); {FORMS}") from None
        if first > last:
            raise UsageError(f"no address in the range {text} (it starts above its end); {FORMS}")
        return ScanRange(first, last)
    if "/" in value:
        try:
            return ScanRange(*_hosts(ipaddress.IPv4Network(value, strict=False)))
        except ValueError as e:
            raise UsageError(f"not an IPv4 network: {text} ({e}); {FORMS}") from None
    try:
        address = int(ipaddress.IPv4Address(value))
    except ValueError as e:
        raise UsageError(f"not an IPv4 address: {text} ({e}); host names are not looked up: {FORMS}") from None
    return ScanRange(address, address)


def guarded(text: str, everything: bool) -> ScanRange:
    """`parse`, refusing a range of more than LIMIT addresses unless
    `everything` (--all) allows it."""
    scan = parse(text)
    if scan.count > LIMIT and not everything:
        raise UsageError(f"{text} holds {scan.count:,} addresses: a scan of more than {LIMIT:,} needs --all")
    return scan
