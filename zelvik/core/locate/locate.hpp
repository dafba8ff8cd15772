// zelvik.core.locate: locators checked against a captured tree, and XPaths.
#pragma once

#include "state.hpp"
#include "zv.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zv::locate {

// module.cpp
extern const FunctionSpec kInit, kCountMatchesMethod, kXpathForMethod, kCountMatches, kXpathFor;

// The attributes a locator reads, in the order their predicates are written.
enum Attr : unsigned { ResourceId, Text, ContentDesc, Class, kAttrs };
using Mask = unsigned;  // a set of Attr bits
inline constexpr Mask bit(Attr a) { return 1u << a; }

// One element record, in pre-order: ordinal 0 is the tree's top record.
struct Node {
    std::array<std::uint32_t, kAttrs> value;  // value ids; 0 is "" (or missing)
    std::uint32_t parent;                     // ordinal of the parent (0 for the top)
    std::uint32_t position;                   // 1-based among the parent's children
    std::uint32_t children;                   // number of children
};

using Key = std::array<std::uint32_t, kAttrs>;
struct KeyHash {
    std::size_t operator()(const Key &k) const noexcept;
};
struct StrHash {
    std::size_t operator()(PyObject *s) const noexcept { return (std::size_t)PyObject_Hash(s); }
};
struct StrEqual {
    bool operator()(PyObject *a, PyObject *b) const { return equals(a, b); }
};

// tree_index.cpp
//
// The tree read once: value ids per element, and lazily per attribute set a
// map from the values to the ordinals of the elements holding them, so that
// a count or a uniqueness test is one hash lookup.
class Index final : public State {
public:
    explicit Index(py::handle tree);

    int traverse(visitproc visit, void *arg) const override;
    void clear() override;

    const Node &node(std::uint32_t i) const { return nodes_[i]; }
    // The id of the exact str `s`, if an element holds it.
    std::optional<std::uint32_t> id_of(py::handle s) const;
    py::handle value(std::uint32_t id) const { return values_[id]; }

    // Ordinals (ascending) of the elements whose attributes in `mask` hold
    // the ids of `key` there.
    const std::vector<std::uint32_t> &holding(Mask mask, const Key &key);
    // Elements below the top whose text, lower-cased, contains `needle` (lower-cased).
    std::size_t containing_text(py::handle needle);

    // Ordinal of `element`: the record itself, else the first equal one in pre-order.
    std::uint32_t find(py::handle element);

    // Memo of the shortest position-free XPath of each element ("" if
    // none), for the dump text and for uiautomator2's page source.
    std::array<std::vector<std::optional<std::u32string>>, 2> unique_xpath;
    // Whether the value holds a character that uiautomator2's page source
    // removes (U+200B to U+200F, U+FEFF).
    bool has_invisible(std::uint32_t id);

private:
    void walk(py::handle record, std::uint32_t parent, std::uint32_t position);
    std::uint32_t intern(py::handle value, Attr attr);
    void check_live() const;
    std::optional<std::vector<std::uint32_t>> equal_candidates(py::handle element);

    py::object tree_;
    py::object records_;  // a list, pre-order; keeps every record alive
    py::object held_;     // a list keeping the interned values alive
    std::vector<Node> nodes_;
    std::vector<PyObject *> values_;  // id -> str (borrowed from held_)
    std::unordered_map<PyObject *, std::uint32_t, StrHash, StrEqual> ids_;
    std::unordered_map<PyObject *, std::uint32_t> ordinal_;  // record -> first ordinal
    using Buckets = std::unordered_map<Key, std::vector<std::uint32_t>, KeyHash>;
    std::array<std::optional<Buckets>, 1u << kAttrs> by_mask_;
    // Lower-cased texts, and per needle length the distinct windows with the
    // number of elements whose text holds them.
    std::u32string lowered_;
    std::vector<std::pair<std::size_t, std::size_t>> lowered_spans_;  // per text id
    std::vector<std::size_t> text_counts_;  // per text id
    struct Window {
        std::size_t count = 0;
        std::uint32_t last = 0;  // the last text id counted
    };
    std::unordered_map<std::size_t, std::unordered_map<std::u32string_view, Window>> windows_;
    std::vector<signed char> invisible_;  // per value id: -1 not known yet
    bool all_exact_ = true;  // every value read was an exact str
    bool cleared_ = false;
};

// The Index held by a TreeIndex instance, with the object owning it kept
// alive for the call.
struct Held {
    py::object owner;
    Index &index;
};
Held index_of(py::handle self);

// selectors.cpp: how many elements the selector's uiautomator2 query matches.
std::size_t count_matches(Index &index, py::handle selector);

// xpath.cpp
py::str xpath_for(Index &index, py::handle element, py::handle kind);

// The code points of the str `s`.
std::u32string code_points(py::handle s);

}  // namespace zv::locate
