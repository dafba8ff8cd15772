#include "module.hpp"

#include "errors.hpp"

#include <string>

namespace zv {

ModuleBuilder::ModuleBuilder(PyObject *module)
    : module_(py::reinterpret_borrow<py::module_>(module)),
      globals_(py::reinterpret_borrow<py::dict>(PyModule_GetDict(module))) {}

py::str ModuleBuilder::module_name() const { return globals_["__name__"]; }

void ModuleBuilder::import(const char *module, const char *as) {
    py::module_ leaf = py::module_::import(module);
    if (as) {
        set(as, leaf);
        return;
    }
    std::string top(module);
    top = top.substr(0, top.find('.'));
    set(top.c_str(), py::module_::import(top.c_str()));
}

void ModuleBuilder::import(const char *module, std::initializer_list<const char *> names) {
    py::module_ m = py::module_::import(module);
    for (const char *name : names) set(name, m.attr(name));
}

void ModuleBuilder::import_as(const char *module, const char *name, const char *as) {
    set(as, py::module_::import(module).attr(name));
}

py::object ModuleBuilder::add_class(const ClassSpec &spec, py::dict extra) {
    py::dict ns;
    ns["__module__"] = module_name();
    ns["__qualname__"] = py::str(spec.name);
    if (spec.doc) ns["__doc__"] = py::str(spec.doc);
    for (auto item : extra) ns[item.first] = item.second;
    for (const FunctionSpec *m : spec.methods) ns[m->name] = make_function(*m, globals_);
    py::object type = py::reinterpret_borrow<py::object>((PyObject *)&PyType_Type);
    py::object cls = type(spec.name, py::make_tuple(py::reinterpret_borrow<py::object>((PyObject *)&PyBaseObject_Type)), ns);
    set(spec.name, cls);
    return cls;
}

py::object ModuleBuilder::add_function(const FunctionSpec &spec) {
    py::object fn = make_function(spec, globals_);
    set(spec.name, fn);
    return fn;
}

void ModuleBuilder::set(const char *name, py::handle value) { globals_[name] = value; }

int exec_module(PyObject *module, ModuleBuild build) {
    // The runtime takes the GIL the way of the main interpreter only
    // (PyGILState), so the modules load there alone.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_Format(PyExc_ImportError, "module %s does not support loading in subinterpreters",
                     PyModule_GetName(module));
        return -1;
    }
    try {
        ModuleBuilder builder(module);
        build(builder);
        return 0;
    } catch (...) {
        if (foreign_exception()) throw;
        std::string name = PyModule_GetName(module) ? PyModule_GetName(module) : "?";
        PyErr_Clear();
        detail::restore_error(PyModule_GetDict(module), name.substr(name.rfind('.') + 1).c_str(), "<module>");
        return -1;
    }
}

}  // namespace zv
