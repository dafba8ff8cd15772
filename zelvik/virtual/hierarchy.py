"""Screen trees to and from the XML of uiautomator2's dump_hierarchy().

A dump is a <hierarchy rotation="0"> element holding one <node> per view,
windows first; every node carries the same attributes in the same order.
"""
import xml.etree.ElementTree as ET
from typing import Tuple

from .screen import FLAGS, Node

DECLARATION = "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\r\n"


def format_bounds(bounds) -> str:
    left, top, right, bottom = bounds
    return f"[{left},{top}][{right},{bottom}]"


def parse_bounds(text: str) -> Tuple[int, int, int, int]:
    """"[l,t][r,b]" as four ints; (0, 0, 0, 0) when unreadable."""
    try:
        left, top, right, bottom = (int(v) for v in text.replace("][", ",").strip("[]").split(","))
    except ValueError:
        return (0, 0, 0, 0)
    return (left, top, right, bottom)


def _element(n: Node, index: int, order: list) -> ET.Element:
    order[0] += 1
    attrs = {"index": str(index), "text": n.text, "resource-id": n.rid, "class": n.cls,
             "package": n.package, "content-desc": n.desc}
    attrs.update((flag, "true" if flag in n.flags else "false") for flag in FLAGS)
    attrs.update({"visible-to-user": "true", "bounds": format_bounds(n.bounds),
                  "drawing-order": str(order[0]), "hint": n.hint, "display-id": "0"})
    element = ET.Element("node", attrs)
    element.extend(_element(child, i, order) for i, child in enumerate(n.children))
    return element


def to_xml(root: Node, rotation: int = 0) -> str:
    """The dump text of a screen whose root stands for <hierarchy>."""
    hierarchy = ET.Element("hierarchy", {"rotation": str(rotation)})
    order = [0]
    hierarchy.extend(_element(window, i, order) for i, window in enumerate(root.children))
    ET.indent(hierarchy, space="  ")
    return DECLARATION + ET.tostring(hierarchy, encoding="unicode")


def _node(element: ET.Element) -> Node:
    a = element.attrib
    return Node(cls=a.get("class", ""), bounds=parse_bounds(a.get("bounds", "")), text=a.get("text", ""),
                rid=a.get("resource-id", ""), desc=a.get("content-desc", ""), package=a.get("package", ""),
                hint=a.get("hint", ""), flags={flag for flag in FLAGS if a.get(flag) == "true"},
                children=[_node(child) for child in element])


def from_xml(text: str) -> Node:
    """The screen tree of a dump text; raises ET.ParseError on bad XML."""
    return _node(ET.fromstring(text))
