// Native function objects.
//
// Every function and method of the modules is declared once, as data:
//
//   const zv::FunctionSpec kSummary{
//       .name = "_get_element_summary",
//       .qualname = "CodeGenerator._get_element_summary",
//       .doc = "获取元素摘要信息",
//       .params = {{"self"}, {"element", zv::Check::Dict, "dict"}},
//       .result = {zv::Check::Dict, "dict"},
//       .body = get_element_summary,
//   };
//
// and make_function() turns the declaration into a callable that behaves like
// a Python function: it binds as a method, checks and converts its arguments
// before the body runs, checks the result, and reports C++ exceptions as
// Python errors with a traceback entry.
#pragma once

#include "pyobj.hpp"

#include <cstddef>
#include <vector>

namespace zv {

class Task;

// How an argument (or a result) is checked.
enum class Check : unsigned char {
    Any,    // not checked
    Str,    // exactly str
    Dict,   // exactly dict
    List,   // exactly list
    Bytes,  // exactly bytes (results only)
    Int,    // int kept, other numbers converted with int()
    Float,  // converted to float
    Bool,   // any object, by its truth value
};

// A parameter's default value.
struct Default {
    enum Kind : unsigned char { Required, None, False, True, Int, Float, Str };
    Kind kind = Required;
    long long i = 0;
    double f = 0;
    const char *s = nullptr;

    static constexpr Default none() { return {None}; }
    static constexpr Default of(bool b) { return {b ? True : False}; }
    static constexpr Default of(int v) { return {Int, v}; }
    static constexpr Default of(double v) { return {Float, 0, v}; }
    static constexpr Default of(const char *v) { return {Str, 0, 0, v}; }
};

struct Param {
    const char *name;
    Check check = Check::Any;
    const char *annotation = nullptr;  // text stored in __annotations__
    Default value = {};
    bool optional = false;  // None accepted (an Optional[...] annotation)
};

struct Result {
    Check check = Check::Any;
    const char *annotation = nullptr;
};

inline constexpr std::size_t kMaxParams = 8;

struct FunctionObject;

// The checked arguments of one call; index 0 is `self` for methods.
class Args {
public:
    Args() = default;
    Args(const Args &) = delete;
    Args &operator=(const Args &) = delete;
    ~Args();

    py::handle operator[](std::size_t i) const { return values_[i]; }

    // The module global `name`, looked up in the module namespace now.
    py::object global(py::handle name) const;
    // The module namespace.
    py::handle globals() const;

    // Moves `other`'s arguments into this (empty) object.
    void take(Args &other);
    int traverse(visitproc visit, void *arg) const;
    void clear();

private:
    friend struct FunctionObject;
    friend const char *module_short_name(const Args &);
    PyObject *values_[kMaxParams] = {};
    std::size_t count_ = 0;
    FunctionObject *function_ = nullptr;
};

using Body = py::object (*)(const Args &);
using AsyncBody = Task (*)(const Args &);

struct FunctionSpec {
    const char *name;
    const char *qualname;
    const char *doc = nullptr;  // nullptr: no docstring
    std::vector<Param> params;
    Result result = {};
    Body body = nullptr;             // a plain function, or
    AsyncBody async_body = nullptr;  // an `async def` one
};

// A new function object for `spec` in the module whose namespace is
// `globals`. `spec` must outlive it (declare specs as static data).
py::object make_function(const FunctionSpec &spec, py::handle globals);

// Applies the result check of `spec` to `value` (used for coroutine results).
void check_result(const FunctionSpec &spec, py::handle value);

// Looks up `self.<name>` as a method call does. True when it finds the
// function declared by `spec` (not an override): the caller may then run that
// function's work directly (`found` may be left empty). Otherwise `found` is
// the attribute, to be called.
bool own_method(py::handle self, py::handle name, const FunctionSpec &spec, py::object &found);

// Module name ("zantho") and qualified name of the function running `args`,
// for traceback entries.
const char *module_short_name(const Args &args);

}  // namespace zv
