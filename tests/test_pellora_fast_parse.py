"""The hierarchy fetch builds its records straight from the XML parser when
nobody can tell: same records (key order included) or the same error as the
ordinary steps, which still run whenever anything could tell."""
import importlib.util
import pathlib
import random
import subprocess
import sys
import textwrap
import xml.etree.ElementTree as ET

import pytest
from hypothesis import given, settings, strategies as st
from test_pellora_records import plain_bounds

pellora = pytest.importorskip("zelvik.core.pellora")
UIAnalyzer = pellora.UIAnalyzer
ROOT = pathlib.Path(__file__).resolve().parent.parent


def load_bench():
    spec = importlib.util.spec_from_file_location("bench_pellora", ROOT / "bench" / "bench_pellora.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


bench = load_bench()
INLINE_ASYNCIO, OTHER_ET = bench.INLINE_ASYNCIO, bench.OTHER_ET


class Ordinary(UIAnalyzer):
    """Forces the ordinary steps: ET.fromstring, then the records."""

    def _parse_xml_node(self, node):
        return super()._parse_xml_node(node)


@pytest.fixture
def inline(monkeypatch):
    monkeypatch.setattr(pellora, "asyncio", INLINE_ASYNCIO)


def fetch(analyzer, xml):
    """The records, or the error's type and text."""
    try:
        return bench.fetch(analyzer, xml)
    except Exception as e:  # noqa: BLE001
        return type(e), str(e)


def assert_same(xml, fast=UIAnalyzer(None), ordinary=Ordinary(None)):
    got, expected = fetch(fast, xml), fetch(ordinary, xml)
    assert got == expected and repr(got) == repr(expected), xml[:300]
    return got


def walk(record):
    yield record
    for child in record["children"]:
        yield from walk(child)


def test_benchmark_dumps_give_the_same_fresh_records(inline):
    for rows in (0, 3, 415):
        xml, nodes = bench.make_dump(rows)
        records = assert_same(xml)
        again = fetch(UIAnalyzer(None), xml)
        containers = [id(r) for r in walk(records)] + [id(r[k]) for r in walk(records) for k in ("bounds", "children")]
        assert len(containers) == 3 * nodes == len(set(containers))
        assert not set(containers) & {id(r) for r in walk(again)}


NAMES = ["class", "text", "resource-id", "content-desc", "package", "bounds", "checkable", "checked", "clickable",
         "enabled", "focusable", "focused", "scrollable", "long-clickable", "password", "selected", "displayed",
         "index", "hint", "drawing-order"]


@pytest.mark.parametrize("xml", [
    '<node text="a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;" class="&#10;&#x9;&#13;" content-desc="x&#10;y"/>',
    '<node text="line\nbreak\ttab\r\nend" resource-id="  spaced  "/>',
    '<hierarchy><node text="a"><![CDATA[<node text="not a node"/>]]></node></hierarchy>',
    '<hierarchy><!-- a comment --><node text="a"/><?target some data?><node text="b"/></hierarchy>',
    '<?xml version="1.0"?><?pi before?><!-- before --><hierarchy/><!-- after --><?pi after?>',
    '<h xmlns="urn:d" xmlns:p="urn:p"><p:node class="c" text="t"/><node p:hint="h" class="d"/></h>',
    '<h xmlns:p="urn:p"><node p:class="prefixed" class="plain"/></h>',
    '<h xmlns:p="urn:p"><node p:bounds="[1,2][3,4]" bounds="[5,6][7,8]"/></h>',
    '<node xmlns:p="urn:p" p:text="x"/>', '<node q:text="x"/>', '<node xml:lang="en" xml:class="x"/>',
    '\ufeff<hierarchy rotation="0"><node text="after a BOM"/></hierarchy>',
    '<?xml version="1.0" encoding="ISO-8859-1"?><node text="é ü 设置"/>',
    '<?xml version="1.0" encoding="UTF-16"?><node text="x"/>',
    '<?xml version="1.0" encoding="no-such-codec"?><node text="x"/>',
    "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\r\n<hierarchy rotation=\"0\"/>",
    '<node text="𝄞 😀 \U0010fffd" class="𐍈"/>', '<node text="&#x1D11E;&#128512;"/>',
    '<node/>', '<node class="x" class="y"/>', '<node text=""/>', '<node index=""/>', '<node index=" 7 "/>',
    '<node index="x"/>', '<node><node><node index="1_0"/></node><node index="٣"/></node>',
    '<node index="99999999999999999999999"/>', '<node bounds="[0,0][99999999999999999999,1]"/>',
    '<node bounds="[1,2][3,4]" enabled="false" displayed="false" clickable="true" checked="True"/>',
    '<node bounds="[١,2][3,4]"/>', '<node bounds=" [1,2] "/>', '<node bounds="[1,2][3,4][5,6][7,8][9,10]"/>',
    '<!DOCTYPE hierarchy><hierarchy/>', '<!DOCTYPE h [<!ENTITY e "entity text">]><h><node text="&e;"/></h>',
    '<!DOCTYPE h SYSTEM "http://127.0.0.1:9/none.dtd"><h><node text="&undefined;"/></h>',
    '<node text="&undefined;"/>', '<node text="&#0;"/>', '<node text="<"/>', '<a><b></a>', '<a/><b/>', '<a>',
    '<a>\x00</a>', '<a text="\ud800"/>', '<a text="bad\udcff"/>', 'not xml at all', '<p:a/>', '<a b=1/>',
    '<a xmlns:p=""/>', '<a xmlns:xml="urn:wrong"/>',
    "<node>" * 10000 + "</node>" * 10000,
    "<node>" * 10000 + "</node>" * 9999,
], ids=lambda xml: ascii(xml[:40]))
def test_edge_cases_agree(inline, xml):
    assert_same(xml)


def test_a_str_with_surrogates_gives_the_encoding_error(inline):
    assert fetch(UIAnalyzer(None), '<a text="\ud800"/>')[1].startswith("H4: 'utf-8' codec can't encode")


def random_value(rng):
    pieces = ["", "true", "false", "True", "0", "7", " 3", "-1", "x", "设置", "😀", "&amp;", "&lt;", "&#10;",
              "&#x1F600;", "[0,63][1080,210]", "[1,2]", "[1,,2]", "[" + "9" * 19 + ",1]", "a b", "&quot;", "'"]
    return "".join(rng.choice(pieces) for _ in range(rng.randint(0, 3)))


def random_dump(rng):
    out, depth, count = [], 0, rng.randint(1, 8)
    if rng.random() < 0.1:
        out.append('<?xml version="1.0" encoding="UTF-8"?>')
    for _ in range(count):
        names = rng.sample(NAMES, rng.randint(0, 8))
        if rng.random() < 0.05:
            names.append(rng.choice(["p:text", "q:class", "xmlns:p"]))
        attrs = "".join(f' {name}="{random_value(rng)}"' for name in names)
        tag = rng.choice(["node", "node", "hierarchy", "p:node"] if rng.random() < 0.1 else ["node"])
        out.append(f"<{tag}{attrs}>" if tag == "node" else f'<{tag}{attrs} xmlns:p="urn:p">')
        out.append(rng.choice(["", "", "text", "<!-- c -->", "<?pi x?>", "<![CDATA[x]]>", "&amp;"]))
        depth += 1
        while depth and rng.random() < 0.5:
            out.append("</node>" if rng.random() < 0.98 else "</other>")
            depth -= 1
    out.append("</node>" * depth)
    text = "".join(out).replace("<hierarchy", "<node").replace("<p:node", "<node")
    if rng.random() < 0.02:
        text = text[: rng.randint(0, len(text))]
    return text


def test_generated_dumps_agree(inline):
    rng, fast, ordinary = random.Random(12), UIAnalyzer(None), Ordinary(None)
    outcomes = set()
    for _ in range(20000):
        xml = random_dump(rng)
        got = assert_same(xml, fast, ordinary)
        outcomes.add("records" if isinstance(got, dict) else got[1][:3])
    assert outcomes == {"records", "H3:", "H4:"}


# ---------------------------------------------------------------- guards


class Calls:
    """The ElementTree functions that run, seen by a profiler."""

    def __init__(self):
        self.names = []

    def __call__(self, frame, event, arg):
        if event == "call" and frame.f_code.co_filename == ET.__file__:
            self.names.append(frame.f_code.co_name)

    def during(self, fn):
        sys.setprofile(self)
        try:
            return fn()
        finally:
            sys.setprofile(None)


XML = '<hierarchy><node text="a" bounds="[1,2][3,4]"><!-- c --><node text="b"/></node></hierarchy>'


def test_the_fast_path_runs_no_elementtree_code(inline):
    calls = Calls()
    records = calls.during(lambda: fetch(UIAnalyzer(None), XML))
    assert calls.names == [] and records == fetch(Ordinary(None), XML)


def logged(log, fn):
    def wrapper(*args, **kwargs):
        log.append(fn.__name__)
        return fn(*args, **kwargs)
    return wrapper


@pytest.mark.parametrize("name", ["fromstring", "XMLParser", "TreeBuilder"])
def test_a_replaced_elementtree_part_is_called(inline, monkeypatch, name):
    log = []
    monkeypatch.setattr(ET, name, logged(log, getattr(ET, name)))
    assert fetch(UIAnalyzer(None), XML) == fetch(Ordinary(None), XML)
    assert len(log) == 2  # once for each fetch


@pytest.mark.parametrize("change", ["ET", "ParseError", "defaults", "Element"])
def test_other_elementtree_changes_run_fromstring(inline, monkeypatch, change):
    if change == "ET":
        monkeypatch.setattr(pellora, "ET", OTHER_ET)
    elif change == "ParseError":
        monkeypatch.setattr(ET, "ParseError", type("ParseError", (ET.ParseError,), {}))
    elif change == "defaults":
        monkeypatch.setattr(ET.fromstring, "__defaults__", (None,))
    else:  # the comment factory builds an Element through ET.Element
        log = []
        monkeypatch.setattr(ET, "Element", logged(log, ET.Element))
    calls = Calls()
    got = calls.during(lambda: fetch(UIAnalyzer(None), XML))
    assert "XML" in calls.names and got == fetch(Ordinary(None), XML)
    if change == "Element":
        assert len(log) == 2


def test_a_replaced_element_factory_is_called_before_a_recursion_error(inline, monkeypatch):
    log = []
    monkeypatch.setattr(ET, "Element", logged(log, ET.Element))
    xml = "<node>" * 5000 + "</node>" * 5000 + "<!-- after the records' limit -->"
    assert fetch(UIAnalyzer(None), xml) == fetch(Ordinary(None), xml)
    assert fetch(UIAnalyzer(None), xml)[1].startswith("H4: maximum recursion depth exceeded") and len(log) == 3


class Text(str):
    pass


class OwnBounds(UIAnalyzer):
    def _parse_bounds(self, bounds_str):
        self.seen.append(bounds_str)
        return super()._parse_bounds(bounds_str)


class OwnNode(UIAnalyzer):
    def _parse_xml_node(self, node):
        self.seen.append(node.get("text"))
        return super()._parse_xml_node(node)


class NodeProperty(UIAnalyzer):
    @property
    def _parse_xml_node(self):
        self.seen.append("looked up")
        return super()._parse_xml_node


def instance_bounds():
    analyzer = UIAnalyzer(None)
    analyzer.seen = []
    analyzer._parse_bounds = lambda bounds_str: analyzer.seen.append(bounds_str) or [9]
    return analyzer


@pytest.mark.parametrize("make, expected", [
    (lambda: OwnBounds(None), ["", "[1,2][3,4]", ""]),
    (lambda: OwnNode(None), [None, "a", "b"]),
    (lambda: NodeProperty(None), ["looked up"] * 3),
    (instance_bounds, ["", "[1,2][3,4]", ""]),
])
def test_overridden_steps_are_called(inline, make, expected):
    analyzer = make()
    analyzer.seen = []
    calls = Calls()
    calls.during(lambda: fetch(analyzer, XML))
    assert analyzer.seen == expected and "XML" in calls.names


def test_a_str_subclass_runs_fromstring(inline):
    calls = Calls()
    got = calls.during(lambda: fetch(UIAnalyzer(None), Text(XML)))
    assert "XML" in calls.names and got == fetch(UIAnalyzer(None), XML)


# ---------------------------------------------------------------- deep trees

DEPTH_PROBE = textwrap.dedent("""
    import sys
    sys.path.insert(0, {tests!r})
    import test_pellora_fast_parse as t
    from zelvik.core import pellora
    pellora.asyncio = t.INLINE_ASYNCIO

    def outcome(ordinary, depth):
        # the ordinary steps forced by another ET, with no Python frame between the levels
        pellora.ET = t.OTHER_ET if ordinary else t.ET
        r = t.fetch(pellora.UIAnalyzer(None), f"<node bounds='{{bounds}}'>" * depth + "</node>" * depth)
        if isinstance(r, tuple):
            return "error: " + r[1]
        chain = []  # walked without recursion: the records are as deep as the limit allows
        while r:
            chain.append((list(r), r["bounds"], r["index"]))
            r = r["children"][0] if r["children"] else None
        return chain

    for limit in (400, 1000):
        sys.setrecursionlimit(limit)
        for bounds in ("[0,0][10,10]", " 0,0,10,10", ""):
            low, high = 1, 5000
            while low < high:  # the deepest tree the ordinary steps build
                mid = (low + high + 1) // 2
                if str(outcome(True, mid)).startswith("error"):
                    high = mid - 1
                else:
                    low = mid
            agree = [outcome(False, d) == outcome(True, d) for d in (low - 1, low, low + 1, low + 2)]
            print(limit, len(bounds), low, all(agree))
""")



def test_deep_trees_fail_at_the_same_depth():
    """At the deepest tree the ordinary steps build, and one level deeper,
    the fast path gives the same: records, or the same RecursionError. With
    bounds that take the text steps, the deepest level's bounds come from a
    call that itself goes past the limit."""
    code = DEPTH_PROBE.format(tests=str(ROOT / "tests"))
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr[-2000:]
    lines = [line.split() for line in r.stdout.splitlines()]
    assert len(lines) == 6 and all(agree == "True" and 10 < int(deepest) < int(limit)
                                   for limit, _, deepest, agree in lines), r.stdout


# ---------------------------------------------------------------- bounds


digit_runs = st.integers(0, 40).map(lambda n: "9" * n) | st.text("0123456789", min_size=15, max_size=40)
bounds_texts = st.lists(digit_runs, min_size=1, max_size=9).flatmap(
    lambda runs: st.sampled_from(["[{}]", "{}", "[{}][{}]"]).map(
        lambda form: ",".join(runs) if form == "{}" else "][".join(runs).join("[]")))


@settings(max_examples=150, deadline=None)
@given(bounds_texts)
def test_long_digit_runs_read_as_the_text_steps_do(text):
    analyzer = UIAnalyzer(None)
    assert analyzer._parse_bounds(text) == plain_bounds(text)
    saved, pellora.asyncio = pellora.asyncio, INLINE_ASYNCIO
    try:
        assert fetch(analyzer, f'<node bounds="{text}"/>')["bounds"] == plain_bounds(text)
    finally:
        pellora.asyncio = saved
