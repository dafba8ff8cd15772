"""Fixtures shared by the test modules."""
import pytest


@pytest.fixture(scope="session")
def virtual_capture(tmp_path_factory):
    """The folder of one `capture` of the virtual device, run through the CLI."""
    from test_cli import zelvik

    cwd = tmp_path_factory.mktemp("capture")
    run = zelvik("--virtual", "capture", "--out", "c", cwd=cwd)
    assert run.returncode == 0, run.stderr
    return cwd / "c"
