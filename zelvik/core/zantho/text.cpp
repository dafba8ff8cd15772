#include "text.hpp"

#include <algorithm>
#include <charconv>
#include <string>

namespace zv::zantho {

char32_t *Text::reserve(std::size_t n) {
    if (size_ + n > capacity_) {
        const std::size_t capacity = std::max({capacity_ * 4, size_ + n, std::size_t{2048}});
        std::unique_ptr<char32_t[]> heap(new char32_t[capacity]);
        std::copy_n(data_, size_, heap.get());
        heap_ = std::move(heap);
        data_ = heap_.get();
        capacity_ = capacity;
    }
    return data_ + size_;
}

Text &Text::operator<<(std::u32string_view fixed) {
    std::copy(fixed.begin(), fixed.end(), reserve(fixed.size()));
    size_ += fixed.size();
    return *this;
}

Text &Text::operator<<(long long n) {
    char digits[24];
    const char *end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    char32_t *out = reserve((std::size_t)(end - digits));
    for (const char *p = digits; p != end; ++p) *out++ = (char32_t)*p;
    size_ += (std::size_t)(end - digits);
    return *this;
}

// The characters zv::text escapes: controls and DEL, and for literals the
// backslash and the double quote.
static bool special(Py_UCS4 c, bool quotes) { return c < 0x20 || c == 0x7f || (quotes && (c == '\\' || c == '"')); }

template <class Char>
static bool copy_chars(const Char *in, std::size_t n, char32_t *out, int escape, bool quotes) {
    for (std::size_t i = 0; i < n; ++i) {
        const Py_UCS4 c = in[i];
        if (escape && special(c, quotes)) return false;
        out[i] = (char32_t)c;
    }
    return true;
}

bool Text::append_str(py::handle s, Escape escape) {
    PyObject *p = s.ptr();
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(p) < 0) throw py::error_already_set();
#endif
    const auto n = (std::size_t)PyUnicode_GET_LENGTH(p);
    char32_t *out = reserve(n);
    const int e = escape != Escape::None;
    const bool quotes = escape == Escape::Literal;
    bool ok;
    switch (PyUnicode_KIND(p)) {
        case PyUnicode_1BYTE_KIND: ok = copy_chars(PyUnicode_1BYTE_DATA(p), n, out, e, quotes); break;
        case PyUnicode_2BYTE_KIND: ok = copy_chars(PyUnicode_2BYTE_DATA(p), n, out, e, quotes); break;
        default: ok = copy_chars(PyUnicode_4BYTE_DATA(p), n, out, e, quotes); break;
    }
    if (ok) size_ += n;
    return ok;
}

// str(value) as an exact str.
static py::object str_of(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::object>(value);
    auto s = py::reinterpret_steal<py::object>(PyObject_Str(value.ptr()));
    if (s && !PyUnicode_CheckExact(s.ptr())) s = py::reinterpret_steal<py::object>(PyUnicode_FromObject(s.ptr()));
    if (!s) throw py::error_already_set();
    return s;
}

bool Text::append_int(py::handle value) {
    if (!PyLong_CheckExact(value.ptr())) return false;
    int overflow;
    const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow) return false;
    *this << n;
    return true;
}

Text &Text::insert(py::handle value, Escape escape) {
    if (append_int(value)) return *this;  // str() of an int has nothing to escape
    py::object s = str_of(value);
    if (append_str(s, escape)) return *this;
    std::string utf8;
    if (escape == Escape::Literal)
        text::literal(utf8, s);
    else
        text::comment(utf8, s);
    append_str(text::to_str(utf8), Escape::None);
    return *this;
}

Text &Text::plain(py::handle value) { return insert(value, Escape::None); }
Text &Text::literal(py::handle value) { return insert(value, Escape::Literal); }
Text &Text::comment(py::handle value) { return insert(value, Escape::Comment); }

Text &Text::number(py::handle value) {
    if (append_int(value)) return *this;
    std::string utf8;
    text::number(utf8, value);
    append_str(text::to_str(utf8), Escape::None);
    return *this;
}

py::str Text::str() const {
    PyObject *s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, data_, (Py_ssize_t)size_);
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

}  // namespace zv::zantho
