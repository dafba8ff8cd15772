"""Benchmark of zelvik.core.locate: match counts and XPaths over a whole tree.

Uses the 5,000-node dump of bench_pellora (a messaging app's conversation
list) and counts the matches of every selector that CodeGenerator ranks for
every element, in one run:
  - native: one TreeIndex, count_matches for each selector record;
  - plain Python, naive: each selector's query read from its code, then
    every element of the tree compared with it;
  - plain Python, indexed: the same with dicts of value counts built once.
All three must give the same counts. It then times the relative and full
XPath of every element and checks each one with lxml on the dump text, and
shows the native counting on a 10,000-node dump to see that it stays linear.

Run from the repository root after an in-place build:
    python3 bench/bench_locate.py
"""

import ast
import collections
import pathlib
import sys
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from bench_pellora import make_dump  # noqa: E402

from zelvik.core import locate, pellora, zantho  # noqa: E402

ATTRS = {"resourceId": "resource_id", "text": "text", "description": "content_desc", "className": "class"}


def query(code):
    """The keywords of d(name="literal", ...), decoded."""
    call = ast.parse(code, mode="eval").body
    return {k.arg: ast.literal_eval(k.value) for k in call.keywords}


def naive_count(records, selector):
    """Every element compared with the query."""
    if selector["type"] == "coordinate":
        return 1
    q = [(ATTRS.get(k, k), v) for k, v in query(selector["code"]).items()]
    if q[0][0] == "textContains":
        needle = q[0][1].lower()
        return sum(needle in r["text"].lower() for r in records)
    if len(q) == 1:
        (k, v), = q
        return sum(r[k] == v for r in records)
    (k1, v1), (k2, v2) = q
    return sum(r[k1] == v1 and r[k2] == v2 for r in records)


class PlainIndex:
    """Counts by value, built once per tree, in plain Python."""

    def __init__(self, records):
        self.records = records
        self.by = {}
        self.contains = {}

    def count(self, selector):
        if selector["type"] == "coordinate":
            return 1
        q = query(selector["code"])
        if "textContains" in q:
            needle = q["textContains"].lower()
            if needle not in self.contains:
                self.contains[needle] = sum(1 for r in self.records if needle in r["text"].lower())
            return self.contains[needle]
        keys = tuple(sorted(q))
        if keys not in self.by:
            self.by[keys] = collections.Counter(tuple(r[ATTRS[k]] for k in keys) for r in self.records)
        return self.by[keys][tuple(q[k] for k in keys)]


def parsed(dump):
    """The tree of records as a capture builds it, and its records in pre-order."""
    tree = pellora.UIAnalyzer(None)._parse_xml_node(ET.fromstring(dump))
    records = []
    pending = [tree]
    while pending:
        record = pending.pop()
        records.append(record)
        pending.extend(reversed(record["children"]))
    return tree, records


def tree_of(rows):
    dump, _ = make_dump(rows)
    return (dump, *parsed(dump))


def selectors_of(records):
    generator = zantho.CodeGenerator()
    return [s for r in records for s in generator._generate_selectors(r)]


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def native_counts(tree, selectors):
    index = locate.TreeIndex(tree)
    return [index.count_matches(s) for s in selectors]


def main():
    dump, tree, records = tree_of(415)
    below = records[1:]  # the top record is the dump's <hierarchy>
    selectors = selectors_of(records)
    print(f"dump: {len(records)} elements, {len(selectors)} selector records")

    t_native, native = timed(lambda: native_counts(tree, selectors))
    t_indexed, indexed = timed(lambda: [p.count(s) for p in [PlainIndex(below)] for s in selectors])
    t_naive, naive = timed(lambda: [naive_count(below, s) for s in selectors])
    assert native == naive == indexed, "counts differ"
    many = sum(1 for c in native if c > 1)
    print(f"counts agree; {many} selectors match more than one element, "
          f"{sum(1 for c in native if c == 0)} match none")
    print(f"  native TreeIndex      {t_native * 1e3:9.1f} ms  (index built once, {t_native / len(selectors) * 1e6:.2f} us/selector)")
    print(f"  plain Python, indexed {t_indexed * 1e3:9.1f} ms  ({t_indexed / t_native:.1f}x native)")
    print(f"  plain Python, naive   {t_naive * 1e3:9.1f} ms  ({t_naive / t_native:.0f}x native)")

    from lxml import etree

    doc = etree.fromstring(dump.encode("utf-8"))
    index = locate.TreeIndex(tree)
    t_rel, relative = timed(lambda: [index.xpath_for(r) for r in records])
    t_full, full = timed(lambda: [index.xpath_for(r, "full") for r in records])
    elements = list(doc.iter())
    wrong = sum(doc.xpath(p) != [e] for paths in (relative, full) for p, e in zip(paths, elements))
    kinds = collections.Counter("values" if p.startswith("//*") and "/*" not in p[3:] else "positions"
                                for p in relative)
    print(f"xpaths: relative {t_rel * 1e3:.1f} ms, full {t_full * 1e3:.1f} ms for {len(records)} elements; "
          f"lxml: {wrong} select anything but their element; relative by values alone: {kinds['values']}, "
          f"with positions: {kinds['positions']}")

    _, big_tree, big_records = tree_of(830)
    big_selectors = selectors_of(big_records)
    t_big, _ = timed(lambda: native_counts(big_tree, big_selectors))
    print(f"10,000-node dump: {len(big_records)} elements, {len(big_selectors)} selectors, native {t_big * 1e3:.1f} ms "
          f"({t_big / len(big_selectors) * 1e6:.2f} us/selector; 5,000 nodes: {t_native / len(selectors) * 1e6:.2f})")


if __name__ == "__main__":
    main()
