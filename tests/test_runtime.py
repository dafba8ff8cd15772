"""The native function objects behave like Python functions."""
import inspect
import pickle
import traceback
import types

import pytest

zantho = pytest.importorskip("zelvik.core.zantho")
CodeGenerator = zantho.CodeGenerator


def test_functions_bind_like_python_functions():
    gen = CodeGenerator()
    func = CodeGenerator.__dict__["_get_element_summary"]
    assert CodeGenerator._get_element_summary is func
    bound = gen._get_element_summary
    assert isinstance(bound, types.MethodType)
    assert bound.__func__ is func and bound.__self__ is gen
    assert bound({"class": "A"}) == func(gen, {"class": "A"}) == func(self=gen, element={"class": "A"})
    assert repr(func).startswith("<function CodeGenerator._get_element_summary at 0x")


def test_function_metadata_is_writable_like_python():
    func = CodeGenerator.__dict__["generate_batch_code"]
    assert func.__name__ == "generate_batch_code"
    assert func.__qualname__ == "CodeGenerator.generate_batch_code"
    assert func.__module__ == "zelvik.core.zantho"
    func.custom = 1
    assert func.__dict__["custom"] == 1
    del func.custom
    with pytest.raises(TypeError):
        func.__name__ = 3


def test_signature_and_defaults():
    func = CodeGenerator.generate_element_code
    assert func.__defaults__ == (None,)
    assert str(inspect.signature(func)) == "(self, element, options=None)"
    assert str(inspect.signature(CodeGenerator().generate_element_code)) == "(element, options=None)"


def test_classes_are_plain():
    assert type(CodeGenerator) is type
    assert CodeGenerator.__mro__ == (CodeGenerator, object)
    gen = CodeGenerator()
    gen.anything = 1
    assert vars(gen) == {"anything": 1}
    assert pickle.loads(pickle.dumps(gen)).__class__ is CodeGenerator


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda g: g.generate_batch_code(), "generate_batch_code() takes exactly 2 positional arguments (1 given)"),
        (lambda g: g.generate_batch_code([], []), "generate_batch_code() takes exactly 2 positional arguments (3 given)"),
        (lambda g: g.generate_element_code(), "generate_element_code() takes at least 2 positional arguments (1 given)"),
        (lambda g: g.generate_element_code({}, {}, {}),
         "generate_element_code() takes at most 3 positional arguments (4 given)"),
        (lambda g: g.generate_batch_code(elements=[], x=1), "generate_batch_code() got an unexpected keyword argument 'x'"),
        (lambda g: g.generate_batch_code([], elements=[]),
         "generate_batch_code() got multiple values for keyword argument 'elements'"),
        (lambda g: CodeGenerator.__init__(), "__init__() takes exactly one argument (0 given)"),
        (lambda g: CodeGenerator.__init__(g, 1), "__init__() takes exactly one argument (2 given)"),
        (lambda g: CodeGenerator.__init__(self=g), "__init__() takes no keyword arguments"),
        (lambda g: g.generate_batch_code(None),
         "Argument 'elements' has incorrect type (expected list, got NoneType)"),
        (lambda g: g.generate_batch_code(()), "Argument 'elements' has incorrect type (expected list, got tuple)"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(CodeGenerator())
    assert str(info.value) == message


def test_subclass_of_builtin_refused_with_note():
    class MyList(list):
        pass

    with pytest.raises(TypeError) as info:
        CodeGenerator().generate_batch_code(MyList())
    text = str(info.value)
    assert text.startswith("Argument 'elements' has incorrect type (expected list, got MyList). ")
    assert text.endswith(".") and "ubclass" in text


def test_errors_carry_a_traceback_entry_for_the_native_function():
    with pytest.raises(IndexError) as info:
        CodeGenerator()._generate_selectors({"bounds": [1]})
    last = traceback.extract_tb(info.value.__traceback__)[-1]
    assert last.filename == "zelvik/core/zantho"
    assert last.name == "zelvik.core.zantho.CodeGenerator._generate_selectors"


def test_endless_recursion_through_native_methods_raises_recursion_error():
    class Loop(CodeGenerator):
        def _generate_selectors(self, element):
            return self.generate_element_code(element)

    with pytest.raises(RecursionError):
        Loop().generate_element_code({"text": "x"})


class SneakyInt(int):
    def __format__(self, spec):
        return "__import__('os').getcwd()"

    __repr__ = __str__ = __format__


@pytest.mark.parametrize("value", ["lone \ud800 surrogate", 'quote " and \\ backslash', "tab\tnew\nline\x7f"])
def test_generated_code_keeps_any_text_literal(value):
    import ast

    mirvane = pytest.importorskip("zelvik.core.mirvane")
    element = {"text": value, "resource_id": value, "class": "c", "bounds": [0, 0, 2, 2]}
    code = CodeGenerator().generate_element_code(element)["full_code"]
    ast.parse(code)
    literal = CodeGenerator()._generate_selectors(element)[0]["code"][len('d(resourceId='):-1]
    assert ast.literal_eval(literal) == value

    recorder = mirvane.ActionRecorder()
    recorder.start_recording(value)
    recorder.record_action("input", {"text": value}, element)
    recorder.record_action("click", {"x": SneakyInt(5), "y": 1})
    script = recorder.generate_script()
    ast.parse(script)
    assert "    d.click(5, 1)" in script.splitlines()


def test_deep_native_recursion_stops_before_the_c_stack_runs_out():
    import sys

    pellora = pytest.importorskip("zelvik.core.pellora")
    node = {"bounds": [0, 0, 10, 10], "children": []}
    top = node
    for _ in range(300_000):
        child = {"bounds": [0, 0, 10, 10], "children": []}
        node["children"].append(child)
        node = child
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(10**6)
    try:
        with pytest.raises(RecursionError):
            pellora.UIAnalyzer(None).find_element_at_position(top, 1, 1)
    finally:
        sys.setrecursionlimit(limit)
