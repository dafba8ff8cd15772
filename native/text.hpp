// Text of generated code and records, built as code points and turned into
// one str at the end.
//
//   Text t;
//   t << U"d(text=\"";
//   t.literal(value);   // str(value), escaped for a double-quoted literal
//   t << U"\")";
//   py::str s = t.str();
//
// Inserted values are rendered as the codetext helpers render them: a value
// with no character they escape is copied as it is (no UTF-8 round trip),
// any other goes through them.
#pragma once

#include "codetext.hpp"

#include <memory>
#include <string_view>

namespace zv::text {

// Fixed text, with its characters or'ed together at compile time.
struct Fixed {
    std::u32string_view text;
    Py_UCS4 bits;

    consteval Fixed(const char32_t *s) : text(s), bits(0) {
        for (char32_t c : text) bits |= c;
    }
};

class Text {
public:
    Text() = default;
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    Text &operator<<(const Fixed &fixed) {
        append(fixed.text.data(), fixed.text.size());
        bits_ |= fixed.bits;
        return *this;
    }
    // Another text's characters.
    Text &operator<<(const Text &other) {
        append(other.data_, other.size_);
        bits_ |= other.bits_;
        return *this;
    }
    // Text known only at run time (fixed text: operator<<).
    Text &chars(std::u32string_view s) {
        append(s.data(), s.size());
        for (char32_t c : s) bits_ |= c;
        return *this;
    }
    // ASCII text.
    Text &operator<<(std::string_view ascii);
    // A number in decimal.
    Text &operator<<(long long n);

    // str(value)
    Text &plain(py::handle value);
    // str(value), escaped for a double-quoted string literal.
    Text &literal(py::handle value);
    // str(value), escaped for a # comment.
    Text &comment(py::handle value);
    // A value in a numeric position (codetext's number()).
    Text &number(py::handle value);

    bool empty() const { return size_ == 0; }
    py::str str() const;

private:
    enum class Escape { None, Literal, Comment };
    Text &insert(py::handle value, Escape escape);
    // Appends an exact int that fits in long long in decimal; false otherwise.
    bool append_int(py::handle value);
    // Appends the characters of `s`; false (and nothing appended) when
    // `escape` applies to one of them.
    bool append_str(py::handle s, Escape escape);
    void append(const char32_t *s, std::size_t n) {
        grow(n);
        char32_t *out = data_ + size_;
        for (std::size_t i = 0; i < n; ++i) out[i] = s[i];  // pieces are short: no library call
        size_ += n;
    }
    void grow(std::size_t n) {
        if (size_ + n > capacity_) reallocate(n);
    }
    void reallocate(std::size_t n);

    static constexpr std::size_t kInline = 256;
    char32_t inline_[kInline];
    std::unique_ptr<char32_t[]> heap_;
    char32_t *data_ = inline_;
    std::size_t size_ = 0, capacity_ = kInline;
    // The characters or'ed together: the str's kind depends on whether the
    // largest character exceeds 0x7f, 0xff or 0xffff, and so does this.
    Py_UCS4 bits_ = 0;
};

}  // namespace zv::text
