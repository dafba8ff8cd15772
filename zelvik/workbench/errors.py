"""Failures the workbench reports as one line and an exit status."""
import importlib
from pathlib import Path


class WorkbenchError(Exception):
    """A failure of the command: printed as one line, exit status 1."""
    code = 1


class UsageError(WorkbenchError):
    """Bad input from the user (arguments, files, where zelvik runs from):
    exit status 2."""
    code = 2


def core(name: str):
    """The core module `name`, or a clear error while it is not built."""
    try:
        module = importlib.import_module(f"zelvik.core.{name}")
    except ImportError as e:
        raise WorkbenchError(f"zelvik.core.{name} is not available ({e}); "
                             "build it with: python -m pip install -e .") from e
    if getattr(module, "__file__", None) is None:
        # The folder of C++ sources, imported as a namespace package: zelvik
        # comes from a source tree whose modules are not built.
        tree = Path(next(iter(module.__path__))).parents[2]
        raise UsageError(f"zelvik.core.{name} is not built in the source tree {tree}, which Python imports "
                         "zelvik from: run zelvik from another directory, or build the tree in place with: "
                         "python -m pip install -e .")
    return module
