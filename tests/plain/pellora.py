"""UIAnalyzer of zelvik.core.pellora in plain Python: records and lookup."""
from typing import List, Optional

from .codetext import check, to_int


class PlainAnalyzer:
    """The same steps written in plain Python."""

    def _parse_xml_node(self, node: "ET.Element") -> dict:
        attrs = node.attrib
        bounds = self._parse_bounds(attrs.get("bounds", ""))
        node_data = {
            "class": attrs.get("class", ""),
            "text": attrs.get("text", ""),
            "resource_id": attrs.get("resource-id", ""),
            "content_desc": attrs.get("content-desc", ""),
            "package": attrs.get("package", ""),
            "bounds": bounds,
            "checkable": attrs.get("checkable", "false") == "true",
            "checked": attrs.get("checked", "false") == "true",
            "clickable": attrs.get("clickable", "false") == "true",
            "enabled": attrs.get("enabled", "true") == "true",
            "focusable": attrs.get("focusable", "false") == "true",
            "focused": attrs.get("focused", "false") == "true",
            "scrollable": attrs.get("scrollable", "false") == "true",
            "long_clickable": attrs.get("long-clickable", "false") == "true",
            "password": attrs.get("password", "false") == "true",
            "selected": attrs.get("selected", "false") == "true",
            "displayed": attrs.get("displayed", "true") == "true",
            "index": int(attrs.get("index", "0")),
            "children": [],
        }
        for child in node:
            child_data = self._parse_xml_node(child)
            node_data["children"].append(child_data)
        return node_data

    def _parse_bounds(self, bounds_str: str) -> List[int]:
        check("bounds_str", str, bounds_str)
        if not bounds_str:
            return [0, 0, 0, 0]
        try:
            bounds_str = bounds_str.replace("][", ",").replace("[", "").replace("]", "")
            coords = [int(x) for x in bounds_str.split(",")]
            return coords
        except:  # noqa: E722
            return [0, 0, 0, 0]

    def find_element_at_position(self, hierarchy: dict, x: int, y: int) -> Optional[dict]:
        check("hierarchy", dict, hierarchy)
        x, y = to_int("x", x), to_int("y", y)

        def search_node(node: dict) -> Optional[dict]:
            check("node", dict, node)
            if not node.get("bounds"):
                return None
            left, top, right, bottom = node["bounds"]
            if left <= x <= right and top <= y <= bottom:
                for child in node.get("children", []):
                    result = search_node(child)
                    if result:
                        return result
                return node
            return None

        return search_node(hierarchy)

    def get_element_path(self, hierarchy: dict, target_element: dict) -> List[dict]:
        check("hierarchy", dict, hierarchy)
        check("target_element", dict, target_element)

        def find_path(node: dict, path: List[dict]) -> Optional[List[dict]]:
            check("node", dict, node)
            current_path = path + [node]
            if node == target_element:
                return current_path
            for child in node.get("children", []):
                result = find_path(child, current_path)
                if result:
                    return result
            return None

        result = find_path(hierarchy, [])
        return result if result else []
