// Small object operations with Python semantics, for element records (exact
// dicts) and the values read from them.
#pragma once

#include "zv.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <initializer_list>
#include <utility>

namespace zv::zantho {

// value.strip()
py::object strip(py::handle value);
// The value of make(), made on first use and kept for the process lifetime
// (threads waiting for it do not hold the GIL meanwhile).
template <class Make>
const auto &once(Make make) {
    PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<decltype(make())> storage;
    return storage.call_once_and_store_result(make).get_stored();
}

// A dict holding `items` in order, kept for the process lifetime. Records
// with fixed keys are made as copy(template): copying is much cheaper than
// inserting the keys one by one.
using Item = std::pair<py::handle, py::handle>;
py::handle make_template(std::initializer_list<Item> items);
// A new dict with the items of the exact dict `d`, in order.
py::dict copy(py::handle d);
// A new list of n empty slots, each to be filled with PyList_SET_ITEM.
py::list new_list(std::size_t n);
// A new list of the n objects from `items` on, in order.
template <class It>
py::list list_of(It items, std::size_t n) {
    py::list out = new_list(n);
    for (std::size_t i = 0; i < n; ++i, ++items)
        PyList_SET_ITEM(out.ptr(), (Py_ssize_t)i, py::handle(*items).inc_ref().ptr());
    return out;
}

// Up to N objects, held in the order appended; the slots are set as they fill
// (zeroing a fixed array of handles on every call showed in profiles).
template <std::size_t N>
class Kept {
public:
    Kept() = default;
    Kept(const Kept &) = delete;
    Kept &operator=(const Kept &) = delete;
    ~Kept() {
        for (std::size_t i = 0; i < size_; ++i) Py_DECREF(items_[i]);
    }

    void append(py::object item) { items_[size_++] = item.release().ptr(); }
    std::size_t size() const { return size_; }
    py::handle operator[](std::size_t i) const { return items_[i]; }

    // A new list of the items in order.
    py::list list() const { return list_of(items_, size_); }

private:
    PyObject *items_[N];
    std::size_t size_ = 0;
};

// The reads of one exact dict (an argument, which the call does not change),
// each key looked up once: a key read again gives the value read before as
// long as no Python code can have run since. Only values of the built-in
// immutable scalar types keep reuse on: code can run when other values are
// tested or converted, so reading one of them, or stop(), ends reuse for the
// rest of the call.
class Reads {
public:
    explicit Reads(py::handle record) : record_(record.ptr()) {}
    ~Reads() {
        for (std::size_t i = 0; i < size_; ++i) Py_XDECREF(values_[i]);
    }
    Reads(const Reads &) = delete;
    Reads &operator=(const Reads &) = delete;

    // record.get(key, fallback), or record.get(key) without a fallback.
    py::object get(py::handle key, py::handle fallback = {}) {
        PyObject *v = lookup(key.ptr());
        return py::reinterpret_borrow<py::object>(v ? v : fallback ? fallback.ptr() : Py_None);
    }
    // record[key]
    py::object item(py::handle key) {
        PyObject *v = lookup(key.ptr());
        return v ? py::reinterpret_borrow<py::object>(v) : zv::item(record_, key);
    }
    // `value` came from elsewhere: reuse ends unless it is inert.
    void check(py::handle value) {
        if (!inert(value.ptr())) stop();
    }
    void stop() { reuse_ = false; }

private:
    static bool inert(PyObject *v) {
        return PyUnicode_CheckExact(v) || v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) ||
               PyFloat_CheckExact(v);
    }
    PyObject *lookup(PyObject *key);

    PyObject *record_;
    // The first size_ are set; values are held, as a collection may run
    // finalizers that change the dict.
    static constexpr std::size_t kSeen = 6;
    PyObject *keys_[kSeen], *values_[kSeen];
    std::size_t size_ = 0;
    bool reuse_ = true;
};


}  // namespace zv::zantho
