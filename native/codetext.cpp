#include "codetext.hpp"

namespace zv::text {

namespace {

// UTF-8 view of str(value); lone surrogates survive through surrogatepass.
class Utf8 {
public:
    explicit Utf8(py::handle value) {
        PyObject *s = value.ptr();
        if (PyUnicode_CheckExact(s)) {
            Py_INCREF(s);
        } else {
            s = PyObject_Str(s);
            if (!s) throw py::error_already_set();
        }
        str_ = py::reinterpret_steal<py::object>(s);
        Py_ssize_t n;
        const char *p = PyUnicode_AsUTF8AndSize(s, &n);
        if (!p) {
            PyErr_Clear();
            PyObject *b = PyUnicode_AsEncodedString(s, "utf-8", "surrogatepass");
            if (!b) throw py::error_already_set();
            bytes_ = py::reinterpret_steal<py::object>(b);
            p = PyBytes_AS_STRING(b);
            n = PyBytes_GET_SIZE(b);
        }
        view_ = std::string_view(p, (std::size_t)n);
    }
    std::string_view view() const { return view_; }

private:
    py::object str_, bytes_;
    std::string_view view_;
};

const char kHex[] = "0123456789abcdef";

template <bool Quotes>
void escape(std::string &out, std::string_view s) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = (unsigned char)s[i];
        // A lone surrogate (kept through surrogatepass) cannot stand in source text.
        const bool surrogate = c == 0xED && i + 2 < s.size() && ((unsigned char)s[i + 1] & 0xE0) == 0xA0;
        const bool special = surrogate || (c < 0x80 && escaped(c, Quotes));
        if (!special) continue;
        out.append(s.data() + start, i - start);
        start = i + 1;
        if (surrogate) {
            const unsigned cp = ((c & 0x0Fu) << 12) | (((unsigned char)s[i + 1] & 0x3Fu) << 6) | ((unsigned char)s[i + 2] & 0x3Fu);
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
            i += 2;
            start = i + 1;
            continue;
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
        }
    }
    out.append(s.data() + start, s.size() - start);
}

}  // namespace

void plain(std::string &out, py::handle value) { out += Utf8(value).view(); }
void literal(std::string &out, py::handle value) { escape<true>(out, Utf8(value).view()); }
void comment(std::string &out, py::handle value) { escape<false>(out, Utf8(value).view()); }

void number(std::string &out, py::handle value) {
    PyObject *v = value.ptr();
    PyObject *s;
    // format(v, "") of the built-in type: a subclass cannot format itself into code.
    if (v == Py_None || PyBool_Check(v)) {
        s = PyObject_Repr(v);
    } else if (PyLong_Check(v)) {
        s = PyLong_Type.tp_repr(v);
    } else if (PyFloat_Check(v)) {
        s = PyFloat_Type.tp_repr(v);
    } else {
        s = PyObject_Repr(v);
    }
    if (!s) throw py::error_already_set();
    py::object keep = py::reinterpret_steal<py::object>(s);
    out += Utf8(keep).view();
}

py::str to_str(std::string_view utf8) {
    PyObject *s = PyUnicode_DecodeUTF8(utf8.data(), (Py_ssize_t)utf8.size(), "surrogatepass");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

}  // namespace zv::text
