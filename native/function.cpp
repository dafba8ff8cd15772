#include "function_object.hpp"

#include "coroutine.hpp"
#include "errors.hpp"
#include "recursion.hpp"

#include <structmember.h>

#include <string>

namespace zv {

// ---------------------------------------------------------------- Args

Args::~Args() { clear(); }

void Args::clear() {
    for (std::size_t i = 0; i < count_; ++i) Py_CLEAR(values_[i]);
    count_ = 0;
}

void Args::take(Args &other) {
    clear();
    for (std::size_t i = 0; i < other.count_; ++i) {
        values_[i] = other.values_[i];
        other.values_[i] = nullptr;
    }
    count_ = other.count_;
    function_ = other.function_;
    other.count_ = 0;
}

int Args::traverse(visitproc visit, void *arg) const {
    for (std::size_t i = 0; i < count_; ++i) Py_VISIT(values_[i]);
    return 0;
}

py::handle Args::globals() const { return function_->globals; }

py::object Args::global(py::handle name_handle) const {
    PyObject *name = name_handle.ptr();
    PyObject *v = PyDict_GetItemWithError(function_->globals, name);
    if (!v) {
        if (!PyErr_Occurred()) {
            // Builtins are reachable as in Python code.
            PyObject *builtins = PyEval_GetBuiltins();
            v = builtins ? PyDict_GetItemWithError(builtins, name) : nullptr;
            if (!v && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        }
        if (!v) throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(v);
}

const char *module_short_name(const Args &args) { return PyUnicode_AsUTF8(args.function_->module_name); }

// ---------------------------------------------------------------- checks

static const char *check_type_name(Check c) {
    switch (c) {
        case Check::Str: return "str";
        case Check::Dict: return "dict";
        case Check::List: return "list";
        case Check::Bytes: return "bytes";
        case Check::Int: return "int";
        case Check::Float: return "float";
        default: return "object";
    }
}

static PyTypeObject *check_type(Check c) {
    switch (c) {
        case Check::Str: return &PyUnicode_Type;
        case Check::Dict: return &PyDict_Type;
        case Check::List: return &PyList_Type;
        case Check::Bytes: return &PyBytes_Type;
        case Check::Int: return &PyLong_Type;
        case Check::Float: return &PyFloat_Type;
        default: return nullptr;
    }
}

static void arg_type_error(const Param &p, PyObject *value) {
    PyTypeObject *expected = check_type(p.check);
    const char *note = (expected && PyObject_TypeCheck(value, expected))
                           ? ". Subclasses of built-in types are not accepted for this argument."
                           : "";
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)%s", p.name,
                 check_type_name(p.check), Py_TYPE(value)->tp_name, note);
}

// Checks or converts one argument in place; false with an error set.
static bool convert_arg(const Param &p, PyObject *&slot) {
    PyObject *v = slot;
    if (v == Py_None && (p.optional || p.value.kind == Default::None)) return true;
    switch (p.check) {
        case Check::Str:
        case Check::Dict:
        case Check::List:
        case Check::Bytes:
            if (Py_TYPE(v) == check_type(p.check)) return true;
            arg_type_error(p, v);
            return false;
        case Check::Int: {
            if (PyLong_CheckExact(v)) return true;
            if (!PyNumber_Check(v)) {
                arg_type_error(p, v);
                return false;
            }
            PyObject *r = PyNumber_Long(v);
            if (!r) return false;
            Py_SETREF(slot, r);
            return true;
        }
        case Check::Float: {
            if (PyFloat_CheckExact(v)) return true;
            double d = PyFloat_AsDouble(v);
            if (d == -1.0 && PyErr_Occurred()) {
                if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                    PyErr_Clear();
                    arg_type_error(p, v);
                }
                return false;
            }
            PyObject *r = PyFloat_FromDouble(d);
            if (!r) return false;
            Py_SETREF(slot, r);
            return true;
        }
        case Check::Bool: {
            int t = PyObject_IsTrue(v);
            if (t < 0) return false;
            PyObject *r = t ? Py_True : Py_False;
            Py_INCREF(r);
            Py_SETREF(slot, r);
            return true;
        }
        default: return true;
    }
}

// An argument of exactly the checked type, the usual case, is taken as it is.
static inline bool check_arg(const Param &p, PyObject *&slot) {
    return p.check == Check::Any || Py_TYPE(slot) == check_type(p.check) || convert_arg(p, slot);
}

static void check_result_value(Check check, PyObject *value) {
    if (check == Check::Any || value == Py_None) return;
    PyTypeObject *t = check_type(check);
    if (!t || Py_TYPE(value) == t) return;
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", check_type_name(check), Py_TYPE(value)->tp_name);
    throw py::error_already_set();
}

void check_result(const FunctionSpec &spec, py::handle value) { check_result_value(spec.result.check, value.ptr()); }

static bool declared_by(PyObject *f, const FunctionSpec &spec) {
    return Py_TYPE(f) == &FunctionType && ((FunctionObject *)f)->spec == &spec;
}

// The generic attribute lookup's answer for self.<name> when it finds the
// function declared by `spec`, reached without binding it: the first class
// in the MRO that defines the name holds that function (not a data
// descriptor, so the instance dict comes first). False when the lookup would
// go otherwise, or may.
static bool found_unbound(PyObject *self, PyObject *name, const FunctionSpec &spec) {
    PyTypeObject *type = Py_TYPE(self);
    if (type->tp_getattro != PyObject_GenericGetAttr || !type->tp_mro) return false;
    PyObject *attr = nullptr;
    for (Py_ssize_t i = 0; !attr && i < PyTuple_GET_SIZE(type->tp_mro); ++i) {
        PyObject *dict = ((PyTypeObject *)PyTuple_GET_ITEM(type->tp_mro, i))->tp_dict;
        if (!dict) continue;  // a static built-in type (3.12+), which defines none of our names
        attr = PyDict_GetItemWithError(dict, name);
        if (!attr && PyErr_Occurred()) throw py::error_already_set();
    }
    if (!attr || !declared_by(attr, spec)) return false;
    PyObject *dict = PyObject_GenericGetDict(self, nullptr);
    if (!dict) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();  // no instance dict: nothing can shadow the method
        return true;
    }
    const int shadowed = PyDict_Contains(dict, name);
    Py_DECREF(dict);
    if (shadowed < 0) throw py::error_already_set();
    return !shadowed;
}

bool own_method(py::handle self, py::handle name, const FunctionSpec &spec, py::object &found) {
    if (found_unbound(self.ptr(), name.ptr(), spec)) return true;
    PyObject *m = PyObject_GetAttr(self.ptr(), name.ptr());
    if (!m) throw py::error_already_set();
    found = py::reinterpret_steal<py::object>(m);
    return PyMethod_Check(m) && PyMethod_GET_SELF(m) == self.ptr() && declared_by(PyMethod_GET_FUNCTION(m), spec);
}

// ---------------------------------------------------------------- binding

static const char *name_of(FunctionObject *f) { return f->spec->name; }

static void argtuple_error(FunctionObject *f, Py_ssize_t num_min, Py_ssize_t num_max, Py_ssize_t found) {
    Py_ssize_t expected;
    const char *more_or_less;
    if (found < num_min) {
        expected = num_min;
        more_or_less = "at least";
    } else {
        expected = num_max;
        more_or_less = "at most";
    }
    if (num_min == num_max) more_or_less = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", name_of(f),
                 more_or_less, expected, expected == 1 ? "" : "s", found);
}

static Py_ssize_t find_param(const FunctionSpec &spec, PyObject *key) {
    const auto n = (Py_ssize_t)spec.params.size();
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, spec.params[i].name) == 0) return i;
    }
    return -1;
}

bool FunctionObject::bind(Args &out, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    const FunctionSpec &s = *spec;
    const auto nparams = (Py_ssize_t)s.params.size();
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    out.function_ = this;

    // Every argument by position, as most calls give them.
    if (!nkw && required <= nargs && nargs <= nparams) {
        for (Py_ssize_t i = 0; i < nparams; ++i) {
            PyObject *v = i < nargs ? args[i] : defaults[i];
            Py_INCREF(v);
            out.values_[i] = v;
            out.count_ = (std::size_t)i + 1;
            if (i < nargs && !check_arg(s.params[i], out.values_[i])) return false;
        }
        return true;
    }

    // Functions without parameters and methods taking only self.
    if (nparams <= 1 && required == nparams) {
        if (nkw) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", name_of(this));
            return false;
        }
        if (nargs != nparams) {
            if (nparams == 0)
                PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", name_of(this), nargs);
            else
                PyErr_Format(PyExc_TypeError, "%.200s() takes exactly one argument (%zd given)", name_of(this), nargs);
            return false;
        }
    }
    if (nargs > nparams) {
        argtuple_error(this, required, nparams, nargs);
        return false;
    }
    PyObject *vals[kMaxParams] = {};
    for (Py_ssize_t i = 0; i < nargs; ++i) vals[i] = args[i];
    PyObject *const *kwvalues = args + nargs;
    // Required parameters not given by position are taken by keyword first.
    for (Py_ssize_t i = nargs; i < required; ++i) {
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject *key = PyTuple_GET_ITEM(kwnames, k);
            if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, s.params[i].name) == 0) {
                vals[i] = kwvalues[k];
                break;
            }
        }
        if (!vals[i]) {
            argtuple_error(this, required, nparams, i);
            return false;
        }
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", name_of(this));
            return false;
        }
        Py_ssize_t i = find_param(s, key);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", name_of(this), key);
            return false;
        }
        if (i < nargs || (vals[i] && vals[i] != kwvalues[k])) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", name_of(this), key);
            return false;
        }
        vals[i] = kwvalues[k];
    }
    for (Py_ssize_t i = 0; i < nparams; ++i) {
        PyObject *v = vals[i] ? vals[i] : defaults[i];
        Py_INCREF(v);
        out.values_[i] = v;
        out.count_ = (std::size_t)i + 1;
        if (vals[i] && !check_arg(s.params[i], out.values_[i])) return false;
    }
    return true;
}

void FunctionObject::restore_error() {
    detail::restore_error(globals, PyUnicode_AsUTF8(module_name), PyUnicode_AsUTF8(qualname));
}

// ---------------------------------------------------------------- calls

static PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    auto *f = (FunctionObject *)callable;
    const FunctionSpec &s = *f->spec;
    Args a;
    if (!f->bind(a, args, PyVectorcall_NARGS(nargsf), kwnames)) {
        try {
            throw py::error_already_set();
        } catch (py::error_already_set &) {
            f->restore_error();
        }
        return nullptr;
    }
    if (s.async_body) {
        try {
            return make_coroutine(f, a).release().ptr();
        } catch (...) {
            f->restore_error();
            return nullptr;
        }
    }
    if (!RecursionGuard::enter(" while calling a Python object")) return nullptr;
    PyObject *result = nullptr;
    try {
        py::object r = s.body(a);
        if (!r) r = py::none();
        check_result_value(s.result.check, r.ptr());
        result = r.release().ptr();
    } catch (...) {
        f->restore_error();
    }
    RecursionGuard::leave();
    return result;
}

// ---------------------------------------------------------------- type

static PyObject *default_object(const Default &d) {
    switch (d.kind) {
        case Default::None: Py_RETURN_NONE;
        case Default::False: Py_RETURN_FALSE;
        case Default::True: Py_RETURN_TRUE;
        case Default::Int: return PyLong_FromLongLong(d.i);
        case Default::Float: return PyFloat_FromDouble(d.f);
        case Default::Str: return PyUnicode_FromString(d.s);
        default: return nullptr;
    }
}

static int function_traverse(PyObject *self, visitproc visit, void *arg) {
    auto *f = (FunctionObject *)self;
    Py_VISIT(f->globals);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    for (PyObject *d : f->defaults) Py_VISIT(d);
    return 0;
}

static int function_clear(PyObject *self) {
    auto *f = (FunctionObject *)self;
    Py_CLEAR(f->globals);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    for (PyObject *&d : f->defaults) Py_CLEAR(d);
    return 0;
}

static void function_dealloc(PyObject *self) {
    auto *f = (FunctionObject *)self;
    PyObject_GC_UnTrack(self);
    if (f->weakreflist) PyObject_ClearWeakRefs(self);
    function_clear(self);
    Py_CLEAR(f->module_name);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    PyObject_GC_Del(self);
}

static PyObject *function_descr_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr || obj == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, obj);
}

static PyObject *function_repr(PyObject *self) {
    auto *f = (FunctionObject *)self;
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

static int set_str(PyObject **slot, PyObject *value, const char *what) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_INCREF(value);
    Py_SETREF(*slot, value);
    return 0;
}

static int set_any(PyObject **slot, PyObject *value) {
    Py_XINCREF(value ? value : Py_None);
    Py_XSETREF(*slot, value ? value : Py_None);
    return 0;
}

static PyObject *get_slot(PyObject *v) {
    Py_INCREF(v);
    return v;
}

#define ZV_FN(o) ((FunctionObject *)(o))

static PyObject *fn_get_name(PyObject *o, void *) { return get_slot(ZV_FN(o)->name); }
static int fn_set_name(PyObject *o, PyObject *v, void *) { return set_str(&ZV_FN(o)->name, v, "__name__"); }
static PyObject *fn_get_qualname(PyObject *o, void *) { return get_slot(ZV_FN(o)->qualname); }
static int fn_set_qualname(PyObject *o, PyObject *v, void *) {
    return set_str(&ZV_FN(o)->qualname, v, "__qualname__");
}
static PyObject *fn_get_module(PyObject *o, void *) { return get_slot(ZV_FN(o)->module); }
static int fn_set_module(PyObject *o, PyObject *v, void *) { return set_any(&ZV_FN(o)->module, v); }
static PyObject *fn_get_doc(PyObject *o, void *) { return get_slot(ZV_FN(o)->doc); }
static int fn_set_doc(PyObject *o, PyObject *v, void *) { return set_any(&ZV_FN(o)->doc, v); }
static PyObject *fn_get_annotations(PyObject *o, void *) { return get_slot(ZV_FN(o)->annotations); }
static int fn_set_annotations(PyObject *o, PyObject *v, void *) {
    if (!v || !PyDict_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_INCREF(v);
    Py_SETREF(ZV_FN(o)->annotations, v);
    return 0;
}

static PyObject *fn_get_defaults(PyObject *o, void *) {
    auto *f = ZV_FN(o);
    const auto n = (Py_ssize_t)f->spec->params.size();
    if (f->required == n) Py_RETURN_NONE;
    PyObject *t = PyTuple_New(n - f->required);
    if (!t) return nullptr;
    for (Py_ssize_t i = f->required; i < n; ++i) {
        Py_INCREF(f->defaults[i]);
        PyTuple_SET_ITEM(t, i - f->required, f->defaults[i]);
    }
    return t;
}

// "(self, element, options=None)", so that inspect.signature() works.
static PyObject *fn_get_text_signature(PyObject *o, void *) {
    auto *f = ZV_FN(o);
    std::string sig = "(";
    const auto &params = f->spec->params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i) sig += ", ";
        sig += params[i].name;
        if (f->defaults[i]) {
            PyObject *r = PyObject_Repr(f->defaults[i]);
            if (!r) return nullptr;
            sig += "=";
            sig += PyUnicode_AsUTF8(r);
            Py_DECREF(r);
        }
    }
    sig += ")";
    return PyUnicode_FromString(sig.c_str());
}

static PyGetSetDef function_getset[] = {
    {"__name__", fn_get_name, fn_set_name, nullptr, nullptr},
    {"__qualname__", fn_get_qualname, fn_set_qualname, nullptr, nullptr},
    {"__module__", fn_get_module, fn_set_module, nullptr, nullptr},
    {"__doc__", fn_get_doc, fn_set_doc, nullptr, nullptr},
    {"__annotations__", fn_get_annotations, fn_set_annotations, nullptr, nullptr},
    {"__defaults__", fn_get_defaults, nullptr, nullptr, nullptr},
    {"__text_signature__", fn_get_text_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject FunctionType = [] {
    PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
    t.tp_name = "function";
    t.tp_basicsize = sizeof(FunctionObject);
    t.tp_dealloc = function_dealloc;
    t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    t.tp_repr = function_repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_getattro = PyObject_GenericGetAttr;
    t.tp_setattro = PyObject_GenericSetAttr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
    t.tp_traverse = function_traverse;
    t.tp_clear = function_clear;
    t.tp_weaklistoffset = offsetof(FunctionObject, weakreflist);
    t.tp_getset = function_getset;
    t.tp_descr_get = function_descr_get;
    t.tp_dictoffset = offsetof(FunctionObject, dict);
    return t;
}();

static void ready_type() {
    if (!(FunctionType.tp_flags & Py_TPFLAGS_READY) && PyType_Ready(&FunctionType) < 0)
        throw py::error_already_set();
}

// Marks an async function so that asyncio and inspect see a coroutine function.
static void mark_coroutine_function(py::handle fn) {
    py::module_ coroutines = py::module_::import("asyncio.coroutines");
    if (py::hasattr(coroutines, "_is_coroutine"))
        fn.attr("_is_coroutine") = coroutines.attr("_is_coroutine");
    py::module_ inspect = py::module_::import("inspect");
    if (py::hasattr(inspect, "markcoroutinefunction")) inspect.attr("markcoroutinefunction")(fn);
}

py::object make_function(const FunctionSpec &spec, py::handle globals) {
    ready_type();
    if (spec.params.size() > kMaxParams) throw std::length_error("too many parameters");
    auto *f = PyObject_GC_New(FunctionObject, &FunctionType);
    if (!f) throw py::error_already_set();
    f->vectorcall = function_vectorcall;
    f->spec = &spec;
    f->globals = nullptr;
    f->module_name = f->module = f->name = f->qualname = f->doc = f->annotations = f->dict = f->weakreflist = nullptr;
    for (PyObject *&d : f->defaults) d = nullptr;
    f->required = 0;
    auto fn = py::reinterpret_steal<py::object>((PyObject *)f);

    Py_INCREF(globals.ptr());
    f->globals = globals.ptr();
    py::str module = py::reinterpret_borrow<py::dict>(globals)["__name__"];
    std::string full = module;
    f->module = module.release().ptr();
    f->module_name = py::str(full.substr(full.rfind('.') + 1)).release().ptr();
    f->name = py::str(spec.name).release().ptr();
    f->qualname = py::str(spec.qualname).release().ptr();
    f->doc = spec.doc ? py::str(spec.doc).release().ptr() : py::none().release().ptr();
    py::dict annotations;
    bool defaults_started = false;
    for (std::size_t i = 0; i < spec.params.size(); ++i) {
        const Param &p = spec.params[i];
        if (p.annotation) annotations[p.name] = py::str(p.annotation);
        if (p.value.kind == Default::Required) {
            if (defaults_started) throw std::logic_error("required parameter after a default");
            f->required = (Py_ssize_t)i + 1;
        } else {
            defaults_started = true;
            f->defaults[i] = default_object(p.value);
            if (!f->defaults[i]) throw py::error_already_set();
        }
    }
    if (spec.result.annotation) annotations["return"] = py::str(spec.result.annotation);
    f->annotations = annotations.release().ptr();
    PyObject_GC_Track((PyObject *)f);
    if (spec.async_body) mark_coroutine_function(fn);
    return fn;
}

}  // namespace zv
