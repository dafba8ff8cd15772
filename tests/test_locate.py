"""locate: match counts by uiautomator2's rules, and XPaths checked with lxml on the dump text."""
import copy
import gc
import pathlib
import sys
import weakref

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

etree = pytest.importorskip("lxml.etree")
u2 = pytest.importorskip("uiautomator2")
locate = pytest.importorskip("zelvik.core.locate")
from uiautomator2.xpath import PageSource  # noqa: E402
from zelvik.core import zantho  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))
from bench_locate import parsed  # noqa: E402
from bench_pellora import make_dump  # noqa: E402

GENERATOR = zantho.CodeGenerator()


def parse(dump):
    """The tree of records, the lxml document and uiautomator2's page source (what
    d.xpath() evaluates on), the records and the document's elements in pre-order."""
    tree, records = parsed(dump)
    doc = etree.fromstring(dump.encode("utf-8"))
    elements = list(doc.iter())
    assert len(elements) == len(records)
    return tree, (doc, PageSource(dump).root), records, elements


def assert_xpaths_select_exactly(index, docs, records, elements):
    doc, page = docs
    for record, element, renamed in zip(records, elements, page.iter()):
        for kind in ("relative", "full"):
            path = index.xpath_for(record, kind)
            assert doc.xpath(path) == [element], (kind, path)
        path = index.xpath_for(record, "uiautomator2")
        assert page.xpath(path) == [renamed], path


# ---------------------------------------------------------------- uiautomator2's matching rules


def u2_selector(code):
    """The real uiautomator2 Selector that the generated code builds."""
    return eval(code, {"d": lambda **kw: u2.Selector(**kw)})  # noqa: S307 - our own generated code


def u2_matches(selector, record):
    """UiSelector's criteria: equality, and textContains on lower-cased text."""
    attrs = {"text": "text", "className": "class", "description": "content_desc", "resourceId": "resource_id"}
    for key, value in selector.items():
        if key in ("mask", "childOrSibling", "childOrSiblingSelector"):
            continue
        if key == "textContains":
            if value.lower() not in record["text"].lower():
                return False
        elif record[attrs[key]] != value:
            return False
    return True


def naive_count(records, element, kind):
    """The same count from the element's own values, over every record below the top."""
    text = element["text"].strip()
    wanted = {
        "resource_id": {"resource_id": element["resource_id"]},
        "text": {"text": text},
        "content_desc": {"content_desc": element["content_desc"]},
        "class_name": {"class": element["class"]},
        "combined": ({"resource_id": element["resource_id"]} if element["resource_id"] else {"text": text})
        | {"class": element["class"]},
    }
    if kind == "coordinate":
        return 1
    if kind == "text_contains":
        return sum(text[:8].lower() in r["text"].lower() for r in records[1:])
    return sum(all(r[k] == v for k, v in wanted[kind].items()) for r in records[1:])


def assert_counts(index, records):
    """Every selector of every element, each distinct query checked once."""
    seen = set()
    for element in records:
        for s in GENERATOR._generate_selectors(element):
            count = index.count_matches(s)
            if s["code"] in seen:
                continue
            seen.add(s["code"])
            assert count == naive_count(records, element, s["type"]), s["code"]
            if s["type"] != "coordinate":
                selector = u2_selector(s["code"])
                assert count == sum(u2_matches(selector, r) for r in records[1:]), s["code"]


# ---------------------------------------------------------------- the benchmark dump

@pytest.fixture(scope="module")
def bench_dump():
    dump, _ = make_dump(rows=30)
    return parse(dump)


def test_bench_dump_xpaths_select_exactly_their_element(bench_dump):
    tree, docs, records, elements = bench_dump
    assert_xpaths_select_exactly(locate.TreeIndex(tree), docs, records, elements)


def test_bench_dump_counts_follow_uiautomator2(bench_dump):
    tree, _, records, _ = bench_dump
    assert_counts(locate.TreeIndex(tree), records)


def test_bench_dump_shapes(bench_dump):
    tree, _, records, _ = bench_dump
    index = locate.TreeIndex(tree)
    name = next(r for r in records if r["text"] == "联系人 3")
    row = next(r for r in records if name in r["children"])
    assert index.xpath_for(name) == "//*[@text='联系人 3']"
    assert index.xpath_for(tree) == index.xpath_for(tree, "full") == "/hierarchy"
    assert index.xpath_for(records[1], "full") == "/hierarchy/node[1]"
    full = index.xpath_for(name, "full")
    assert full.startswith("/hierarchy/node[1]/node[1]/") and full.endswith("/node[1]")
    # repeated rows: a rank among the elements that share the values
    assert index.xpath_for(row) == "(//*[@class='android.widget.LinearLayout'])[%d]" % (
        [r for r in records if r["class"] == "android.widget.LinearLayout"].index(row) + 1)
    item = {"type": "resource_id", "code": 'd(resourceId="com.example.messenger:id/conversation_item")'}
    assert index.count_matches(item) == locate.count_matches(tree, item) == 30


# ---------------------------------------------------------------- generated trees

VALUES = st.sampled_from(["", "OK", "ok", "Ok ", " OK", "a'b", 'a"b', "it's \"so\"", "'", "\"'", "中文", "<b>&amp;",
                          "x\\y", "zero\u200bwidth", "Log in to your account", "LOG IN TO THE APP", "tab\there"])
CLASSES = st.sampled_from(["android.widget.TextView", "android.widget.Button", "android.view.View"])


@st.composite
def nodes(draw, depth=0):
    attrs = {"class": draw(CLASSES), "text": draw(VALUES), "resource-id": draw(st.sampled_from(["", "app:id/a", "app:id/b"])),
             "content-desc": draw(VALUES), "bounds": "[0,0][10,10]"}
    children = draw(st.lists(nodes(depth + 1), max_size=3)) if depth < 3 else []
    return attrs, children


def to_xml(node, out):
    attrs, children = node
    out.append("<node%s>" % "".join(' %s="%s"' % (k, escape(v)) for k, v in attrs.items()))
    for c in children:
        to_xml(c, out)
    out.append("</node>")


def escape(value):
    return (value.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;").replace("\t", "&#9;"))


def dump_of(tops):
    out = ['<?xml version="1.0" encoding="UTF-8"?><hierarchy rotation="0">']
    for top in tops:
        to_xml(top, out)
    return "".join(out) + "</hierarchy>"


def quoted(value):
    if "'" not in value:
        return "'%s'" % value
    if '"' not in value:
        return '"%s"' % value
    return None  # concat(): checked on its own below


def shortest_by_values(records, record):
    """The shortest //*[@a='v']... that selects the record alone, or None."""
    names = [("resource_id", "resource-id"), ("text", "text"), ("content_desc", "content-desc"), ("class", "class")]
    best = None
    for mask in range(1, 16):
        keys = [names[a] for a in range(4) if mask >> a & 1]
        if not all(record[k] for k, _ in keys):
            continue
        if sum(all(r[k] == record[k] for k, _ in keys) for r in records) != 1:
            continue
        literals = [quoted(record[k]) for k, _ in keys]
        if None in literals:
            return "concat"
        path = "//*" + "".join("[@%s=%s]" % (name, lit) for (_, name), lit in zip(keys, literals))
        if best is None or len(path) < len(best):
            best = path
    return best


@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(nodes(), min_size=1, max_size=3))
def test_generated_trees(tops):
    tree, docs, records, elements = parse(dump_of(tops))
    index = locate.TreeIndex(tree)
    assert_xpaths_select_exactly(index, docs, records, elements)
    assert_counts(index, records)
    for record in records[1:]:
        path, expected = index.xpath_for(record), shortest_by_values(records, record)
        if expected is None:  # positions are needed
            assert path.startswith(("(", "/hierarchy")) or path.count("/*") >= 2
        elif expected != "concat":
            assert path == expected


# ---------------------------------------------------------------- quoting, rules, finding the element


def tree_of(*children, **top):
    base = {"class": "", "text": "", "resource_id": "", "content_desc": "", "children": []}
    return dict(base, **top, children=[dict(base, **c) for c in children])


@pytest.mark.parametrize("text, literal", [
    ("it's", "\"it's\""), ('say "hi"', "'say \"hi\"'"), ("it's \"so\"", "concat('it', \"'\", 's \"so\"')"),
    ("'\"", "concat(\"'\", '\"')"), ("\"'", "concat('\"', \"'\")"),
])
def test_values_are_quoted_for_xpath(text, literal):
    tree = tree_of({"text": text})
    assert locate.xpath_for(tree, tree["children"][0]) == "//*[@text=%s]" % literal
    doc = etree.fromstring('<hierarchy><node text="%s"/></hierarchy>' % escape(text))
    assert doc.xpath(locate.xpath_for(tree, tree["children"][0])) == [doc[0]]


@pytest.mark.parametrize("code, count", [
    ('d(text="OK")', 2), ('d(text="ok")', 1), ('d(text=" OK")', 0),  # exact, case-sensitive, not stripped
    ('d(textContains="o")', 4), ('d(textContains="OK")', 4), ('d(textContains="Ok ")', 1),  # case-insensitive
    ('d(className="B", text="OK")', 1), ('d(resourceId="x:id/\\"q\\"")', 1), ('d(description="\\u4e2d")', 1),
    ('d(text="")', 0), ('d(textContains="")', 6), ('d(resourceId="nope")', 0), ('d.click(5, 5)', 1),
    ('d(text="\\x4fK")', 2), ('d(text="\\117K")', 2), ('d(text="\\U0000004fK")', 2), ('d(text="O\\\nK")', 2),
    ('d(text="\\q")', 1),  # not an escape: the backslash stays
])
def test_counts_of_queries(code, count):
    tree = tree_of({"text": "OK", "class": "A"}, {"text": "OK", "class": "B"}, {"text": "ok"}, {"text": "Ok there"},
                   {"resource_id": 'x:id/"q"', "content_desc": "中", "text": "x"}, {"text": "\\q"}, text="OK")
    kind = "coordinate" if code.startswith("d.click") else "text"
    assert locate.count_matches(tree, {"type": kind, "code": code}) == count


def test_xpath_for_uiautomator2_uses_no_class_and_no_removed_character():
    tree = tree_of({"class": "a.Only", "text": "x"}, {"class": "a.B", "text": "x"}, {"text": "zero\u200bwidth"})
    only, _, invisible = tree["children"]
    assert locate.xpath_for(tree, only) == "//*[@class='a.Only']"
    assert locate.xpath_for(tree, only, "uiautomator2") == "(//*[@text='x'])[1]"
    assert locate.xpath_for(tree, invisible) == "//*[@text='zero\u200bwidth']"
    assert locate.xpath_for(tree, invisible, "uiautomator2") == "(//*)[4]"


def test_finding_by_identity_then_by_equality():
    tree = tree_of({"text": "same"}, {"text": "same"})
    first, second = tree["children"]
    assert locate.xpath_for(tree, second) == "(//*[@text='same'])[2]"  # the record itself
    assert locate.xpath_for(tree, copy.deepcopy(second)) == "(//*[@text='same'])[1]"  # the first equal one
    with pytest.raises(ValueError, match="not in the tree"):
        locate.xpath_for(tree, dict(first, text="other"))
    with pytest.raises(ValueError, match="not in the tree"):
        locate.xpath_for(tree, dict(first, extra=1))


# ---------------------------------------------------------------- bad input


@pytest.mark.parametrize("tree, error, message", [
    ({"children": [1]}, TypeError, "must be dicts, got int"),
    ({"children": [{"children": ()}]}, TypeError, "'children' of an element record must be a list, got tuple"),
    ({"text": 5}, TypeError, "'text' of an element record must be a str, got int"),
    ({"children": [type("D", (dict,), {})()]}, TypeError, "subclasses of dict"),
])
def test_bad_trees(tree, error, message):
    with pytest.raises(error, match=message):
        locate.TreeIndex(tree)


@pytest.mark.parametrize("record, error, message", [
    ({"code": 'd(text="a")'}, ValueError, "no 'type'"),
    ({"type": "text"}, ValueError, "no 'code'"),
    ({"type": "text", "code": 5}, TypeError, "must be a str, got int"),
    ({"type": "xpath", "code": 'd(text="a")'}, ValueError, "unknown selector type 'xpath'"),
    ({"type": "text", "code": 'd(text="a"'}, ValueError, "not a uiautomator2 query"),
    ({"type": "text", "code": 'd(text="a", text="b")'}, ValueError, "not a uiautomator2 query"),
    ({"type": "text", "code": 'd(checked="a")'}, ValueError, "not a uiautomator2 query"),
    ({"type": "coordinate", "code": "click(1, 2)"}, ValueError, "not a uiautomator2 query"),
])
def test_bad_selector_records(record, error, message):
    with pytest.raises(error, match=message):
        locate.count_matches(tree_of(), record)


def test_bad_arguments():
    tree = tree_of({"text": "a"})
    with pytest.raises(ValueError, match="kind must be 'relative', 'full' or 'uiautomator2'"):
        locate.xpath_for(tree, tree, "short")
    with pytest.raises(TypeError, match="Argument 'tree' has incorrect type"):
        locate.TreeIndex([])
    index = locate.TreeIndex(tree)
    index._index = 5
    with pytest.raises(TypeError, match="native state"):
        index.count_matches({"type": "text", "code": 'd(text="a")'})


@pytest.mark.parametrize("depth", [5000, 100000])
def test_deep_and_cyclic_trees_raise_recursion_error(depth):
    top = node = {"children": []}
    for _ in range(depth):
        child = {"children": []}
        node["children"].append(child)
        node = child
    with pytest.raises(RecursionError):
        locate.TreeIndex(top)
    loop = {"children": []}
    loop["children"].append(loop)
    with pytest.raises(RecursionError):
        locate.TreeIndex(loop)


def test_an_index_inside_its_tree_is_collected():
    class Marker:
        pass

    tree = tree_of({"text": "a"})
    tree["marker"] = Marker()
    alive = weakref.ref(tree["marker"])
    tree["index"] = locate.TreeIndex(tree)
    del tree
    gc.collect()
    assert alive() is None


def test_an_element_comparison_that_drops_the_index_does_not_crash():
    tree = tree_of({"text": "a"})
    index = locate.TreeIndex(tree)

    class Sly(str):
        def __eq__(self, other):
            index.__dict__.clear()
            gc.collect()
            return False

        __hash__ = str.__hash__

    with pytest.raises(ValueError, match="not in the tree"):
        index.xpath_for({"class": Sly("")})


def test_repeated_use_keeps_no_memory(bench_dump):
    import tracemalloc

    tree, _, records, _ = bench_dump
    selectors = [s for r in records[:40] for s in GENERATOR._generate_selectors(r)]

    def run():
        index = locate.TreeIndex(tree)
        for s in selectors:
            index.count_matches(s)
        for r in records[:40]:
            index.xpath_for(r, "uiautomator2")
            index.xpath_for(copy.deepcopy(r))
        for bad in ({"type": "text"}, {"type": "text", "code": 'd(text="\\x4")'}):
            with pytest.raises(ValueError):
                index.count_matches(bad)
        cyclic = tree_of({"text": "a"})
        cyclic["index"] = locate.TreeIndex(cyclic)

    for _ in range(5):
        run()
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(30):
        run()
    gc.collect()
    growth = tracemalloc.get_traced_memory()[0] - before
    tracemalloc.stop()
    assert growth < 30 * 64
