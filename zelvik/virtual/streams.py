"""One adb host connection to the device and the streams it opens.

The host opens a stream with OPEN(host id, 0, "service\\0"); the device
answers OKAY(device id, host id) and runs the service, or CLSE when there
is no such service. Each WRTE is answered with OKAY once the service has
taken its data, and the device sends its next WRTE only after the host's
OKAY for the previous one. Either side ends a stream with CLSE.
"""
import asyncio
import itertools

from . import protocol
from .protocol import CLSE, CNXN, OKAY, OPEN, WRTE, ProtocolError

MAX_STREAMS = 256  # open streams per connection
MAX_PENDING = 16  # WRTEs the host may send on a stream before its OKAY


class StreamClosed(Exception):
    """The host closed the stream (or the connection went away)."""


class Stream:
    def __init__(self, connection: "Connection", local_id: int, remote_id: int):
        self.connection, self.local_id, self.remote_id = connection, local_id, remote_id
        self.closed = False
        self._inbox: asyncio.Queue = asyncio.Queue()
        self._buffer = bytearray()
        self._credit = asyncio.Event()
        self._credit.set()

    # --- from the host
    def _received(self, data: bytes) -> None:
        if self._inbox.qsize() >= MAX_PENDING:
            raise ProtocolError("WRTE after WRTE without waiting for OKAY")
        self._inbox.put_nowait(data)

    def _acked(self) -> None:
        self._credit.set()

    def _ended(self) -> None:
        self.closed = True
        self._inbox.put_nowait(b"")
        self._credit.set()

    # --- for the services
    async def _next(self) -> bytes:
        if self.closed and self._inbox.empty():
            return b""
        data = await self._inbox.get()
        if data and not self.closed:
            self.connection.send(OKAY, self.local_id, self.remote_id)
        return data

    async def _fill(self) -> None:
        data = await self._next()
        if not data:
            raise StreamClosed()
        self._buffer += data

    async def read(self) -> bytes:
        """The next data the host wrote; b"" once the stream is closed."""
        if self._buffer:
            data, self._buffer = bytes(self._buffer), bytearray()
            return data
        return await self._next()

    async def read_exactly(self, n: int) -> bytes:
        while len(self._buffer) < n:
            await self._fill()
        data = bytes(self._buffer[:n])
        del self._buffer[:n]
        return data

    async def read_until(self, separator: bytes, limit: int) -> bytes:
        """The data up to and with `separator`; ValueError past `limit` bytes."""
        while separator not in self._buffer:
            if len(self._buffer) > limit:
                raise ValueError("request too long")
            await self._fill()
        return await self.read_exactly(self._buffer.index(separator) + len(separator))

    async def write(self, data: bytes) -> None:
        size = self.connection.max_data
        for start in range(0, len(data), size):
            await self._credit.wait()
            if self.closed:
                raise StreamClosed()
            self._credit.clear()
            self.connection.send(WRTE, self.local_id, self.remote_id, data[start:start + size])

    def close(self) -> None:
        if not self.closed:
            self.closed = True
            self.connection.send(CLSE, self.local_id, self.remote_id)
        self.connection.streams.pop(self.local_id, None)


class Connection:
    """Reads host messages and routes them; `services(stream, name)` gives
    the coroutine serving an opened stream, or None to refuse it."""

    def __init__(self, reader, writer, banner: bytes, services):
        self.reader, self.writer, self.banner, self.services = reader, writer, banner, services
        self.streams = {}
        self.tasks = set()
        self.online = False
        self.max_data = protocol.MAX_DATA
        self._ids = itertools.count(1)

    def send(self, command: int, arg0: int, arg1: int, data: bytes = b"") -> None:
        if not self.writer.is_closing():
            self.writer.write(protocol.pack(command, arg0, arg1, data))

    async def run(self) -> None:
        try:
            while True:
                self._handle(await protocol.read_message(self.reader))
                await self.writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError, ProtocolError):
            pass
        finally:
            self.drop()

    def drop(self) -> None:
        """Ends every stream and the connection itself."""
        self._end_streams()
        self.writer.close()

    def _end_streams(self) -> None:
        for stream in list(self.streams.values()):
            stream._ended()
        self.streams.clear()

    def _handle(self, message: protocol.Message) -> None:
        command, arg0, arg1 = message.command, message.arg0, message.arg1
        if command == CNXN:  # (again: the host starts afresh)
            self._end_streams()
            self.online = True
            self.max_data = max(1, min(arg1, protocol.MAX_DATA))
            self.send(CNXN, protocol.VERSION, protocol.MAX_DATA, self.banner)
            return
        if not self.online:
            raise ProtocolError(f"{message.name} before CNXN")
        if command == OPEN:
            self._open(arg0, message.data)
            return
        stream = self.streams.get(arg1)
        if stream is None or stream.remote_id != arg0:
            return  # a late message for a stream already gone
        if command == WRTE:
            if message.data:
                stream._received(message.data)
            else:  # nothing to take: acknowledged at once
                self.send(OKAY, stream.local_id, stream.remote_id)
        elif command == OKAY:
            stream._acked()
        else:  # CLSE
            self.streams.pop(arg1, None)
            stream._ended()

    def _open(self, remote_id: int, data: bytes) -> None:
        if remote_id == 0:
            raise ProtocolError("OPEN without a stream id")
        if len(self.streams) >= MAX_STREAMS:
            raise ProtocolError(f"more than {MAX_STREAMS} open streams")
        name = data.split(b"\0", 1)[0].decode("utf-8", "replace")
        stream = Stream(self, next(self._ids), remote_id)
        service = self.services(stream, name)
        if service is None:
            self.send(CLSE, 0, remote_id)
            return
        self.streams[stream.local_id] = stream
        self.send(OKAY, stream.local_id, remote_id)
        task = asyncio.ensure_future(self._serve(stream, service))
        self.tasks.add(task)
        task.add_done_callback(self.tasks.discard)

    @staticmethod
    async def _serve(stream: Stream, service) -> None:
        try:
            await service
        except StreamClosed:
            pass
        finally:
            stream.close()
