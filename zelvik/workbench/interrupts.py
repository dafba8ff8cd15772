"""Running a command so that Ctrl-C stops it at once."""
import asyncio
import concurrent.futures
import os
import signal
import sys
import threading


def run(command) -> int:
    """Runs the command's coroutine as asyncio.run does, except on Ctrl-C.

    The first Ctrl-C cancels the command at once, also inside blocking work
    of a task (an adb call, a discovery): the interrupt is raised there as
    CancelledError, so the task ends cancelled and its `finally` blocks run.
    Outside a task it cancels the command's task. A second Ctrl-C raises
    KeyboardInterrupt. After an interrupt the executor's work still queued
    is dropped and nothing waits for its busy threads."""
    loop = asyncio.new_event_loop()
    executor = concurrent.futures.ThreadPoolExecutor(thread_name_prefix="asyncio")
    loop.set_default_executor(executor)
    task = loop.create_task(command)
    interrupts = 0

    def interrupt(signum, frame):
        nonlocal interrupts
        interrupts += 1
        if interrupts > 1:
            raise KeyboardInterrupt
        if asyncio.current_task(loop) is not None:
            raise asyncio.CancelledError
        task.cancel()
        loop.call_soon_threadsafe(lambda: None)

    main_thread = threading.current_thread() is threading.main_thread()
    previous = signal.signal(signal.SIGINT, interrupt) if main_thread else None
    try:
        return loop.run_until_complete(task)
    except asyncio.CancelledError:
        if not interrupts:
            raise
        raise KeyboardInterrupt from None
    finally:
        try:
            rest = asyncio.all_tasks(loop)
            for other in rest:
                other.cancel()
            if rest:
                loop.run_until_complete(asyncio.gather(*rest, return_exceptions=True))
            loop.run_until_complete(loop.shutdown_asyncgens())
        finally:
            if task.done() and not task.cancelled():
                task.exception()  # read: a second Ctrl-C may have ended it
            if main_thread:
                signal.signal(signal.SIGINT, previous)
            executor.shutdown(wait=not interrupts, cancel_futures=bool(interrupts))
            loop.close()


def exit_now_if_busy(status: int) -> None:
    """Threads still in blocking device work (probes, adb calls) cannot be
    stopped: the interpreter would wait for them at exit, or end daemon ones
    inside native code as it finalizes. Leave without either."""
    if any(t.is_alive() for t in threading.enumerate() if t is not threading.current_thread()):
        sys.stdout.flush()
        sys.stderr.flush()
        os._exit(status)
