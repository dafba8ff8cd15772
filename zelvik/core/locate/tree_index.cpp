// The element tree read once into value ids, with lazy lookups by value.
#include "locate.hpp"

#include <algorithm>

namespace zv::locate {

std::size_t KeyHash::operator()(const Key &k) const noexcept {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint32_t v : k) h = (h ^ v) * 0x100000001B3ull + (h >> 29);
    return (std::size_t)h;
}

static py::handle key_name(Attr a) {
    switch (a) {
        case ResourceId: return "resource_id"_n;
        case Text: return "text"_n;
        case ContentDesc: return "content_desc"_n;
        default: return "class"_n;
    }
}

Index::Index(py::handle tree)
    : tree_(py::reinterpret_borrow<py::object>(tree)),
      records_(py::reinterpret_steal<py::object>(PyList_New(0))),
      held_(py::reinterpret_steal<py::object>(PyList_New(0))) {
    if (!records_ || !held_) throw py::error_already_set();
    values_.push_back(""_n.ptr());
    walk(tree, 0, 1);
    for (auto &memo : unique_xpath) memo.resize(nodes_.size());
    invisible_.assign(values_.size(), -1);
}

int Index::traverse(visitproc visit, void *arg) const {
    Py_VISIT(tree_.ptr());
    Py_VISIT(records_.ptr());
    Py_VISIT(held_.ptr());
    return 0;
}

void Index::clear() {
    cleared_ = true;
    tree_ = py::object();
    records_ = py::object();
    held_ = py::object();
}

void Index::check_live() const {
    if (cleared_) raise(PyExc_RuntimeError, "the tree index was cleared");
}

void Index::walk(py::handle record, std::uint32_t parent, std::uint32_t position) {
    RecursionGuard guard(" while reading the element tree");
    PyObject *r = record.ptr();
    if (!PyDict_CheckExact(r))
        raise(PyExc_TypeError, "element records must be dicts, got " + type_name(r) +
                                   (PyDict_Check(r) ? " (subclasses of dict are not accepted)" : ""));
    const auto self = (std::uint32_t)nodes_.size();
    if (PyList_Append(records_.ptr(), r) < 0) throw py::error_already_set();
    ordinal_.emplace(r, self);
    Node node{};
    node.parent = parent;
    node.position = position;
    for (unsigned a = 0; a < kAttrs; ++a) {
        PyObject *v = PyDict_GetItemWithError(r, key_name(Attr(a)).ptr());
        if (!v && PyErr_Occurred()) throw py::error_already_set();
        node.value[a] = v ? intern(py::reinterpret_borrow<py::object>(v), Attr(a)) : 0;
    }
    nodes_.push_back(node);

    PyObject *found = PyDict_GetItemWithError(r, "children"_n.ptr());
    if (!found) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return;
    }
    py::object children = py::reinterpret_borrow<py::object>(found);
    if (!PyList_Check(found))
        raise(PyExc_TypeError, "the 'children' of an element record must be a list, got " + type_name(found));
    std::uint32_t count = 0;
    // The list is read as it is at each step, as a for loop reads it.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(found); ++i) {
        py::object child = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(found, i));
        walk(child, self, ++count);
    }
    nodes_[self].children = count;
}

std::uint32_t Index::intern(py::handle value, Attr attr) {
    PyObject *v = value.ptr();
    if (!PyUnicode_Check(v))
        raise(PyExc_TypeError, "the '" + std::string(py::str(key_name(attr))) + "' of an element record must be a str, got " +
                                   type_name(v));
    py::object text = py::reinterpret_borrow<py::object>(v);
    if (!PyUnicode_CheckExact(v)) {  // a str subclass is read as its text
        text = py::reinterpret_steal<py::object>(PyUnicode_FromObject(v));
        if (!text) throw py::error_already_set();
        all_exact_ = false;
    }
    exact_str(text.ptr());
    if (PyUnicode_GET_LENGTH(text.ptr()) == 0) return 0;
    auto it = ids_.find(text.ptr());
    if (it != ids_.end()) return it->second;
    if (PyList_Append(held_.ptr(), text.ptr()) < 0) throw py::error_already_set();
    const auto id = (std::uint32_t)values_.size();
    values_.push_back(text.ptr());
    ids_.emplace(text.ptr(), id);
    return id;
}

std::optional<std::uint32_t> Index::id_of(py::handle s) const {
    check_live();
    if (!exact_str(s.ptr())) return std::nullopt;
    if (PyUnicode_GET_LENGTH(s.ptr()) == 0) return 0;
    auto it = ids_.find(s.ptr());
    if (it == ids_.end()) return std::nullopt;
    return it->second;
}

static Key masked(const Key &key, Mask mask) {
    Key k{};
    for (unsigned a = 0; a < kAttrs; ++a)
        if (mask & bit(Attr(a))) k[a] = key[a];
    return k;
}

const std::vector<std::uint32_t> &Index::holding(Mask mask, const Key &key) {
    check_live();
    static const std::vector<std::uint32_t> none;
    auto &buckets = by_mask_[mask];
    if (!buckets) {
        buckets.emplace();
        for (std::uint32_t i = 0; i < nodes_.size(); ++i) (*buckets)[masked(nodes_[i].value, mask)].push_back(i);
    }
    auto it = buckets->find(masked(key, mask));
    return it == buckets->end() ? none : it->second;
}

std::size_t Index::containing_text(py::handle needle) {
    check_live();
    const std::u32string lowered_needle = code_points(call_method(needle, "lower"_n));
    if (lowered_needle.empty()) return nodes_.size() - 1;
    if (lowered_spans_.empty()) {
        // Every distinct text lower-cased once, and how many elements below
        // the top hold it.
        lowered_spans_.assign(values_.size(), {0, 0});
        text_counts_.assign(values_.size(), 0);
        for (std::uint32_t i = 1; i < nodes_.size(); ++i) ++text_counts_[nodes_[i].value[Text]];
        for (std::uint32_t id = 1; id < values_.size(); ++id) {
            if (!text_counts_[id]) continue;
            const std::u32string low = code_points(call_method(values_[id], "lower"_n));
            lowered_spans_[id] = {lowered_.size(), low.size()};
            lowered_ += low;
        }
    }
    const std::size_t k = lowered_needle.size();
    auto [slot, fresh] = windows_.try_emplace(k);
    auto &windows = slot->second;
    if (fresh) {
        // Each distinct window of length k of each text, counted once per text.
        const std::u32string_view all(lowered_);
        for (std::uint32_t id = 1; id < lowered_spans_.size(); ++id) {
            const auto [start, length] = lowered_spans_[id];
            for (std::size_t at = start; at + k <= start + length; ++at) {
                Window &w = windows[all.substr(at, k)];
                if (w.last == id) continue;
                w.last = id;
                w.count += text_counts_[id];
            }
        }
    }
    auto it = windows.find(std::u32string_view(lowered_needle));
    return it == windows.end() ? 0 : it->second.count;
}

bool Index::has_invisible(std::uint32_t id) {
    signed char &known = invisible_[id];
    if (known < 0) {
        known = 0;
        for (char32_t c : code_points(values_[id]))
            if ((c >= 0x200B && c <= 0x200F) || c == 0xFEFF) known = 1;
    }
    return known;
}

// bool(a == b) for two exact dicts, by the dict type's own comparison.
static bool dicts_equal(py::handle a, py::handle b) {
    PyObject *r = PyDict_Type.tp_richcompare(a.ptr(), b.ptr(), Py_EQ);
    if (!r) throw py::error_already_set();
    return truthy(py::reinterpret_steal<py::object>(r));
}

// A record equal to the element holds values equal to the element's at the
// four attribute keys. When every record's values are exact strs and so are
// the element's (or they are absent), those are the same texts, so only the
// records holding the element's value ids can be equal, in the same
// pre-order. Those ordinals, or nullopt when this does not apply.
std::optional<std::vector<std::uint32_t>> Index::equal_candidates(py::handle element) {
    if (!all_exact_) return std::nullopt;
    Key key{};
    for (unsigned a = 0; a < kAttrs; ++a) {
        PyObject *v = PyDict_GetItemWithError(element.ptr(), key_name(Attr(a)).ptr());
        if (!v && PyErr_Occurred()) throw py::error_already_set();
        if (!v) continue;
        if (!PyUnicode_CheckExact(v)) return std::nullopt;
        auto id = id_of(v);
        if (!id) return std::vector<std::uint32_t>();  // no record holds that text
        key[a] = *id;
    }
    return holding((1u << kAttrs) - 1, key);
}

std::uint32_t Index::find(py::handle element) {
    check_live();
    if (auto it = ordinal_.find(element.ptr()); it != ordinal_.end()) return it->second;
    auto equal_to_element = [&](std::uint32_t i) {
        check_live();
        return dicts_equal(PyList_GET_ITEM(records_.ptr(), i), element);
    };
    if (auto candidates = equal_candidates(element)) {
        for (std::uint32_t i : *candidates)
            if (equal_to_element(i)) return i;
    } else {
        for (std::uint32_t i = 0; i < nodes_.size(); ++i)
            if (equal_to_element(i)) return i;
    }
    raise(PyExc_ValueError, "the element is not in the tree");
}

std::u32string code_points(py::handle s) {
    PyObject *v = s.ptr();
    if (!exact_str(v)) raise(PyExc_TypeError, "expected a str, got " + type_name(v));
    const int kind = PyUnicode_KIND(v);
    const void *data = PyUnicode_DATA(v);
    std::u32string out((std::size_t)PyUnicode_GET_LENGTH(v), U'\0');
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = PyUnicode_READ(kind, data, i);
    return out;
}

}  // namespace zv::locate
