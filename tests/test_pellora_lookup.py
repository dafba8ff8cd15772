"""Element lookup by position and element path."""
import copy

import pytest

pellora = pytest.importorskip("zelvik.core.pellora")
analyzer = pellora.UIAnalyzer(None)
find, path_of = analyzer.find_element_at_position, analyzer.get_element_path


def rec(bounds, *children, **extra):
    return dict(extra, bounds=bounds, children=list(children))


SCREEN = rec([0, 0, 1080, 1920], rec([0, 0, 1080, 1000], name="first"), rec([0, 500, 1080, 1920], name="second"))


@pytest.mark.parametrize("x, y, expected", [
    (100, 700, "first"),  # both children contain it: the earlier sibling wins
    (100, 1200, "second"),
    (1080, 1920, "second"),  # edges are inside
    (10.9, 1500.2, "second"),
    (True, 1500, "second"),
])
def test_point_lookup_takes_the_first_containing_child(x, y, expected):
    assert find(SCREEN, x, y)["name"] == expected


def test_point_lookup_returns_the_tree_objects_and_none_outside():
    assert find(SCREEN, 100, 700) is SCREEN["children"][0]
    assert find(SCREEN, 1081, 10) is None and find(SCREEN, 10, -1) is None
    leafless = rec([0, 0, 1080, 1920], rec([2000, 0, 3000, 10]))
    assert find(leafless, 5, 5) is leafless  # no child contains it: the node itself


@pytest.mark.parametrize("bounds", [None, [], "missing"])
def test_records_without_bounds_are_never_found_nor_searched(bounds):
    hidden = rec([0, 0, 100, 100], rec([0, 0, 10, 10], name="inner"))
    if bounds == "missing":
        del hidden["bounds"]
    else:
        hidden["bounds"] = bounds
    top = rec([0, 0, 1080, 1920], hidden)
    assert find(top, 5, 5) is top


def test_zero_bounds_top_contains_only_the_origin():
    top = rec([0, 0, 0, 0], rec([0, 0, 5, 5], name="kid"))
    assert find(top, 1, 1) is None and find(top, 0, 0)["name"] == "kid"


def test_descendants_outside_their_parent_are_not_found():
    top = rec([0, 0, 100, 100], rec([0, 0, 50, 50], rec([0, 0, 500, 500], name="big")))
    assert find(top, 70, 70) is top


@pytest.mark.parametrize("bounds, error, message", [
    ([1, 2, 3], ValueError, "not enough values to unpack (expected 4, got 3)"),
    ([1, 2, 3, 4, 5], ValueError, "too many values to unpack (expected 4"),
    (7, TypeError, "cannot unpack non-iterable int object"),
    (["a", 0, 9, 9], TypeError, "'<=' not supported between instances of 'str' and 'int'"),
])
def test_unusable_bounds_raise_the_interpreters_errors(bounds, error, message):
    with pytest.raises(error) as info:
        find({"bounds": bounds}, 5, 5)
    assert str(info.value).startswith(message)


def test_any_iterable_bounds_and_children_and_big_numbers():
    top = {"bounds": iter([0, 0, 2 ** 70, 2 ** 70]), "children": (rec((0.5, 0, 10, 10)),)}
    assert find(top, 2 ** 69, 1) is top
    top["bounds"] = [0, 0, 2 ** 70, 2 ** 70]
    assert find(top, 5, 5) is top["children"][0]


@pytest.mark.parametrize("child", [[1, 2], None, type("D", (dict,), {})(bounds=[0, 0, 9, 9])])
def test_children_must_be_dicts(child):
    top = rec([0, 0, 10, 10], child)
    with pytest.raises(TypeError, match=r"Argument 'node' has incorrect type \(expected dict, got "):
        find(top, 1, 1)
    with pytest.raises(TypeError, match=r"Argument 'node' has incorrect type \(expected dict, got "):
        path_of(top, {"x": 1})


@pytest.mark.parametrize("args", [([], 1, 1), ({}, "1", 1), ({}, 1, None)])
def test_lookup_arguments_are_checked(args):
    with pytest.raises(TypeError):
        find(*args)


TREE = rec([0, 0, 9, 9], rec([0, 0, 5, 5], rec([0, 0, 2, 2], rec([0, 0, 1, 1], name="leaf"))), rec([6, 6, 9, 9]))


def test_path_to_top_leaf_and_missing():
    assert path_of(TREE, TREE) == [TREE] and path_of(TREE, TREE)[0] is TREE
    leaf = TREE["children"][0]["children"][0]["children"][0]
    path = path_of(TREE, leaf)
    assert len(path) == 4 and path[0] is TREE and path[-1] is leaf
    assert all(b in a["children"] for a, b in zip(path, path[1:]))
    assert path_of(TREE, rec([0, 0, 1, 1], name="elsewhere")) == []


def test_path_finds_equal_copies_and_returns_the_tree_records():
    target = copy.deepcopy(TREE["children"][1])
    path = path_of(TREE, target)
    assert path[-1] is TREE["children"][1] and path[-1] is not target
    target["bounds"] = [6, 6, 9, 10]
    assert path_of(TREE, target) == []
    assert path_of(TREE, {k: v for k, v in TREE["children"][1].items() if k != "children"}) == []


def test_path_reports_the_first_equal_record_in_preorder():
    twin = rec([1, 1, 1, 1])
    top = rec([0, 0, 9, 9], rec([0, 0, 5, 5], dict(twin)), dict(twin))
    assert path_of(top, twin)[-1] is top["children"][0]["children"][0]


def test_lookups_do_not_change_the_tree():
    before = copy.deepcopy(TREE)
    find(TREE, 1, 1), path_of(TREE, {"nothing": 1})
    assert TREE == before


def deep(depth):
    node = rec([0, 0, 1, 1])
    for _ in range(depth):
        node = rec([0, 0, 1, 1], node)
    return node


def test_deep_trees_raise_recursion_error():
    tree = deep(100000)
    with pytest.raises(RecursionError):
        find(tree, 0, 0)
    with pytest.raises(RecursionError):
        path_of(tree, {"absent": True})
