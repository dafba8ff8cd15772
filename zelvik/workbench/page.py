"""The inspector page: one self-contained HTML file with the screenshot
inlined, the element data as JSON and plain JS; it needs no network and
no server. The page's own files are in page/."""
import base64
import json
import re
from importlib import resources
from typing import List, Optional, Tuple

from . import output

# Escapes that keep JSON inert inside <script>: no "</script", no "<!--".
SCRIPT_SAFE = (("<", "\\u003c"), (">", "\\u003e"), ("&", "\\u0026"), ("\u2028", "\\u2028"), ("\u2029", "\\u2029"))


def script_json(data) -> str:
    text = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
    for char, escape in SCRIPT_SAFE:  # a JSON text holds these only inside strings
        text = text.replace(char, escape)
    return text


def _asset(name: str) -> str:
    return resources.files(__package__).joinpath("page", name).read_text(encoding="utf-8")


def _preorder(tree: dict) -> List[Tuple[dict, int]]:
    """(element, parent id) of every element, parents first."""
    out, stack = [], [(tree, -1)]
    while stack:
        element, parent = stack.pop()
        out.append((element, parent))
        me = len(out) - 1
        stack.extend((child, me) for child in reversed(element.get("children", [])))
    return out


def page_data(shot, point: Optional[Tuple[int, int]]) -> dict:
    """What the page shows, computed with the core for every element."""
    elements = _preorder(shot.hierarchy)
    nodes = []
    for element, parent in elements:
        checks = shot.checker.check(element)
        nodes.append({
            "parent": parent, "children": [], "bounds": element.get("bounds"), "label": output.label(element),
            "attrs": {k: v for k, v in element.items() if k != "children"},
            "selectors": [{"type": s["type"], "priority": s["priority"], "stability": s["stability"],
                           "code": s["code"], "count": n, "matches": output.matches(n)}
                          for s, n in zip(checks.code["selectors"], checks.matches)],
            "xpath": output.xpath_code(checks.xpath), "full_xpath": checks.full_xpath,
            "code": checks.code["full_code"]})
        if parent != -1:
            nodes[parent]["children"].append(len(nodes) - 1)
    return {"serial": shot.serial, "time": shot.taken, "geometry": shot.geometry,
            "png": base64.b64encode(shot.png).decode("ascii"), "point": list(point) if point else None,
            "nodes": nodes}


def inspector_page(shot, point: Optional[Tuple[int, int]] = None) -> bytes:
    """The page of the capture `shot`, `point` preselected."""
    parts = {"style": _asset("viewer.css"), "script": _asset("viewer.js"),
             "data": script_json(page_data(shot, point))}
    # One pass, so no inserted part is searched for markers again.
    return re.sub(r"\{\{(\w+)\}\}", lambda m: parts[m.group(1)], _asset("viewer.html")).encode("utf-8")
