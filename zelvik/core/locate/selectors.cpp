// Match counts of selector records, by uiautomator2's matching rules: the
// device's UiSelector compares resourceId, text, description and className
// with the element's attribute for equality, and textContains as a
// substring of the lower-cased text. The value is read back from the
// record's code, which inserts it verbatim.
#include "locate.hpp"

#include <string>

namespace zv::locate {

namespace {

std::string text_of(py::handle s) { return std::string(py::str(s)); }

// The str `record[key]`.
py::object field(py::handle record, py::handle key) {
    PyObject *v = PyDict_GetItemWithError(record.ptr(), key.ptr());
    if (!v) {
        if (PyErr_Occurred()) throw py::error_already_set();
        raise(PyExc_ValueError, "the selector record has no '" + text_of(key) + "'");
    }
    if (!PyUnicode_Check(v))
        raise(PyExc_TypeError, "the '" + text_of(key) + "' of a selector record must be a str, got " +
                                   std::string(Py_TYPE(v)->tp_name).substr(0, 200));
    py::object s = py::reinterpret_steal<py::object>(PyUnicode_FromObject(v));  // a subclass read as its text
    if (!s) throw py::error_already_set();
    return s;
}

// code[len(prefix):-len(suffix)] when code starts with prefix and ends with suffix.
py::object between(py::handle code, py::handle prefix, py::handle suffix) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(code.ptr());
    const Py_ssize_t p = PyUnicode_GET_LENGTH(prefix.ptr()), s = PyUnicode_GET_LENGTH(suffix.ptr());
    if (n < p + s) return py::object();
    const Py_ssize_t head = PyUnicode_Tailmatch(code.ptr(), prefix.ptr(), 0, n, -1);
    const Py_ssize_t tail = head == 1 ? PyUnicode_Tailmatch(code.ptr(), suffix.ptr(), p, n, 1) : 0;
    if (head < 0 || tail < 0) throw py::error_already_set();
    if (!tail) return py::object();
    PyObject *middle = PyUnicode_Substring(code.ptr(), p, n - s);
    if (!middle) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(middle);
}

// Elements below the top in `holders` (the top record stands for the
// dump's <hierarchy>, which is not a node of the device).
std::size_t below_top(const std::vector<std::uint32_t> &holders) {
    return holders.size() - (!holders.empty() && holders.front() == 0);
}

// Elements below the top holding `values` at the attributes of `mask`.
std::size_t holding_all(Index &index, Mask mask, std::initializer_list<std::pair<Attr, py::handle>> values) {
    Key key{};
    for (auto [attr, value] : values) {
        auto id = index.id_of(value);
        if (!id) return 0;
        key[attr] = *id;
    }
    return below_top(index.holding(mask, key));
}

struct Single {
    py::handle type;
    py::handle prefix;
    Attr attr;
};

[[noreturn]] void wrong_form(py::handle type, py::handle code) {
    raise(PyExc_ValueError, "the code " + std::string(py::repr(code)).substr(0, 200) + " is not that of a '" +
                                text_of(type) + "' selector");
}

// d(resourceId="rid", className="cls") or d(text="text", className="cls"):
// the value may itself hold the separator, so each place it occurs is a
// reading; the first reading that some element holds is the query.
std::size_t count_combined(Index &index, py::handle type, py::handle code) {
    py::handle sep = "\", className=\""_n;
    for (auto [prefix, attr] : {std::pair{"d(resourceId=\""_n, ResourceId}, std::pair{"d(text=\""_n, Text}}) {
        py::object middle = between(code, prefix, "\")"_n);
        if (!middle) continue;
        const Py_ssize_t n = PyUnicode_GET_LENGTH(middle.ptr()), s = PyUnicode_GET_LENGTH(sep.ptr());
        bool read = false;
        for (Py_ssize_t from = 0;; ++from) {
            const Py_ssize_t at = PyUnicode_Find(middle.ptr(), sep.ptr(), from, n, 1);
            if (at == -2) throw py::error_already_set();
            if (at < 0) break;
            read = true;
            from = at;
            py::object first = py::reinterpret_steal<py::object>(PyUnicode_Substring(middle.ptr(), 0, at));
            py::object cls = py::reinterpret_steal<py::object>(PyUnicode_Substring(middle.ptr(), at + s, n));
            if (!first || !cls) throw py::error_already_set();
            if (std::size_t c = holding_all(index, bit(attr) | bit(Class), {{attr, first}, {Class, cls}})) return c;
        }
        if (read) return 0;
    }
    wrong_form(type, code);
}

}  // namespace

std::size_t count_matches(Index &index, py::handle selector) {
    static const Single kSingles[] = {
        {"resource_id"_n, "d(resourceId=\""_n, ResourceId},
        {"text"_n, "d(text=\""_n, Text},
        {"content_desc"_n, "d(description=\""_n, ContentDesc},
        {"class_name"_n, "d(className=\""_n, Class},
    };
    py::object type = field(selector, "type"_n);
    py::object code = field(selector, "code"_n);
    for (const Single &single : kSingles) {
        if (!equals(type, single.type)) continue;
        py::object value = between(code, single.prefix, "\")"_n);
        if (!value) wrong_form(type, code);
        return holding_all(index, bit(single.attr), {{single.attr, value}});
    }
    if (equals(type, "text_contains"_n)) {
        py::object needle = between(code, "d(textContains=\""_n, "\")"_n);
        if (!needle) wrong_form(type, code);
        return index.containing_text(needle);
    }
    if (equals(type, "combined"_n)) return count_combined(index, type, code);
    if (equals(type, "coordinate"_n)) {
        if (!between(code, "d.click("_n, ")"_n)) wrong_form(type, code);
        return 1;  // a click at a point, not a query
    }
    raise(PyExc_ValueError, "unknown selector type " + std::string(py::repr(type)).substr(0, 200));
}

}  // namespace zv::locate
