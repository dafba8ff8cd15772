"""A stand-in for the `subprocess` module."""
import subprocess


class Completed:
    """What `subprocess.run` returns: returncode, stdout, stderr."""

    def __init__(self, returncode=0, stdout="", stderr=""):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr


class FakeSubprocess:
    """Records `run(args, **kwargs)` calls as (list(args), kwargs) in `calls`.

    The answer to an argument list comes from `answers[tuple(args)]`: a
    Completed, an exception instance (raised), or a callable taking
    (args, kwargs) and returning either. Unknown argument lists get
    `default` (exit status 0, no output).
    """

    TimeoutExpired = subprocess.TimeoutExpired
    CalledProcessError = subprocess.CalledProcessError

    def __init__(self, answers=None, default=None):
        self.answers = dict(answers or {})
        self.default = default if default is not None else Completed()
        self.calls = []

    def run(self, args, **kwargs):
        self.calls.append((list(args), kwargs))
        answer = self.answers.get(tuple(args), self.default)
        if callable(answer) and not isinstance(answer, BaseException):
            answer = answer(args, kwargs)
        if isinstance(answer, BaseException):
            raise answer
        return answer
