"""Values inserted into generated code, and the native argument checks."""

# Control characters, DEL and lone surrogates are escaped in literals and in
# comments; a literal also escapes the backslash and the double quote.
_COMMENT = {c: "\\x%02x" % c for c in [*range(0x20), 0x7F]}
_COMMENT.update({0x0A: "\\n", 0x0D: "\\r", 0x09: "\\t"})
_COMMENT.update({c: "\\u%04x" % c for c in range(0xD800, 0xE000)})
_LITERAL = {**_COMMENT, ord("\\"): "\\\\", ord('"'): '\\"'}
_SPECIAL = frozenset(map(chr, _LITERAL))


def literal(value):
    """str(value) escaped for a double-quoted string literal."""
    text = str(value)
    return text if _SPECIAL.isdisjoint(text) else text.translate(_LITERAL)


def comment(value):
    """str(value) escaped for a # comment."""
    text = str(value)
    return text if _SPECIAL.isdisjoint(text) else text.translate(_COMMENT)


def number(value):
    """A value in a numeric position: an int, float, bool or None as the
    built-in type formats it, anything else as its repr."""
    if value is None or isinstance(value, bool):
        return repr(value)
    if isinstance(value, int):
        return int.__repr__(value)
    if isinstance(value, float):
        return float.__repr__(value)
    return repr(value)


def type_name(obj):
    """The C-level name of the object's type (tp_name)."""
    t = type(obj)
    if t.__flags__ & (1 << 9) or t.__module__ == "builtins":  # a class statement's type, or a built-in
        return t.__name__
    return f"{t.__module__}.{t.__name__}"


def check(name, expected, value, none=False):
    """The argument check of an exact built-in type (None too when `none`)."""
    if type(value) is expected or (none and value is None):
        return
    note = ". Subclasses of built-in types are not accepted for this argument." if isinstance(value, expected) else ""
    got = type_name(value)
    raise TypeError(f"Argument '{name}' has incorrect type (expected {expected.__name__}, got {got}){note}")


def to_int(name, value):
    """The argument conversion of a parameter annotated int."""
    if type(value) is int:
        return value
    t = type(value)
    if not (hasattr(t, "__index__") or hasattr(t, "__int__") or hasattr(t, "__float__") or isinstance(value, complex)):
        raise TypeError(f"Argument '{name}' has incorrect type (expected int, got {type_name(value)})")
    return int(value)
