#include "text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace zv::text {

namespace {

// One heap buffer kept from a text to the next: a script's text would
// otherwise take and free the same few kilobytes on every call. Texts are
// built with the GIL held, which guards it; large ones are not kept.
struct Spare {
    static constexpr std::size_t kLargest = 16384;
    std::unique_ptr<char32_t[]> buffer;
    std::size_t capacity = 0;
};
Spare spare;

}  // namespace

Text::~Text() {
    park_if_ended();  // the spare buffer is shared under the GIL
    if (heap_ && !spare.buffer && capacity_ <= Spare::kLargest) {
        spare.buffer = std::move(heap_);
        spare.capacity = capacity_;
    }
}

void Text::reallocate(std::size_t n) {
    std::size_t capacity = std::max({capacity_ * 4, size_ + n, std::size_t{2048}});
    std::unique_ptr<char32_t[]> heap;
    if (spare.buffer && spare.capacity >= capacity) {
        heap = std::move(spare.buffer);
        capacity = spare.capacity;
    } else {
        heap.reset(new char32_t[capacity]);
    }
    std::copy_n(data_, size_, heap.get());
    heap_ = std::move(heap);
    data_ = heap_.get();
    capacity_ = capacity;
}

void Text::copy_long(char32_t *out, const char32_t *s, std::size_t n) { std::memcpy(out, s, n * sizeof(char32_t)); }

Text &Text::operator<<(std::string_view ascii) {
    grow(ascii.size());
    char32_t *out = data_ + size_;
    for (std::size_t i = 0; i < ascii.size(); ++i) out[i] = (char32_t)ascii[i];
    size_ += ascii.size();
    return *this;
}

Text &Text::fixed_point(bool negative, unsigned long long n, int decimals) {
    char buf[48], *p = buf + sizeof buf;
    for (int digit = 0; digit <= decimals || n; ++digit) {
        if (digit == decimals) *--p = '.';
        *--p = (char)('0' + n % 10);
        n /= 10;
    }
    if (negative) *--p = '-';
    return *this << std::string_view(p, (std::size_t)(buf + sizeof buf - p));
}

Text &Text::operator<<(long long n) {
    char digits[24];
    return *this << std::string_view(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// escaped() of the characters below 0x80, looked up: [literal][c].
static constexpr auto kEscapedAscii = [] {
    std::array<std::array<bool, 0x80>, 2> table{};
    for (char32_t c = 0; c < 0x80; ++c) table[0][c] = escaped(c, false), table[1][c] = escaped(c, true);
    return table;
}();

// One pass: the characters are copied until one needs the escape.
template <class Char>
static bool copy_chars(const Char *in, std::size_t n, char32_t *out, bool escape, bool quotes) {
    const bool *ascii = kEscapedAscii[quotes].data();
    for (std::size_t i = 0; i < n; ++i) {
        const Char c = in[i];
        if (escape && (c < 0x80 ? ascii[c] : escaped(c, quotes))) return false;
        out[i] = c;
    }
    return true;
}

bool Text::append_str(py::handle s, Escape escape) {
    PyObject *p = s.ptr();
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(p) < 0) throw py::error_already_set();
#endif
    const auto n = (std::size_t)PyUnicode_GET_LENGTH(p);
    grow(n);
    char32_t *out = data_ + size_;
    const bool e = escape != Escape::None, quotes = escape == Escape::Literal;
    bool ok;
    switch (PyUnicode_KIND(p)) {
        case PyUnicode_1BYTE_KIND: ok = copy_chars(PyUnicode_1BYTE_DATA(p), n, out, e, quotes); break;
        case PyUnicode_2BYTE_KIND: ok = copy_chars(PyUnicode_2BYTE_DATA(p), n, out, e, quotes); break;
        default: ok = copy_chars(PyUnicode_4BYTE_DATA(p), n, out, e, quotes); break;
    }
    if (ok) {
        size_ += n;
        bits_ |= PyUnicode_MAX_CHAR_VALUE(p);  // the limit of its kind, the smallest that holds it
    }
    return ok;
}

bool Text::append_int(py::handle value) {
    if (!PyLong_CheckExact(value.ptr())) return false;
    int overflow;
    const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow) return false;
    *this << n;
    return true;
}

// str(value) as an exact str.
static py::object str_of(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::object>(value);
    auto s = py::reinterpret_steal<py::object>(PyObject_Str(value.ptr()));
    if (s && !PyUnicode_CheckExact(s.ptr())) s = py::reinterpret_steal<py::object>(PyUnicode_FromObject(s.ptr()));
    if (!s) throw py::error_already_set();
    return s;
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
    append_str(to_str(utf8), Escape::None);
    return *this;
}

Text &Text::plain(py::handle value) { return insert(value, Escape::None); }
Text &Text::literal(py::handle value) { return insert(value, Escape::Literal); }
Text &Text::comment(py::handle value) { return insert(value, Escape::Comment); }

// repr(x) for a float below 1e9 in magnitude with at most three decimals,
// the usual durations and coordinates. The digits of x * 10**k rounded, for
// the smallest k that gives x back, are then the shortest that do (the ulp
// of x is far below 10**-k, so no other integer can), which is what repr
// writes, in fixed notation. False for any other value.
static bool short_repr(Text &t, double x) {
    if (!(std::fabs(x) < 1e9)) return false;
    static constexpr double kScale[] = {1, 10, 100, 1000};
    for (int k = 0; k < 4; ++k) {
        const double m = std::nearbyint(x * kScale[k]);
        if (m / kScale[k] != x) continue;
        const auto n = (unsigned long long)std::fabs(m);
        t.fixed_point(std::signbit(x), k ? n : n * 10, k ? k : 1);  // with k == 0: "1200.0"
        return true;
    }
    return false;
}

Text &Text::number(py::handle value) {
    if (append_int(value)) return *this;
    if (PyFloat_CheckExact(value.ptr())) {  // repr(value), written directly
        if (short_repr(*this, PyFloat_AS_DOUBLE(value.ptr()))) return *this;
        char *repr = PyOS_double_to_string(PyFloat_AS_DOUBLE(value.ptr()), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (!repr) throw py::error_already_set();
        *this << std::string_view(repr);
        PyMem_Free(repr);
        return *this;
    }
    std::string utf8;
    text::number(utf8, value);
    append_str(to_str(utf8), Escape::None);
    return *this;
}

py::str Text::str() const {
    auto s = py::reinterpret_steal<py::str>(PyUnicode_New((Py_ssize_t)size_, std::min<Py_UCS4>(bits_, 0x10ffff)));
    if (!s) throw py::error_already_set();
    void *out = PyUnicode_DATA(s.ptr());
    switch (PyUnicode_KIND(s.ptr())) {
        case PyUnicode_1BYTE_KIND: std::copy_n(data_, size_, (Py_UCS1 *)out); break;
        case PyUnicode_2BYTE_KIND: std::copy_n(data_, size_, (Py_UCS2 *)out); break;
        default: std::memcpy(out, data_, size_ * sizeof(char32_t)); break;
    }
    return s;
}

}  // namespace zv::text
