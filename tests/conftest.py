"""Fixtures shared by the test modules, and the settings of the property
tests: HYPOTHESIS_PROFILE picks the profile, "ci" by default; the sanitizer
run uses "sanitizer" (fewer examples), and "deep" is for a long local search."""
import os

import pytest

try:
    from hypothesis import HealthCheck, settings
except ImportError:  # the property tests skip themselves
    settings = None

if settings is not None:
    _quiet = dict(deadline=None, database=None, print_blob=True,
                  suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
    settings.register_profile("ci", max_examples=200, **_quiet)
    settings.register_profile("sanitizer", max_examples=30, **_quiet)
    settings.register_profile("deep", max_examples=5000, deadline=None,
                              suppress_health_check=_quiet["suppress_health_check"])
    settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))


@pytest.fixture(scope="session")
def virtual_capture(tmp_path_factory):
    """The folder of one `capture` of the virtual device, run through the CLI."""
    from test_cli import zelvik

    cwd = tmp_path_factory.mktemp("capture")
    run = zelvik("--virtual", "capture", "--out", "c", cwd=cwd)
    assert run.returncode == 0, run.stderr
    return cwd / "c"
