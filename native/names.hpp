// Interned Python strings for names and keys used on hot paths.
//
//   self.attr("_parse_bounds"_n)      attribute lookup without building a str
//   zv::put(record, "class"_n, value) dict insertion with an interned key
//
// Each literal is interned once per process and kept for its lifetime.
#pragma once

#include "python.hpp"

#include <algorithm>
#include <cstddef>

namespace zv {

template <std::size_t N>
struct FixedString {
    char data[N]{};
    constexpr FixedString(const char (&s)[N]) { std::copy_n(s, N, data); }
};

namespace detail {
PyObject *intern_or_die(const char *text);
}

// Borrowed reference to the interned str of `S`.
template <FixedString S>
inline PyObject *interned() {
    static PyObject *const value = detail::intern_or_die(S.data);
    return value;
}

}  // namespace zv
