// Rendering of values inserted into generated code (UTF-8 text).
//
// Values are appended as UTF-8 to a std::string (text.hpp builds whole
// texts on top of these), rendered so that they cannot change the structure
// of the generated program:
//   literal(): inside a double-quoted string literal, \ " and control
//              characters are escaped (\\ \" \n \r \t, others \xNN);
//   comment(): inside a # comment, control characters are escaped;
//   number():  in a numeric position, an int, float, bool or None is
//              written with format(value, ""), anything else as repr(value).
// Values without such characters come out unchanged.
#pragma once

#include "pyobj.hpp"

#include <string>
#include <string_view>

namespace zv::text {

// Whether the code point `c` is rendered escaped: control characters, DEL
// and lone surrogates, and inside a literal also \ and ".
constexpr bool escaped(char32_t c, bool literal) {
    return c < 0x20 || c == 0x7f || (c >= 0xD800 && c <= 0xDFFF) || (literal && (c == '\\' || c == '"'));
}

// Appends str(value).
void plain(std::string &out, py::handle value);
// Appends str(value) escaped for a double-quoted string literal.
void literal(std::string &out, py::handle value);
// Appends str(value) escaped for a comment.
void comment(std::string &out, py::handle value);
// Appends a numeric-position value.
void number(std::string &out, py::handle value);

// The str of UTF-8 text built by the functions above.
py::str to_str(std::string_view utf8);

}  // namespace zv::text
