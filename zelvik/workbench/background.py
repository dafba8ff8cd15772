"""Blocking work on a thread of its own, awaited from the event loop."""
import asyncio
import threading


async def in_thread(function, *args):
    """`function(*args)` on a daemon thread: the loop stays free meanwhile
    (progress lines go on), and an interrupted run need not wait for it."""
    loop = asyncio.get_running_loop()
    future = loop.create_future()

    def settle(value, error):
        if not future.done():
            if error is None:
                future.set_result(value)
            else:
                future.set_exception(error)

    def run():
        value = error = None
        try:
            value = function(*args)
        except BaseException as e:  # handed to the awaiting task
            error = e
        try:
            loop.call_soon_threadsafe(settle, value, error)
        except RuntimeError:  # the loop is closed: nobody waits any more
            pass

    threading.Thread(target=run, daemon=True).start()
    return await future
