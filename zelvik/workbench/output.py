"""Text output of the workbench: tables and element reports."""
import json
from typing import Iterable, List, Sequence

from .checks import ElementChecks

DEVICE_COLUMNS = ("serial", "model", "brand", "version", "sdk", "resolution", "status")
STATES = ("clickable", "long_clickable", "checkable", "checked", "enabled", "focusable", "focused",
          "scrollable", "password", "selected", "displayed")


def table(headers: Sequence[str], rows: Iterable[Sequence]) -> str:
    """Left-aligned columns, two blanks apart, headers in capitals."""
    rows = [[str(v) for v in row] for row in rows]
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(headers)]
    lines = [[h.upper() for h in headers], *rows]
    return "\n".join("  ".join(v.ljust(w) for v, w in zip(line, widths)).rstrip() for line in lines)


def device_table(records: List[dict]) -> str:
    """Device-information records (or scan error entries) as a table."""
    def status(record):
        error = record.get("error")
        return f"{record.get('status')}: {error}" if error else record.get("status", "")

    rows = [[record.get("id", ""), *(record.get(k, "") for k in DEVICE_COLUMNS[1:-1]), status(record)]
            for record in records]
    return table(DEVICE_COLUMNS, rows)


def count_elements(hierarchy: dict) -> int:
    return 1 + sum(count_elements(child) for child in hierarchy.get("children", []))


def label(element: dict) -> str:
    """One line naming an element: class, text or description, resource id."""
    parts = [element.get("class") or "(hierarchy)"]
    if element.get("text"):
        parts.append(repr(element["text"]))
    elif element.get("content_desc"):
        parts.append(f"desc={element['content_desc']!r}")
    if element.get("resource_id"):
        parts.append(element["resource_id"])
    return "  ".join(parts)


def _section(title: str, lines: Iterable[str]) -> str:
    return "\n".join([title, *(f"  {line}" for line in lines)])


def matches(count: int) -> str:
    """A selector's match count on the captured tree; more than one is flagged."""
    if count == 1:
        return "1 match"
    return f"! matches {count} elements" if count > 1 else "! matches no element"


def xpath_code(xpath: str) -> str:
    return f"d.xpath({json.dumps(xpath, ensure_ascii=False)})"


def element_report(serial: str, x: int, y: int, element: dict, path: List[dict], checks: ElementChecks,
                   full_xpath: bool = False) -> str:
    """The inspect report: the element, its path, selectors with their match
    counts, XPaths, generated code."""
    code = checks.code
    states = [s for s in STATES if element.get(s) is True]
    fields = [("class", element.get("class", "")), ("text", element.get("text", "")),
              ("resource id", element.get("resource_id", "")), ("content desc", element.get("content_desc", "")),
              ("package", element.get("package", "")), ("bounds", element.get("bounds")),
              ("state", ", ".join(states))]
    parts = [_section(f"Element at ({x}, {y}) on {serial}", (f"{k:<13}{v}".rstrip() for k, v in fields))]
    parts.append(_section("Path from the root", (
        f"{depth:>2}  {'  ' * depth}{level.get('class') or '(hierarchy)'}"
        + (f"  {level['resource_id']}" if level.get("resource_id") else "")
        for depth, level in enumerate(path))))
    parts.append(_section("Selectors, best first", (
        f"{i}. {s['type']:<14} priority {s['priority']}  {s['stability']:<10} {s['code']}  {matches(n)}"
        for i, (s, n) in enumerate(zip(code["selectors"], checks.matches), 1))))
    xpaths = [f"relative  {xpath_code(checks.xpath)}"]
    if full_xpath:
        # uiautomator2 renames each node after its class, so the full path
        # holds on the dump text only.
        xpaths.append(f"full      {checks.full_xpath}  (on the dump)")
    parts.append(_section("XPath", xpaths))
    parts.append(_section("Operations", [", ".join(op["type"] for op in code["operations"])]))
    parts.append("Code\n" + code["full_code"])
    return "\n\n".join(parts)
