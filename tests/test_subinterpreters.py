"""The modules load in the main interpreter only: in any other one the
import fails with an ImportError naming the module (declared with the
Py_mod_multiple_interpreters slot from 3.12 on). Each case runs in a child
process with a time limit, so a hang fails the test."""
import importlib
import subprocess
import sys
import textwrap

import pytest

MODULES = ["ostrel", "pellora", "mirvane", "zantho"]
for name in MODULES:
    pytest.importorskip(f"zelvik.core.{name}")

CHILD = textwrap.dedent(r'''
    import importlib, sys
    facility, name, out = sys.argv[1:]
    module = importlib.import_module(f"zelvik.core.{name}")  # the main interpreter's
    code = f"""
    import sys
    sys.path[:0] = {sys.path!r}
    try:
        import zelvik.core.{name}
    except ImportError as e:
        result = "ImportError: " + str(e)
    else:
        result = "imported"
    with open({out!r}, "w", encoding="utf-8") as f:
        f.write(result)
    """
    if facility == "_testcapi":
        import _testcapi
        _testcapi.run_in_subinterp(code)
    else:
        interpreters = importlib.import_module(facility)
        interp = interpreters.create()
        interpreters.run_string(interp, code)
        interpreters.destroy(interp)
    assert importlib.import_module(f"zelvik.core.{name}") is module
''')


@pytest.mark.parametrize("name", MODULES)
@pytest.mark.parametrize("facility", ["_testcapi", "_xxsubinterpreters", "_interpreters"])
def test_import_in_a_subinterpreter_is_refused(tmp_path, facility, name):
    spec = importlib.util.find_spec(facility)
    if spec is None or (facility == "_testcapi" and not hasattr(importlib.import_module(facility),
                                                                 "run_in_subinterp")):
        pytest.skip(f"{facility} cannot start subinterpreters here")
    out = tmp_path / "result.txt"
    run = subprocess.run([sys.executable, "-c", CHILD, facility, name, str(out)],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert out.read_text(encoding="utf-8") == (
        f"ImportError: module zelvik.core.{name} does not support loading in subinterpreters")
