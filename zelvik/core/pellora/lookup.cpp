#include "pellora.hpp"

#include <string>
#include <vector>

namespace zv::pellora {

// The argument check of the nested functions' `node: dict` parameter.
[[noreturn]] static void refuse_node(PyObject *v) {
    std::string message = "Argument 'node' has incorrect type (expected dict, got ";
    message += type_name(v) + ")";
    if (PyDict_Check(v)) message += ". Subclasses of built-in types are not accepted for this argument.";
    raise(PyExc_TypeError, message);
}

static void check_node(py::handle node) {
    if (!PyDict_CheckExact(node.ptr())) refuse_node(node.ptr());
}

// bool(a == b) with the full comparison also when a is b (a dict compares
// its values then, which may run Python code). Two exact dicts are compared
// by the dict type's own comparison, which is what `==` calls for them.
static bool compares_equal(py::handle a, py::handle b) {
    PyObject *r = PyDict_CheckExact(a.ptr()) && PyDict_CheckExact(b.ptr())
                      ? PyDict_Type.tp_richcompare(a.ptr(), b.ptr(), Py_EQ)
                      : PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ);
    if (!r) throw py::error_already_set();
    return truthy(py::reinterpret_steal<py::object>(r));
}

// `left, top, right, bottom = value`, with the interpreter's errors.
static void unpack4(py::handle value, py::object (&out)[4]) {
    PyObject *v = value.ptr();
    if ((PyList_CheckExact(v) || PyTuple_CheckExact(v)) && Py_SIZE(v) == 4) {
        PyObject **items = PySequence_Fast_ITEMS(v);
        for (int i = 0; i < 4; ++i) out[i] = py::reinterpret_borrow<py::object>(items[i]);
        return;
    }
    py::iterator it;
    try {
        it = py::iter(value);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_TypeError) || Py_TYPE(v)->tp_iter || PySequence_Check(v)) throw;
        raise(PyExc_TypeError, "cannot unpack non-iterable " + type_name(v) + " object");
    }
    for (int i = 0; i < 4; ++i, ++it) {
        if (it == py::iterator::sentinel())
            raise(PyExc_ValueError, "not enough values to unpack (expected 4, got " + std::to_string(i) + ")");
        out[i] = py::reinterpret_borrow<py::object>(*it);
    }
    if (it == py::iterator::sentinel()) return;
    std::string message = "too many values to unpack (expected 4";
#if PY_VERSION_HEX >= 0x030C0000
    if (PyList_CheckExact(v) || PyTuple_CheckExact(v) || PyDict_CheckExact(v))
        message += ", got " + std::to_string(PyObject_Size(v));
#endif
    raise(PyExc_ValueError, message + ")");
}

// a <= b, as an `if` tests it; exact ints are compared here.
static bool less_equal(py::handle a, py::handle b) {
    if (PyLong_CheckExact(a.ptr()) && PyLong_CheckExact(b.ptr())) {
        int overflow_a, overflow_b;
        const long long va = PyLong_AsLongLongAndOverflow(a.ptr(), &overflow_a);
        const long long vb = PyLong_AsLongLongAndOverflow(b.ptr(), &overflow_b);
        if (!overflow_a && !overflow_b) return va <= vb;
    }
    PyObject *r = PyObject_RichCompare(a.ptr(), b.ptr(), Py_LE);
    if (!r) throw py::error_already_set();
    return truthy(py::reinterpret_steal<py::object>(r));
}

// `for child in node.get("children", [])`, stopping when visit(child) is true.
template <class Visit>
static bool any_child(py::handle node, Visit visit) {
    PyObject *children = PyDict_GetItemWithError(node.ptr(), "children"_n.ptr());
    if (!children) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return false;
    }
    py::object held = py::reinterpret_borrow<py::object>(children);
    if (PyList_CheckExact(children)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(children); ++i) {
            py::object child = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(children, i));
            if (visit(child)) return true;
        }
        return false;
    }
    for (py::handle child : held)
        if (visit(child)) return true;
    return false;
}

// search_node of find_element_at_position.
struct PointSearch {
    py::handle x, y;

    py::object search_node(py::handle node) const {
        RecursionGuard guard;
        check_node(node);
        if (!truthy(get(node, "bounds"_n))) return py::none();
        py::object b[4];  // left, top, right, bottom
        unpack4(item(node, "bounds"_n), b);
        if (!(less_equal(b[0], x) && less_equal(x, b[2]) && less_equal(b[1], y) && less_equal(y, b[3])))
            return py::none();
        py::object result;
        if (any_child(node, [&](py::handle child) {
                result = search_node(child);
                return truthy(result);
            }))
            return result;
        return py::reinterpret_borrow<py::object>(node);
    }
};

static py::object find_element_at_position(const Args &a) { return PointSearch{a[2], a[3]}.search_node(a[1]); }

// find_path of get_element_path; `path` holds the records from the top to
// the node being visited.
struct PathSearch {
    py::handle target_element;
    std::vector<py::object> path;

    bool find_path(py::handle node) {
        RecursionGuard guard;
        check_node(node);
        path.push_back(py::reinterpret_borrow<py::object>(node));
        if (compares_equal(node, target_element)) return true;
        if (any_child(node, [&](py::handle child) { return find_path(child); })) return true;
        path.pop_back();
        return false;
    }
};

static py::object get_element_path(const Args &a) {
    PathSearch search{a[2], {}};
    py::list result;
    if (search.find_path(a[1]))
        for (const py::object &node : search.path) result.append(node);
    return result;
}

const FunctionSpec kFindElementAtPosition{
    .name = "find_element_at_position",
    .qualname = "UIAnalyzer.find_element_at_position",
    .doc = "在层次结构中查找指定位置的元素",
    .params = {{"self"}, {"hierarchy", Check::Dict, "dict"}, {"x", Check::Int, "int"}, {"y", Check::Int, "int"}},
    .result = {Check::Dict, "Optional[dict]"},
    .body = find_element_at_position,
};

const FunctionSpec kGetElementPath{
    .name = "get_element_path",
    .qualname = "UIAnalyzer.get_element_path",
    .doc = "获取从根节点到目标元素的路径",
    .params = {{"self"}, {"hierarchy", Check::Dict, "dict"}, {"target_element", Check::Dict, "dict"}},
    .result = {Check::List, "List[dict]"},
    .body = get_element_path,
};

}  // namespace zv::pellora
