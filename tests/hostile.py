"""Hostile inputs for the property tests, and how results are compared.

Texts hold every control character, quotes, backslashes, brackets, astral
characters and lone surrogates, sometimes at huge sizes; values come in every
type: numbers of all sizes, NaN, bytes, containers, subclasses of the
built-in types and objects whose str, repr, truth or comparison fails.
"""
import math

from hypothesis import strategies as st

import sanitizer

SPECIAL = [chr(c) for c in range(0x20)] + [
    "\x7f", "\x85", "\u2028", "\ufeff", '"', "'", "\\", "#", "[", "]", ",", "{", "}", " ", "-", "/", ":", ".",
    "\ud800", "\udbff", "\udc80", "\udfff",  # lone surrogates
    "\U0001f600", "\U00010000", "\U0010ffff", "中", "é", "a", "Z", "0", "9"]
characters = st.sampled_from(SPECIAL)
short_texts = st.one_of(st.text(characters, max_size=24), st.text(max_size=24))
# A piece repeated to tens of thousands of characters (thousands under the
# sanitizer, where every allocation is checked).
HUGE = (1_000, 5_000) if sanitizer.ACTIVE else (5_000, 40_000)
huge_texts = st.builds(lambda piece, n: piece * n, st.text(characters, min_size=1, max_size=6),
                       st.integers(*HUGE))
texts = st.one_of(short_texts, short_texts, short_texts, huge_texts)


class Str(str):
    """A str subclass."""


class Int(int):
    """An int subclass."""


class Dict(dict):
    """A dict subclass."""


class Failing:
    """An object whose text, repr, truth and comparisons raise."""

    def __str__(self):
        raise ValueError("no text")

    def __repr__(self):
        raise LookupError("no repr")

    def _repr_pretty_(self, p, cycle):  # for Hypothesis' reports
        p.text("Failing()")

    def __bool__(self):
        raise ArithmeticError("no truth")

    def __eq__(self, other):
        raise RuntimeError("no comparison")

    __hash__ = object.__hash__


class Opaque:
    """A plain object: true, equal only to itself, with a default repr."""

    def __repr__(self):
        return "Opaque()"


class Textless:
    """An object whose __str__ returns a non-str."""

    def __str__(self):
        return 5  # type: ignore[return-value]


numbers = st.one_of(
    st.integers(-3000, 3000),
    st.integers(),
    st.sampled_from([10 ** 30, -(10 ** 20), 2 ** 63, -(2 ** 63), 2 ** 63 - 1]),
    st.builds(lambda: 10 ** 5000),  # too long for str()
    st.floats(),
    st.sampled_from([math.nan, math.inf, -math.inf, -0.0, 0.1, 1e300]),
    st.booleans(),
    st.builds(Int, st.integers(-100, 100)),
    st.decimals(allow_nan=True),
    st.fractions(),
    st.complex_numbers(max_magnitude=1e6),
)
atoms = st.one_of(
    st.none(),
    numbers,
    texts,
    st.builds(Str, short_texts),
    st.binary(max_size=12),
    st.builds(Failing), st.builds(Opaque), st.builds(Textless), st.builds(object),
    st.sampled_from([Ellipsis, type, len]),
)
values = st.one_of(
    atoms, atoms, atoms,
    st.lists(atoms, max_size=3),
    st.tuples(atoms, atoms),
    st.dictionaries(short_texts, atoms, max_size=3),
    st.builds(Dict, st.dictionaries(short_texts, atoms, max_size=2)),
)
# Values whose repr is Python source: what numeric positions may hold when
# generated code must parse.
data_atoms = st.one_of(st.none(), st.booleans(), st.integers(), st.floats(), texts, st.binary(max_size=8),
                       st.decimals(), st.fractions())
data = st.one_of(data_atoms, data_atoms, st.lists(data_atoms, max_size=3),
                 st.dictionaries(short_texts, data_atoms, max_size=3))


def outcome(fn, *args, **kwargs):
    """("ok", result) or ("raised", exception type, message)."""
    try:
        return ("ok", fn(*args, **kwargs))
    except Exception as e:  # noqa: BLE001 - the exception is the result
        return ("raised", type(e), str(e))


def same(a, b):
    """Equal in type and value, containers item by item and in order, floats
    by their repr (so NaN equals NaN, -0.0 differs from 0.0)."""
    if a is b:
        return True
    if type(a) is not type(b):
        return False
    if type(a) is float:
        return repr(a) == repr(b)
    if type(a) in (list, tuple):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        return len(a) == len(b) and all(same(ka, kb) and same(va, vb)
                                        for (ka, va), (kb, vb) in zip(a.items(), b.items()))
    return a == b


def assert_same(native, plain):
    assert same(native, plain), f"native {native!r}\nplain  {plain!r}"
