"""Child programs under the sanitizer run: adb lives with the inherited
preload of libasan/libubsan, chromium gets an environment without it."""
import shutil
import subprocess
import sys

import pytest

import sanitizer

pytestmark = pytest.mark.skipif(not sanitizer.ACTIVE, reason="only under the sanitizer run")


def test_python_and_adb_run_with_the_inherited_preload():
    assert subprocess.run([sys.executable, "-c", "import zelvik.core.zantho"], timeout=60).returncode == 0
    if shutil.which("adb"):
        result = subprocess.run(["adb", "version"], capture_output=True, text=True, timeout=30)
        assert result.returncode == 0 and "Android Debug Bridge" in result.stdout


@pytest.mark.skipif(not shutil.which("chromium"), reason="no chromium")
def test_chromium_runs_with_child_env(tmp_path):
    page = tmp_path / "page.html"
    page.write_text("<p id=x>zelvik</p>")
    command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={tmp_path / 'profile'}",
               "--dump-dom", page.as_uri()]
    env = sanitizer.child_env()
    assert "LD_PRELOAD" not in env
    result = subprocess.run(command, capture_output=True, text=True, timeout=120, env=env)
    assert '<p id="x">zelvik</p>' in result.stdout
