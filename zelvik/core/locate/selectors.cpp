// Match counts of selector records, by uiautomator2's matching rules: the
// device's UiSelector compares resourceId, text, description and className
// with the element's attribute for equality, and textContains as a
// substring of the lower-cased text. The query is read from the record's
// code, a call d(name="literal", ...) with Python string literals.
#include "locate.hpp"

#include <string>

namespace zv::locate {

namespace {

std::string text_of(py::handle s) { return std::string(py::str(s)); }

[[noreturn]] void unreadable(py::handle code) {
    raise(PyExc_ValueError, "the selector code " + std::string(py::repr(code)).substr(0, 200) +
                                " is not a uiautomator2 query this module reads");
}

// The str `record[key]`; a str subclass is read as its text.
py::object field(py::handle record, py::handle key) {
    PyObject *v = PyDict_GetItemWithError(record.ptr(), key.ptr());
    if (!v) {
        if (PyErr_Occurred()) throw py::error_already_set();
        raise(PyExc_ValueError, "the selector record has no '" + text_of(key) + "'");
    }
    if (!PyUnicode_Check(v))
        raise(PyExc_TypeError, "the '" + text_of(key) + "' of a selector record must be a str, got " +
                                   type_name(v));
    py::object s = py::reinterpret_steal<py::object>(PyUnicode_FromObject(v));
    if (!s) throw py::error_already_set();
    return s;
}

int hex_digit(char32_t c) {
    if (c >= U'0' && c <= U'9') return int(c - U'0');
    if (c >= U'a' && c <= U'f') return int(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return int(c - U'A' + 10);
    return -1;
}

// Decodes the escape at code[at] (just after its backslash) onto `out`, as
// the interpreter decodes it, leaving `at` on its last character; false
// when it cannot be read.
bool read_escape(std::u32string_view code, std::size_t &at, std::u32string &out) {
    const char32_t c = code[at];
    std::size_t digits = 0;
    switch (c) {
        case U'\n': return true;  // a continued line
        case U'\\': case U'\'': case U'"': out += c; return true;
        case U'a': out += U'\a'; return true;
        case U'b': out += U'\b'; return true;
        case U'f': out += U'\f'; return true;
        case U'n': out += U'\n'; return true;
        case U'r': out += U'\r'; return true;
        case U't': out += U'\t'; return true;
        case U'v': out += U'\v'; return true;
        case U'x': digits = 2; break;
        case U'u': digits = 4; break;
        case U'U': digits = 8; break;
        default:
            if (c >= U'0' && c <= U'7') {  // up to three octal digits
                char32_t v = 0;
                for (int n = 0; n < 3 && at < code.size() && code[at] >= U'0' && code[at] <= U'7'; ++n, ++at)
                    v = v * 8 + (code[at] - U'0');
                --at;
                out += v;
            } else {  // not an escape: the backslash stays
                out += U'\\';
                out += c;
            }
            return true;
    }
    char32_t v = 0;
    for (std::size_t n = 0; n < digits; ++n) {
        const int d = ++at < code.size() ? hex_digit(code[at]) : -1;
        if (d < 0) return false;
        v = v * 16 + (char32_t)d;
    }
    if (v > 0x10FFFF) return false;
    out += v;
    return true;
}

// Reads the double-quoted Python string literal at code[at] (of the str
// `source`); an empty object when there is none. A literal without escapes
// is its characters, taken as they are.
py::object read_literal(py::handle source, std::u32string_view code, std::size_t &at) {
    if (at >= code.size() || code[at] != U'"') return py::object();
    const std::size_t start = ++at;
    std::u32string decoded;
    bool escapes = false;
    for (; at < code.size(); ++at) {
        const char32_t c = code[at];
        if (c == U'"') break;
        if (c == U'\n' || c == U'\r') return py::object();
        if (c == U'\\') {
            if (!escapes) decoded.assign(code.substr(start, at - start));
            escapes = true;
            if (++at >= code.size() || !read_escape(code, at, decoded)) return py::object();
        } else if (escapes) {
            decoded += c;
        }
    }
    if (at >= code.size()) return py::object();
    PyObject *s = escapes ? PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, decoded.data(), (Py_ssize_t)decoded.size())
                          : PyUnicode_Substring(source.ptr(), (Py_ssize_t)start, (Py_ssize_t)at);
    if (!s) throw py::error_already_set();
    ++at;
    return py::reinterpret_steal<py::object>(s);
}

struct Keyword {
    std::u32string_view name;  // a view of the code's characters
    py::object value;
};

// The keywords of `d(name="literal", name="literal")`, in order, read from
// `c` (the code points of `code`); empty when the code is not such a call.
std::vector<Keyword> read_call(py::handle code, std::u32string_view c) {
    std::vector<Keyword> keywords;
    if (c.substr(0, 2) != U"d(") return {};
    for (std::size_t at = 2;;) {
        const std::size_t equals_sign = c.find(U'=', at);
        if (equals_sign == c.npos) return {};
        const std::u32string_view name = c.substr(at, equals_sign - at);
        at = equals_sign + 1;
        py::object value = read_literal(code, c, at);
        if (!value) return {};
        keywords.push_back({name, std::move(value)});
        if (c.substr(at) == U")") return keywords;
        if (c.substr(at, 2) != U", ") return {};
        at += 2;
    }
}

// Elements below the top in `holders`: the top record stands for the
// dump's <hierarchy>, which is not a node of the device.
std::size_t below_top(const std::vector<std::uint32_t> &holders) {
    return holders.size() - (!holders.empty() && holders.front() == 0);
}

constexpr std::u32string_view kEqualityNames[kAttrs] = {U"resourceId", U"text", U"description", U"className"};

}  // namespace

std::size_t count_matches(Index &index, py::handle selector) {
    py::object type = field(selector, "type"_n);
    py::object code = field(selector, "code"_n);
    if (equals(type, "coordinate"_n)) {  // a click at a point, not a query
        const Py_ssize_t n = PyUnicode_GET_LENGTH(code.ptr());
        const Py_ssize_t head = PyUnicode_Tailmatch(code.ptr(), "d.click("_n.ptr(), 0, n, -1);
        const Py_ssize_t tail = PyUnicode_Tailmatch(code.ptr(), ")"_n.ptr(), 0, n, 1);
        if (head < 0 || tail < 0) throw py::error_already_set();
        if (!head || !tail) unreadable(code);
        return 1;
    }
    bool known = false;
    for (py::handle t : {"resource_id"_n, "text"_n, "text_contains"_n, "content_desc"_n, "class_name"_n, "combined"_n})
        known = known || equals(type, t);
    if (!known) raise(PyExc_ValueError, "unknown selector type " + std::string(py::repr(type)).substr(0, 200));

    const std::u32string text = code_points(code);
    const std::vector<Keyword> keywords = read_call(code, text);
    if (keywords.size() == 1 && keywords[0].name == U"textContains")
        return index.containing_text(keywords[0].value);
    Key key{};
    Mask mask = 0;
    bool absent = false;  // a value no element holds
    for (const Keyword &k : keywords) {
        unsigned a = 0;
        while (a < kAttrs && k.name != kEqualityNames[a]) ++a;
        if (a == kAttrs || (mask & bit(Attr(a)))) unreadable(code);
        mask |= bit(Attr(a));
        if (auto id = index.id_of(k.value))
            key[a] = *id;
        else
            absent = true;
    }
    if (!mask) unreadable(code);
    return absent ? 0 : below_top(index.holding(mask, key));
}

}  // namespace zv::locate
