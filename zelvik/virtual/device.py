"""The virtual device: an Android tablet that a real adb server connects
to over TCP, as to a phone's adbd in WiFi mode.

`VirtualDevice(screen).start()` listens on a loopback address and port of
its own and serves the adb transport protocol from a thread of its own
(one asyncio loop); `stop()` closes every connection and ends the thread.
The screen is the built-in Settings screen or a saved hierarchy dump.
"""
import asyncio
import collections
import socket
import threading
import time
import xml.etree.ElementTree as ET
from typing import Iterable, Optional

from . import protocol
from .hierarchy import from_xml, to_xml
from .render import render_png
from .screen import HEIGHT, WIDTH, Node, settings_screen
from .services import open_service
from .streams import Connection

FEATURES = ("shell_v2", "cmd")
FAULTS = frozenset({"drop-dump", "slow-dump", "bad-dump", "screencap", "screencap-error"})


class VirtualScreen:
    """What the device shows: the dump text, the screen size and the PNG
    (drawn from the tree when first asked for)."""

    def __init__(self, xml: str, root: Node, width: int, height: int):
        self.xml, self.width, self.height = xml, width, height
        self._root = root
        self._png: Optional[bytes] = None
        self._drawing = threading.Lock()

    @property
    def png(self) -> bytes:
        with self._drawing:
            if self._png is None:
                self._png = render_png(self._root, self.width, self.height)
            return self._png

    @classmethod
    def builtin(cls) -> "VirtualScreen":
        root = settings_screen()
        return cls(to_xml(root), root, WIDTH, HEIGHT)

    @classmethod
    def from_dump(cls, xml: str) -> "VirtualScreen":
        """A screen serving a saved dump text as it is. The picture is drawn
        from it; a dump that does not parse shows an empty screen."""
        try:
            root = from_xml(xml)
        except (ET.ParseError, RecursionError):
            root = Node()
        edges = [n.bounds for n in root.walk() if n.bounds[2] > n.bounds[0]]
        width = max((b[2] for b in edges), default=0) or 1080
        height = max((b[3] for b in edges), default=0) or 2400
        return cls(xml, root, width, height)


class VirtualDevice:
    """One virtual tablet on `host`:`port` (port 0: a free one).

    Faults, for tests, as in `faults`: "drop-dump" (the link drops while a
    dump is asked for, once), "slow-dump" (a dump answers after
    `dump_delay` seconds), "bad-dump" (a cut-off dump), "screencap" (the
    screen capture dies without output), "screencap-error" (it fails with
    a message on stderr)."""

    def __init__(self, screen: Optional[VirtualScreen] = None, host: str = "127.0.0.1", port: int = 0,
                 faults: Iterable[str] = (), dump_delay: float = 20.0):
        unknown = set(faults) - FAULTS
        if unknown:
            raise ValueError(f"unknown faults: {', '.join(sorted(unknown))}")
        self.screen = screen or VirtualScreen.builtin()
        self.host, self.port = host, port
        self.faults, self.dump_delay = set(faults), dump_delay
        self.files, self.mtimes = {}, {}
        self.server_port: Optional[int] = None
        # What the host asked for (services, HTTP requests, JSON-RPC methods), latest last.
        self.requests = collections.deque(maxlen=10000)
        self.density = 320
        self.started = time.time()
        self.properties = {
            "ro.product.name": "zelvik_virtual_tab", "ro.product.model": "Zelvik Virtual Tab",
            "ro.product.device": "zelvik_tab", "ro.product.brand": "zelvik", "ro.product.manufacturer": "Zelvik",
            "ro.build.version.release": "14", "ro.build.version.sdk": "34", "ro.product.cpu.abi": "x86_64",
            "ro.serialno": "ZELVIK0001"}
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        self._thread: Optional[threading.Thread] = None
        self._connections = {}

    @property
    def serial(self) -> str:
        """The serial adb gives the device once connected."""
        return f"{self.host}:{self.port}"

    def banner(self) -> bytes:
        names = ("ro.product.name", "ro.product.model", "ro.product.device")
        return protocol.banner({name: self.properties[name] for name in names}, FEATURES)

    def start(self) -> "VirtualDevice":
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind((self.host, self.port))
            listener.listen(16)
        except OSError:
            listener.close()
            raise
        self.port = listener.getsockname()[1]
        self._loop = asyncio.new_event_loop()
        ready = threading.Event()
        failure = []

        def main():
            asyncio.set_event_loop(self._loop)
            try:
                self._server = self._loop.run_until_complete(asyncio.start_server(self._accept, sock=listener))
            except BaseException as e:  # reported to start()
                failure.append(e)
                listener.close()
                return
            finally:
                ready.set()
            # The picture is drawn aside while the host connects and looks around.
            self._loop.run_in_executor(None, getattr, self.screen, "png")
            self._loop.run_forever()
            self._loop.run_until_complete(self._loop.shutdown_default_executor())

        self._thread = threading.Thread(target=main, name=f"virtual device {self.serial}", daemon=True)
        self._thread.start()
        ready.wait()
        if failure:
            self._thread.join()
            self._loop.close()
            raise failure[0]
        return self

    async def _accept(self, reader, writer) -> None:
        connection = Connection(reader, writer, self.banner(), lambda stream, name: open_service(self, stream, name))
        self._connections[connection] = asyncio.current_task()
        try:
            await connection.run()
        finally:
            self._connections.pop(connection, None)

    def drop_connections(self) -> None:
        """The link goes down: every host connection ends at once."""
        for connection in list(self._connections):
            connection.writer.transport.abort()

    async def _shutdown(self) -> None:
        """Aborts every connection (its reader then ends by itself) and
        cancels the services still running."""
        self._server.close()
        services = []
        for connection in self._connections:
            connection.writer.transport.abort()
            services += connection.tasks
        for task in services:
            task.cancel()
        await asyncio.gather(*services, *self._connections.values(), return_exceptions=True)
        await self._server.wait_closed()

    def stop(self) -> None:
        """Closes the listener and every connection; ends the thread."""
        if self._thread is None:
            return
        loop, thread = self._loop, self._thread
        self._thread = None
        asyncio.run_coroutine_threadsafe(self._shutdown(), loop).result(10)
        loop.call_soon_threadsafe(loop.stop)
        thread.join(10)
        loop.close()

    def __enter__(self) -> "VirtualDevice":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()
