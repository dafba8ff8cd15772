"""Property tests: UIAnalyzer's records and lookups against their plain-Python
rendition, on generated hierarchy dumps, bounds texts and element trees."""
import copy
import xml.etree.ElementTree as ET

import pytest

pytest.importorskip("hypothesis")
from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from hostile import Dict, Str, assert_same, numbers, outcome, short_texts, texts, values  # noqa: E402
from plain.pellora import PlainAnalyzer  # noqa: E402

pellora = pytest.importorskip("zelvik.core.pellora")
native, plain = pellora.UIAnalyzer(None), PlainAnalyzer()

# ---------------------------------------------------------------- bounds texts


def digit_runs(longest):
    return st.text("0123456789", min_size=1, max_size=longest)


def bounds_texts(longest):
    """Texts made of bounds pieces: digit runs, brackets, commas, signs, blanks."""
    piece = st.one_of(digit_runs(longest), st.sampled_from(["[", "]", "][", ",", "-", "+", " ", "\t", "_", "١٢",
                                                            "0x1f", "", ",,", "]]", "[["]))
    pairs = st.builds(lambda a, b, c, d: f"[{a},{b}][{c},{d}]", *[digit_runs(longest)] * 4)
    return st.one_of(pairs, st.lists(piece, max_size=12).map("".join), texts)


@given(st.one_of(bounds_texts(40), values))
def test_parse_bounds_matches_plain(text):
    assert_same(outcome(native._parse_bounds, text), outcome(plain._parse_bounds, text))


# ---------------------------------------------------------------- dumps

FLAGS = ["checkable", "checked", "clickable", "enabled", "focusable", "focused", "scrollable", "long-clickable",
         "password", "selected", "displayed"]
STRINGS = ["class", "text", "resource-id", "content-desc", "package"]
flag_texts = st.one_of(st.sampled_from(["true", "false", "True", "TRUE", "1", "", " true"]), texts)
index_texts = st.one_of(st.sampled_from(["0", "3", " 3", "-1", "+7", "1_0", "١٢", "x", "", "99999999999999999999"]),
                        st.text("0123456789", min_size=1, max_size=20), texts)


def attributes(text, bounds, flag, index, extra):
    optional = {name: text for name in STRINGS}
    optional.update({name: flag for name in FLAGS})
    optional.update(bounds=bounds, index=index)
    return st.builds(lambda known, other: {**other, **known},
                     st.fixed_dictionaries({}, optional=optional), st.dictionaries(extra, text, max_size=2))


def element_trees(attrs):
    leaf = attrs.map(lambda a: ET.Element("node", a))

    def branch(children):
        return st.builds(lambda a, kids: _with_children(ET.Element("node", a), kids), attrs,
                         st.lists(children, max_size=4))

    return st.recursive(leaf, branch, max_leaves=8)


def _with_children(node, children):
    node.extend(children)
    return node


def xml_safe(strategy):
    """Texts that a dump can carry (XML 1.0 characters)."""
    return strategy.map(lambda s: "".join(c for c in s if c in "\t\n\r" or "\x20" <= c <= "\ud7ff"
                                          or "\ue000" <= c <= "\ufffd" or c >= "\U00010000"))


known_names = st.sampled_from(STRINGS + FLAGS + ["bounds", "index", "hint", "NAF", "Class"])
dump_texts = xml_safe(st.one_of(short_texts, short_texts, short_texts, texts))
dump_attrs = attributes(dump_texts, xml_safe(bounds_texts(40)), xml_safe(flag_texts), xml_safe(index_texts),
                        known_names)
# Element trees built directly hold any str, lone surrogates and NUL included.
raw_attrs = attributes(texts, bounds_texts(40), flag_texts, index_texts,
                       st.one_of(known_names, texts))


@given(element_trees(dump_attrs))
def test_parse_xml_node_on_dumps_matches_plain(tree):
    root = ET.fromstring(ET.tostring(tree, encoding="unicode"))
    assert_same(outcome(native._parse_xml_node, root), outcome(plain._parse_xml_node, root))


@given(element_trees(raw_attrs))
def test_parse_xml_node_on_element_trees_matches_plain(tree):
    assert_same(outcome(native._parse_xml_node, tree), outcome(plain._parse_xml_node, tree))


class Node:
    """An element look-alike: any attribute mapping, any children."""

    def __init__(self, attrib, children):
        self.attrib, self.children = attrib, children

    def __iter__(self):
        return iter(self.children)

    def __repr__(self):
        return f"Node({self.attrib!r}, {self.children!r})"


any_attrs = st.one_of(
    st.dictionaries(st.one_of(known_names, st.none(), st.integers(), texts, st.builds(Str, known_names)),
                    st.one_of(values, flag_texts, index_texts), max_size=6),
    st.builds(Dict, st.dictionaries(known_names, st.one_of(values, index_texts), max_size=4)),
    values,
)
nodes = st.recursive(st.builds(Node, any_attrs, st.just([])),
                     lambda kids: st.builds(Node, any_attrs, st.lists(st.one_of(kids, values), max_size=3)),
                     max_leaves=8)


@given(nodes)
def test_parse_xml_node_on_any_node_matches_plain(node):
    assert_same(outcome(native._parse_xml_node, node), outcome(plain._parse_xml_node, node))


# ---------------------------------------------------------------- lookups

small = st.integers(-5, 105)
rectangles = st.lists(small, min_size=4, max_size=4)
lookup_bounds = st.one_of(rectangles, rectangles, rectangles, st.just([]), st.none(),
                          st.lists(st.one_of(small, numbers), max_size=5), st.tuples(small, small, small, small),
                          values)
labels = st.sampled_from(["", "a", "b"])


def record_trees(bounds):
    def record(kids=st.just([])):
        return st.builds(lambda b, t, c: {"text": t, "bounds": b, "children": c}, bounds, labels, kids)

    return st.recursive(record(), lambda kids: record(st.lists(kids, max_size=4)), max_leaves=25)


odd_children = st.builds(lambda tree, odd: {**tree, "children": tree["children"] + [odd]},
                         record_trees(rectangles),
                         st.one_of(values, st.builds(Dict, st.fixed_dictionaries({"bounds": rectangles}))))
trees = st.one_of(record_trees(lookup_bounds), record_trees(rectangles), odd_children)
points = st.one_of(small, small, small, numbers, st.builds(Str, st.just("5")), values)


def assert_same_objects(native_outcome, plain_outcome):
    """The same exception, or the very same tree objects."""
    if native_outcome[0] == "ok" == plain_outcome[0]:
        a, b = native_outcome[1], plain_outcome[1]
        if isinstance(a, list) and isinstance(b, list):
            assert len(a) == len(b) and all(x is y for x, y in zip(a, b)), (a, b)
        else:
            assert a is b, (a, b)
    else:
        assert_same(native_outcome, plain_outcome)


@given(st.one_of(trees, trees, trees, values), points, points)
def test_find_element_at_position_matches_plain(tree, x, y):
    assert_same_objects(outcome(native.find_element_at_position, tree, x, y),
                        outcome(plain.find_element_at_position, tree, x, y))


def walk(record):
    yield record
    for child in record.get("children", []) if isinstance(record, dict) else []:
        if isinstance(child, dict):
            yield from walk(child)


@st.composite
def tree_and_target(draw):
    tree = draw(trees)
    records = list(walk(tree))
    kind = draw(st.sampled_from(["copy", "same", "changed", "other"]))
    if kind == "other":
        return tree, draw(st.one_of(st.dictionaries(st.sampled_from(["text", "bounds", "children"]), values),
                                    values))
    target = draw(st.sampled_from(records))
    if kind == "same":
        return tree, target
    target = copy.deepcopy(target)
    if kind == "changed":
        target[draw(st.sampled_from(["text", "bounds", "children", "extra"]))] = draw(values)
    return tree, target


@given(tree_and_target())
def test_get_element_path_matches_plain(case):
    tree, target = case
    assert_same_objects(outcome(native.get_element_path, tree, target),
                        outcome(plain.get_element_path, tree, target))
