"""The actions file of `zelvik script`.

A JSON list of actions (or an object whose "actions" is that list). Each
action is an object with a "type" and, by type:

    {"type": "click", "at": [540, 1200]}          also "long_click"
    {"type": "input", "text": "hello", "at": "540,900"}   "at" optional
    {"type": "key", "key": "back"}
    {"type": "swipe", "from": [540, 1800], "to": [540, 600], "duration": 0.3}

Any action may add "delay" (seconds since the previous action, default 0)
and "params" (extra parameters, recorded as given); other types are
recorded with their "params" as they are. A point names the element under
it, taken from a capture of the device.
"""
import json
from dataclasses import dataclass
from typing import List, Optional, Tuple

from .errors import UsageError


@dataclass
class Step:
    type: str
    params: dict
    point: Optional[Tuple[int, int]]
    delay: float


def parse_point(value) -> Tuple[int, int]:
    """"X,Y" or [X, Y] as two ints; ValueError otherwise."""
    parts = value.split(",") if isinstance(value, str) else value
    try:
        if not isinstance(parts, (list, tuple)) or len(parts) != 2 or any(isinstance(v, bool) for v in parts):
            raise ValueError
        x, y = (int(str(v).strip()) for v in parts)
    except ValueError:
        raise ValueError(f"expected X,Y (two integers), got {json.dumps(value, ensure_ascii=False)}") from None
    return x, y


def _step(entry) -> Step:
    if not isinstance(entry, dict):
        raise ValueError("an action must be an object")
    kind = entry.get("type")
    if not isinstance(kind, str) or not kind:
        raise ValueError('"type" must be a non-empty string')
    params = entry.get("params", {})
    if not isinstance(params, dict):
        raise ValueError('"params" must be an object')
    params = dict(params)
    point = parse_point(entry["at"]) if "at" in entry else None
    if kind in ("click", "long_click"):
        if point is None:
            raise ValueError(f'a {kind} needs "at": X,Y')
        params.update(x=point[0], y=point[1])
    elif kind == "input":
        if not isinstance(entry.get("text"), str):
            raise ValueError('an input needs "text": a string')
        params["text"] = entry["text"]
    elif kind == "key":
        if not isinstance(entry.get("key"), str):
            raise ValueError('a key needs "key": a string')
        params["key"] = entry["key"]
    elif kind == "swipe":
        if "from" not in entry or "to" not in entry:
            raise ValueError('a swipe needs "from" and "to": X,Y')
        (fx, fy), (tx, ty) = parse_point(entry["from"]), parse_point(entry["to"])
        params.update(fx=fx, fy=fy, tx=tx, ty=ty, duration=_number(entry, "duration", 0.5))
    return Step(kind, params, point, _number(entry, "delay", 0))


def _number(entry: dict, key: str, default: float) -> float:
    value = entry.get(key, default)
    if isinstance(value, bool) or not isinstance(value, (int, float)) or value < 0:
        raise ValueError(f'"{key}" must be a number of seconds, not below 0')
    return value


def load_actions(path: str) -> List[Step]:
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except OSError as e:
        raise UsageError(f"cannot read {path}: {e.strerror or e}") from e
    except ValueError as e:  # JSON syntax, or text that is not UTF-8
        raise UsageError(f"{path} is not valid JSON: {e}") from e
    if isinstance(data, dict):
        data = data.get("actions")
    if not isinstance(data, list) or not data:
        raise UsageError(f"{path}: expected a non-empty list of actions")
    steps = []
    for number, entry in enumerate(data, 1):
        try:
            steps.append(_step(entry))
        except ValueError as e:
            raise UsageError(f"{path}: action {number}: {e}") from None
    return steps
