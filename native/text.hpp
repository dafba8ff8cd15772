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

#include <cstring>
#include <memory>
#include <string_view>

namespace zv::text {

// The characters of `s` or'ed together: the str's kind depends on whether
// the largest exceeds 0x7f, 0xff or 0xffff, and so does this.
constexpr Py_UCS4 bits_of(std::u32string_view s) {
    Py_UCS4 bits = 0;
    for (char32_t c : s) bits |= c;
    return bits;
}

// Fixed text with its bits worked out at compile time, for constants:
// `constexpr Fixed kHeader = U"...";`
struct Fixed {
    std::u32string_view text;
    Py_UCS4 bits;

    consteval Fixed(const char32_t *s) : text(s), bits(bits_of(text)) {}
};

class Text {
public:
    Text() = default;
    ~Text();
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    template <std::size_t N>
    [[gnu::always_inline]] Text &operator<<(const char32_t (&s)[N]) {
        return *this << std::u32string_view(s, N - 1);
    }
    [[gnu::always_inline]] Text &operator<<(std::u32string_view s) {
        append(s.data(), s.size());
        bits_ |= bits_of(s);
        return *this;
    }
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
    // ASCII text.
    Text &operator<<(std::string_view ascii);
    // A number in decimal.
    Text &operator<<(long long n);
    // scaled / 10**decimals in fixed notation, `decimals` (at least 1) digits
    // after the point, "-" first when `negative`.
    Text &fixed_point(bool negative, unsigned long long scaled, int decimals);

    // str(value)
    Text &plain(py::handle value);
    // str(value), escaped for a double-quoted string literal.
    Text &literal(py::handle value);
    // str(value), escaped for a # comment.
    Text &comment(py::handle value);
    // A value in a numeric position (codetext's number()).
    Text &number(py::handle value);

    // Room for `n` more characters, when a text's size is known roughly.
    void reserve(std::size_t n) { grow(n); }

    py::str str() const;

private:
    enum class Escape { None, Literal, Comment };
    Text &insert(py::handle value, Escape escape);
    // Appends an exact int that fits in long long in decimal; false otherwise.
    bool append_int(py::handle value);
    // Appends the characters of `s`; false (and nothing appended) when
    // `escape` applies to one of them.
    bool append_str(py::handle s, Escape escape);
    [[gnu::always_inline]] void append(const char32_t *s, std::size_t n) {
        grow(n);
        char32_t *out = data_ + size_;
        if (n <= 16) {  // most pieces: cheaper than a library call
            for (std::size_t i = 0; i < n; ++i) out[i] = s[i];
        } else {
            copy_long(out, s, n);
        }
        size_ += n;
    }
    // Long pieces go to the library's memcpy: inlined for a constant size,
    // the copy would become a slow-starting `rep movs`.
    [[gnu::noinline]] static void copy_long(char32_t *out, const char32_t *s, std::size_t n);
    void grow(std::size_t n) {
        if (size_ + n > capacity_) reallocate(n);
    }
    void reallocate(std::size_t n);

    static constexpr std::size_t kInline = 256;
    char32_t inline_[kInline];
    std::unique_ptr<char32_t[]> heap_;
    char32_t *data_ = inline_;
    std::size_t size_ = 0, capacity_ = kInline;
    // bits_of() of the characters appended so far (an inserted str adds the
    // limit of its kind).
    Py_UCS4 bits_ = 0;
};

}  // namespace zv::text
