"""Failures the workbench reports as one line and an exit status."""
import importlib


class WorkbenchError(Exception):
    """A failure of the command: printed as one line, exit status 1."""
    code = 1


class UsageError(WorkbenchError):
    """Bad input from the user (arguments, files): exit status 2."""
    code = 2


def core(name: str):
    """The core module `name`, or a clear error while it is not built."""
    try:
        return importlib.import_module(f"zelvik.core.{name}")
    except ImportError as e:
        raise WorkbenchError(f"zelvik.core.{name} is not available ({e}); "
                             "build it with: python -m pip install -e .") from e
