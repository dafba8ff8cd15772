"""Property tests: CodeGenerator against its plain-Python rendition, on
hostile element records; every generated code text is valid Python."""
import ast

import pytest

pytest.importorskip("hypothesis")
from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from hostile import assert_same, numbers, outcome, texts, values  # noqa: E402
from plain.zantho import PlainCodeGenerator  # noqa: E402

zantho = pytest.importorskip("zelvik.core.zantho")
native, plain = zantho.CodeGenerator(), PlainCodeGenerator()

CLASSES = ["android.widget.EditText", "android.widget.Button", "RichEditor", "CreditCardView", "EditTextLike",
           "com.example.MyEditText", ""]
names = st.one_of(texts, st.sampled_from(CLASSES))
# Numbers whose floor half writes as Python source.
coordinates = st.one_of(st.integers(), st.floats(), st.booleans(), st.decimals(allow_nan=False), st.fractions())
FIELDS = ("class", "text", "resource_id", "content_desc")


def element_of(field, flag, bounds):
    return st.fixed_dictionaries({}, optional={
        "class": field, "text": field, "resource_id": field, "content_desc": field,
        "bounds": bounds, "clickable": flag, "long_clickable": flag, "scrollable": flag,
    })


hostile_elements = element_of(
    st.one_of(names, names, names, values), st.one_of(st.booleans(), st.booleans(), values),
    st.one_of(st.lists(st.integers(-10 ** 6, 10 ** 6), min_size=4, max_size=4), st.lists(numbers, max_size=6),
              st.tuples(numbers, numbers, numbers, numbers), values))
# Records whose code generation succeeds: text fields are str, bounds numbers.
text_elements = element_of(names, st.booleans(), st.lists(coordinates, min_size=4, max_size=4))
options = st.one_of(st.none(), st.dictionaries(texts, values, max_size=2), values)


@given(hostile_elements)
def test_generate_selectors_matches_plain(element):
    assert_same(outcome(native._generate_selectors, element), outcome(plain._generate_selectors, element))


@given(st.one_of(hostile_elements, values))
def test_generate_element_code_matches_plain(element):
    assert_same(outcome(native.generate_element_code, element), outcome(plain.generate_element_code, element))


@given(hostile_elements, options)
def test_generate_element_code_options_match_plain(element, opts):
    assert_same(outcome(native.generate_element_code, element, opts),
                outcome(plain.generate_element_code, element, opts))


@given(st.one_of(st.lists(st.one_of(hostile_elements, hostile_elements, values), max_size=5), values))
def test_generate_batch_code_matches_plain(elements):
    assert_same(outcome(native.generate_batch_code, elements), outcome(plain.generate_batch_code, elements))


def keyword_value(code):
    """The value of the first keyword argument of a locator expression."""
    call = ast.parse(code, mode="eval").body
    return ast.literal_eval(call.keywords[0].value)


@given(text_elements)
def test_element_code_is_python_and_keeps_the_values(element):
    if not element:
        return
    status, *result = outcome(native.generate_element_code, element)
    if status != "ok":  # e.g. an infinite or NaN centre; the comparison above covers it
        return
    result = result[0]
    ast.parse(result["full_code"])
    for selector in result["selectors"]:
        ast.parse(selector["code"], mode="eval")
    by_type = {s["type"]: s["code"] for s in result["selectors"]}
    if "resource_id" in by_type:
        assert keyword_value(by_type["resource_id"]) == element["resource_id"]
    if "text" in by_type:
        assert keyword_value(by_type["text"]) == element["text"].strip()
    if "content_desc" in by_type:
        assert keyword_value(by_type["content_desc"]) == element["content_desc"]
    if "class_name" in by_type:
        assert keyword_value(by_type["class_name"]) == element["class"]


@given(st.lists(text_elements, max_size=3))
def test_batch_code_is_python(elements):
    status, *result = outcome(native.generate_batch_code, elements)
    if status == "ok" and elements:
        tree = ast.parse(result[0])
        listed = next(node.value for node in tree.body
                      if isinstance(node, ast.Assign) and node.targets[0].id == "elements")
        assert len(listed.elts) == sum(1 for element in elements if plain._generate_selectors(element))
