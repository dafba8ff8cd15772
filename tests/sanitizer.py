"""The environment of child programs under the sanitizer run.

CI's sanitizer stage preloads libasan and libubsan into every process it
starts and names that preload in ZELVIK_SANITIZER_PRELOAD. Python children
(python -m zelvik) and adb run fine with it; chromium hangs and chromedriver
aborts ("Shadow memory range interleaves"). Start those with child_env().
"""
import os

ACTIVE = bool(os.environ.get("ZELVIK_SANITIZER_PRELOAD"))


def child_env(env=None):
    """A copy of `env` (os.environ by default) without the sanitizer preload."""
    env = dict(os.environ if env is None else env)
    preload = os.environ.get("ZELVIK_SANITIZER_PRELOAD")
    if preload and env.get("LD_PRELOAD") == preload:
        del env["LD_PRELOAD"]
    return env
