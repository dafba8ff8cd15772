// XPaths of an element, for the dump the tree was read from: the top record
// is its <hierarchy> element, every other record a <node>.
//
// "full":     /hierarchy/node[i]/node[j]/...
// "relative": the shortest of the first of these tiers that has one:
//   1. //*[@a='v'][@b='w']      the element's own non-empty resource-id,
//                               text, content-desc and class values, when
//                               they select it alone;
//   2. (//*[@a='v'])[k]         its rank among the elements holding some of
//                               them, or
//      <anchor>/*[i]/*[j]       the steps down from an ancestor that form 1
//                               selects;
//   3. (//*)[k] or /hierarchy/*[i]/...   positions alone.
// "uiautomator2": the relative one for d.xpath(), which evaluates it on
// uiautomator2's page source: there every <node> is renamed after its
// class, the class attribute dropped and the characters U+200B to U+200F
// and U+FEFF removed, so no class predicate and no value holding those
// characters is used; the elements and their order are the same.
#include "locate.hpp"

#include <algorithm>

namespace zv::locate {

namespace {

constexpr std::u32string_view kNames[kAttrs] = {U"resource-id", U"text", U"content-desc", U"class"};

void append_number(std::u32string &out, std::uint64_t n) {
    for (char c : std::to_string(n)) out += (char32_t)c;
}

// An XPath 1.0 string literal of `v`: quoted with ' or ", or for a value
// holding both, concat() of pieces with "'" between them.
void append_literal(std::u32string &out, std::u32string_view v) {
    if (v.find(U'\'') == v.npos) {
        ((out += U'\'') += v) += U'\'';
    } else if (v.find(U'"') == v.npos) {
        ((out += U'"') += v) += U'"';
    } else {
        out += U"concat(";
        bool first = true;
        for (std::size_t start = 0;;) {
            const std::size_t quote = v.find(U'\'', start);
            const std::u32string_view piece = v.substr(start, quote == v.npos ? v.npos : quote - start);
            if (!piece.empty()) {
                if (!first) out += U", ";
                ((out += U'\'') += piece) += U'\'';
                first = false;
            }
            if (quote == v.npos) break;
            if (!first) out += U", ";
            out += U"\"'\"";
            first = false;
            start = quote + 1;
        }
        out += U')';
    }
}

enum Dialect : unsigned { Dump, PageSource };

// The attributes of node `i` holding a value that `dialect` can match.
Mask present(Index &index, std::uint32_t i, Dialect dialect) {
    Mask m = 0;
    for (unsigned a = 0; a < kAttrs; ++a) {
        const std::uint32_t id = index.node(i).value[a];
        if (id && (dialect == Dump || (a != Class && !index.has_invisible(id)))) m |= bit(Attr(a));
    }
    return m;
}

void append_predicates(std::u32string &out, const Index &index, std::uint32_t i, Mask mask) {
    for (unsigned a = 0; a < kAttrs; ++a) {
        if (!(mask & bit(Attr(a)))) continue;
        ((out += U"[@") += kNames[a]) += U'=';
        append_literal(out, code_points(index.value(index.node(i).value[a])));
        out += U']';
    }
}

// Keeps the shortest candidate; the first of equal length stays.
void keep_shorter(std::optional<std::u32string> &best, std::u32string candidate) {
    if (!best || candidate.size() < best->size()) best = std::move(candidate);
}

// The shortest //*[...] that selects node i alone ("" when none does), memoised.
const std::u32string &unique_path(Index &index, std::uint32_t i, Dialect dialect) {
    auto &memo = index.unique_xpath[dialect][i];
    if (memo) return *memo;
    std::optional<std::u32string> best;
    const Mask has = present(index, i, dialect);
    for (Mask m = 1; m < (1u << kAttrs); ++m) {
        if ((m & has) != m || index.holding(m, index.node(i).value).size() != 1) continue;
        std::u32string candidate = U"//*";
        append_predicates(candidate, index, i, m);
        keep_shorter(best, std::move(candidate));
    }
    memo = best ? std::move(*best) : std::u32string();
    return *memo;
}

std::u32string relative(Index &index, std::uint32_t i, Dialect dialect) {
    if (i == 0) return U"/hierarchy";
    if (const std::u32string &unique = unique_path(index, i, dialect); !unique.empty()) return unique;
    std::optional<std::u32string> with_values, positions_only;
    const Mask has = present(index, i, dialect);
    for (Mask m = 0; m < (1u << kAttrs); ++m) {
        if ((m & has) != m) continue;
        const auto &holders = index.holding(m, index.node(i).value);
        const auto rank = std::lower_bound(holders.begin(), holders.end(), i) - holders.begin() + 1;
        std::u32string candidate = U"(//*";
        append_predicates(candidate, index, i, m);
        candidate += U")[";
        append_number(candidate, (std::uint64_t)rank);
        candidate += U']';
        keep_shorter(m ? with_values : positions_only, std::move(candidate));
    }
    std::u32string steps;
    for (std::uint32_t at = i; at != 0;) {
        const Node &node = index.node(at);
        std::u32string step = U"/*";
        if (index.node(node.parent).children > 1) {
            step += U'[';
            append_number(step, node.position);
            step += U']';
        }
        steps.insert(0, step);
        at = node.parent;
        if (at == 0) {
            keep_shorter(positions_only, U"/hierarchy" + steps);
        } else if (const std::u32string &anchor = unique_path(index, at, dialect); !anchor.empty()) {
            keep_shorter(with_values, anchor + steps);
        }
    }
    return with_values ? *with_values : *positions_only;
}

std::u32string full(const Index &index, std::uint32_t i) {
    std::u32string steps;
    for (std::uint32_t at = i; at != 0; at = index.node(at).parent) {
        std::u32string step = U"/node[";
        append_number(step, index.node(at).position);
        step += U']';
        steps.insert(0, step);
    }
    return U"/hierarchy" + steps;
}

py::str to_str(const std::u32string &s) {
    PyObject *r = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, s.data(), (Py_ssize_t)s.size());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(r);
}

}  // namespace

py::str xpath_for(Index &index, py::handle element, py::handle kind) {
    const bool is_full = equals(kind, "full"_n), for_device = !is_full && equals(kind, "uiautomator2"_n);
    if (!is_full && !for_device && !equals(kind, "relative"_n))
        raise(PyExc_ValueError,
              "kind must be 'relative', 'full' or 'uiautomator2', not " + std::string(py::repr(kind)).substr(0, 200));
    const std::uint32_t i = index.find(element);
    return to_str(is_full ? full(index, i) : relative(index, i, for_device ? PageSource : Dump));
}

}  // namespace zv::locate
