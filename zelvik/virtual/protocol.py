"""The adb transport protocol, as a device's adbd speaks it.

Every message is a 24-byte header of six little-endian unsigned 32-bit
words, followed by `length` bytes of data:

    command   CNXN, OPEN, OKAY, WRTE or CLSE (four ASCII letters)
    arg0      CNXN: protocol version; OPEN/OKAY/WRTE/CLSE: the sender's stream id
    arg1      CNXN: largest data the sender accepts; others: the receiver's stream id
    length    number of data bytes after the header
    checksum  sum of the data bytes (receivers of version 0x01000001 ignore it)
    magic     command XOR 0xffffffff

A host message that breaks this layout raises ProtocolError; the device
then closes that connection.
"""
import struct

HEADER = struct.Struct("<6I")
VERSION = 0x01000001
MAX_DATA = 256 * 1024  # the largest data a message may carry, both ways


def _word(name: str) -> int:
    return int.from_bytes(name.encode("ascii"), "little")


CNXN, OPEN, OKAY, WRTE, CLSE = (_word(n) for n in ("CNXN", "OPEN", "OKAY", "WRTE", "CLSE"))
COMMANDS = {CNXN: "CNXN", OPEN: "OPEN", OKAY: "OKAY", WRTE: "WRTE", CLSE: "CLSE"}


class ProtocolError(Exception):
    """A host message the device will not read any further."""


class Message:
    __slots__ = ("command", "arg0", "arg1", "data")

    def __init__(self, command: int, arg0: int, arg1: int, data: bytes = b""):
        self.command, self.arg0, self.arg1, self.data = command, arg0, arg1, data

    @property
    def name(self) -> str:
        return COMMANDS.get(self.command, "????")

    def __repr__(self):
        return f"Message({self.name}, {self.arg0}, {self.arg1}, {self.data[:40]!r})"


def pack(command: int, arg0: int, arg1: int, data: bytes = b"") -> bytes:
    return HEADER.pack(command, arg0, arg1, len(data), sum(data) & 0xFFFFFFFF, command ^ 0xFFFFFFFF) + data


def parse_header(header: bytes):
    """(command, arg0, arg1, length) of a 24-byte header, checked."""
    command, arg0, arg1, length, _checksum, magic = HEADER.unpack(header)
    if magic != command ^ 0xFFFFFFFF:
        raise ProtocolError(f"bad magic {magic:#x} for command {command:#x}")
    if command not in COMMANDS:
        raise ProtocolError(f"unknown command {command:#x}")
    if length > MAX_DATA:
        raise ProtocolError(f"data length {length} over the limit {MAX_DATA}")
    return command, arg0, arg1, length


async def read_message(reader) -> Message:
    """The next host message from an asyncio stream reader; raises
    asyncio.IncompleteReadError at the end of the connection."""
    command, arg0, arg1, length = parse_header(await reader.readexactly(HEADER.size))
    data = await reader.readexactly(length) if length else b""
    return Message(command, arg0, arg1, data)


def banner(properties: dict, features) -> bytes:
    """The device's CNXN data: "device::" then props and features."""
    props = "".join(f"{key}={value};" for key, value in properties.items())
    return f"device::{props}features={','.join(features)}".encode()
