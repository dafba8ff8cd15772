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

// Fixed text, for constants: `constexpr Fixed kHeader = U"...";`
using Fixed = std::u32string_view;

class Text {
public:
    Text() = default;
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    template <std::size_t N>
    Text &operator<<(const char32_t (&s)[N]) {
        append(s, N - 1);
        return *this;
    }
    Text &operator<<(Fixed s) {
        append(s.data(), s.size());
        return *this;
    }
    // Another text's characters.
    Text &operator<<(const Text &other) {
        append(other.data_, other.size_);
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
            std::memcpy(out, s, n * sizeof(char32_t));
        }
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
};

}  // namespace zv::text
