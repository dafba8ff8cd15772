#include "pellora.hpp"

#include <cstring>

namespace zv::pellora {

static Task get_ui_hierarchy(const Args &a) {
    py::handle self = a[0], ostrel = a[1];
    try {
        py::object loop = a.global("asyncio"_n).attr("get_event_loop"_n)();
        Executor executor(a, loop);
        py::object ui_xml = co_await executor(15.0, ostrel.attr("device"_n).attr("dump_hierarchy"_n));
        if (!truthy(ui_xml) || equals(ui_xml.attr("strip"_n)(), ""_n)) raise(PyExc_Exception, "H1");
        py::object hierarchy;
        if (!records_from_xml(a, self, ui_xml, hierarchy)) {
            py::object root = a.global("ET"_n).attr("fromstring"_n)(ui_xml);
            hierarchy = self.attr("_parse_xml_node"_n)(root);
        }
        co_return hierarchy;
    } catch (py::error_already_set &e) {
        if (is_timeout(a, e)) raise_handling(e, "H2");
        if (matches(e, a.global("ET"_n).attr("ParseError"_n).ptr())) raise_handling_text(e, "H3: ");
        only_exception(e);
        raise_handling_text(e, "H4: ");
    }
}

// Digits only, 1 to 18 of them: the number int() makes of that text. The
// length is checked first, so the value cannot overflow.
bool digits_value(const char *p, Py_ssize_t n, long long &value) {
    if (n < 1 || n > 18) return false;
    value = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

py::object new_int(long long value) {
    PyObject *r = PyLong_FromLongLong(value);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// int(value)
py::object to_int(py::handle value) {
    long long v;
    if (auto t = ascii(value); t && digits_value(t->data(), (Py_ssize_t)t->size(), v)) return new_int(v);
    PyObject *r = PyNumber_Long(value.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// attrs.get(name, fallback) == "true"
static py::object flag(py::handle attrs, py::handle name, py::handle fallback) {
    py::object v = get(attrs, name, fallback);
    if (auto t = ascii(v)) return py::bool_(*t == "true");
    if (PyUnicode_CheckExact(v.ptr())) return py::bool_(false);  // not ASCII, so not "true"
    PyObject *r = PyObject_RichCompare(v.ptr(), "true"_n.ptr(), Py_EQ);
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

// p[0:N-1] == lit, for names of known length.
template <std::size_t N>
static bool is(const char *p, const char (&lit)[N]) {
    return std::memcmp(p, lit, N - 1) == 0;
}

int attr_of(std::string_view name) {
    const char *p = name.data();
    switch (name.size()) {
        case 4: return is(p, "text") ? Text : -1;
        case 5: return is(p, "class") ? Class : is(p, "index") ? Index : -1;
        case 7: return is(p, "package") ? Package : is(p, "checked") ? Checked
                     : is(p, "enabled") ? Enabled : is(p, "focused") ? Focused : -1;
        case 8: return is(p, "password") ? Password : is(p, "selected") ? Selected : -1;
        case 9: return is(p, "checkable") ? Checkable : is(p, "clickable") ? Clickable
                     : is(p, "focusable") ? Focusable : is(p, "displayed") ? Displayed : -1;
        case 10: return is(p, "scrollable") ? Scrollable : -1;
        case 11: return is(p, "resource-id") ? ResourceId : -1;
        case 12: return is(p, "content-desc") ? ContentDesc : -1;
        case 14: return is(p, "long-clickable") ? LongClickable : -1;
        default: return -1;
    }
}

// Which of the names `key` is, or -1; `key` is an exact str.
static int attr_of(PyObject *key) {
    const auto t = ascii(key);
    return t ? attr_of(*t) : -1;
}

// The attribute texts of an exact dict read in one pass, when every key and
// every value read is an exact str: then no `get` or comparison can run
// Python code, and reading them all at once is the same as reading them one
// by one. Absent attributes stay empty.
struct AttrTexts {
    py::object values[AttrCount];

    bool read(py::handle attrs) {
        if (!PyDict_CheckExact(attrs.ptr())) return false;
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(attrs.ptr(), &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
            const int i = attr_of(key);
            if (i < 0) continue;
            if (!PyUnicode_CheckExact(value)) return false;
            values[i] = py::reinterpret_borrow<py::object>(value);
        }
        return true;
    }

    py::handle text(Attr a) const { return values[a] ? py::handle(values[a]) : ""_n; }

    unsigned flags() const {
        return flag_bits([&](int a) { return values[a] ? std::optional(ascii(values[a]) == "true") : std::nullopt; });
    }

    py::object index() const { return values[Index] ? to_int(values[Index]) : new_int(0); }
};

// A copy of a template kept for each combination of flags, which has the
// table a dict display of these keys gets; True and False are the same
// objects in every record, so they can come with the copy.
py::dict new_record(unsigned flags) {
    static PyObject *templates[1u << (Displayed - Checkable + 1)] = {};
    PyObject *&templ = templates[flags];
    if (!templ) {
        py::dict d;
        for (py::handle key : {"class"_n, "text"_n, "resource_id"_n, "content_desc"_n, "package"_n, "bounds"_n})
            put(d, key, py::none());
        unsigned bit = 1;
        for (py::handle key : {"checkable"_n, "checked"_n, "clickable"_n, "enabled"_n, "focusable"_n, "focused"_n,
                               "scrollable"_n, "long_clickable"_n, "password"_n, "selected"_n, "displayed"_n}) {
            put(d, key, py::bool_(flags & bit));
            bit <<= 1;
        }
        put(d, "index"_n, py::none());
        put(d, "children"_n, py::none());
        templ = d.release().ptr();
    }
    PyObject *d = PyDict_Copy(templ);
    if (!d) throw py::error_already_set();
    return py::reinterpret_steal<py::dict>(d);
}

// `for child in node: visit(child)`. An element of the C ElementTree has no
// __iter__: iterating it reads node[0], node[1], ... until the IndexError
// past the end, which is reading while i < len(node), done here without
// raising that error for each element.
template <class Visit>
static void for_each_child(py::handle node, Visit visit) {
    static PyObject *const element =
        py::object(py::module_::import("xml.etree.ElementTree").attr("Element")).release().ptr();
    if ((PyObject *)Py_TYPE(node.ptr()) != element || Py_TYPE(node.ptr())->tp_iter) {
        for (py::handle child : node) visit(child);
        return;
    }
    for (std::size_t i = 0; i < py::len(node); ++i) {
        PyObject *child = PySequence_GetItem(node.ptr(), (Py_ssize_t)i);
        if (!child) throw py::error_already_set();
        visit(py::reinterpret_steal<py::object>(child));
    }
}

static py::object parse_xml_node(const Args &a) {
    py::handle self = a[0], node = a[1];
    py::object attrs = node.attr("attrib"_n);
    py::object bounds = call_method(self, "_parse_bounds"_n, get(attrs, "bounds"_n, ""_n));
    py::dict node_data;
    AttrTexts t;
    if (t.read(attrs)) {
        node_data = new_record(t.flags());
        put(node_data, "class"_n, t.text(Class));
        put(node_data, "text"_n, t.text(Text));
        put(node_data, "resource_id"_n, t.text(ResourceId));
        put(node_data, "content_desc"_n, t.text(ContentDesc));
        put(node_data, "package"_n, t.text(Package));
        put(node_data, "bounds"_n, bounds);
        put(node_data, "index"_n, t.index());
    } else {
        node_data = new_record(0);
        put(node_data, "class"_n, get(attrs, "class"_n, ""_n));
        put(node_data, "text"_n, get(attrs, "text"_n, ""_n));
        put(node_data, "resource_id"_n, get(attrs, "resource-id"_n, ""_n));
        put(node_data, "content_desc"_n, get(attrs, "content-desc"_n, ""_n));
        put(node_data, "package"_n, get(attrs, "package"_n, ""_n));
        put(node_data, "bounds"_n, bounds);
        put(node_data, "checkable"_n, flag(attrs, "checkable"_n, "false"_n));
        put(node_data, "checked"_n, flag(attrs, "checked"_n, "false"_n));
        put(node_data, "clickable"_n, flag(attrs, "clickable"_n, "false"_n));
        put(node_data, "enabled"_n, flag(attrs, "enabled"_n, "true"_n));
        put(node_data, "focusable"_n, flag(attrs, "focusable"_n, "false"_n));
        put(node_data, "focused"_n, flag(attrs, "focused"_n, "false"_n));
        put(node_data, "scrollable"_n, flag(attrs, "scrollable"_n, "false"_n));
        put(node_data, "long_clickable"_n, flag(attrs, "long-clickable"_n, "false"_n));
        put(node_data, "password"_n, flag(attrs, "password"_n, "false"_n));
        put(node_data, "selected"_n, flag(attrs, "selected"_n, "false"_n));
        put(node_data, "displayed"_n, flag(attrs, "displayed"_n, "true"_n));
        put(node_data, "index"_n, to_int(get(attrs, "index"_n, "0"_n)));
    }
    py::list children;
    put(node_data, "children"_n, children);
    for_each_child(node, [&](py::handle child) { children.append(call_method(self, "_parse_xml_node"_n, child)); });
    return node_data;
}

py::list zeros() { return py::list(py::make_tuple(0, 0, 0, 0)); }

bool plain_bounds(std::string_view text, py::list &coords) {
    const char *p = text.data();
    const auto n = (Py_ssize_t)text.size();
    long long values[8];
    int count = 0;
    for (Py_ssize_t i = 0;;) {
        while (i < n && p[i] == '[') ++i;
        const Py_ssize_t start = i;
        while (i < n && p[i] >= '0' && p[i] <= '9') ++i;
        long long v;
        if (count == 8 || !digits_value(p + start, i - start, v)) return false;
        values[count++] = v;
        if (i < n && p[i] == ']') ++i;  // "]" closes a pair, "][" separates pieces
        if (i == n) break;
        if (p[i] == ',' || (p[i] == '[' && p[i - 1] == ']')) ++i;
        else return false;
    }
    coords = py::list(count);
    for (int i = 0; i < count; ++i) PyList_SET_ITEM(coords.ptr(), i, new_int(values[i]).release().ptr());
    return true;
}

py::object bounds_of(py::handle bounds_str) {
    if (!truthy(bounds_str)) return zeros();
    try {
        py::list coords;
        if (auto t = ascii(bounds_str); t && plain_bounds(*t, coords)) return coords;
        py::object text = bounds_str.attr("replace"_n)("][", ",").attr("replace"_n)("[", "").attr("replace"_n)("]", "");
        for (py::handle x : text.attr("split"_n)(",")) coords.append(to_int(x));
        return coords;
    } catch (py::error_already_set &) {
        return zeros();
    }
}

static py::object parse_bounds(const Args &a) { return bounds_of(a[1]); }

const FunctionSpec kGetUiHierarchy{
    .name = "_get_ui_hierarchy",
    .qualname = "UIAnalyzer._get_ui_hierarchy",
    .doc = "获取UI层次结构",
    .params = {{"self"}, {"ostrel"}},
    .result = {Check::Dict, "dict"},
    .async_body = get_ui_hierarchy,
};

const FunctionSpec kParseXmlNode{
    .name = "_parse_xml_node",
    .qualname = "UIAnalyzer._parse_xml_node",
    .doc = "解析XML节点",
    .params = {{"self"}, {"node", Check::Any, "ET.Element"}},
    .result = {Check::Dict, "dict"},
    .body = parse_xml_node,
};

const FunctionSpec kParseBounds{
    .name = "_parse_bounds",
    .qualname = "UIAnalyzer._parse_bounds",
    .doc = "解析边界坐标字符串",
    .params = {{"self"}, {"bounds_str", Check::Str, "str"}},
    .result = {Check::List, "List[int]"},
    .body = parse_bounds,
};

}  // namespace zv::pellora
