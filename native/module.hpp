// Module assembly: multi-phase initialisation, module globals in order,
// plain classes built with type().
//
//   static void build(zv::ModuleBuilder &m) {
//       m.import("typing", {"List", "Dict"});
//       m.add_class({"CodeGenerator", "uiautomator2代码生成器", {&kInit, &kGenerate}});
//   }
//   ZV_MODULE(zantho, "\n代码生成器核心模块\n...", build)
#pragma once

#include "function.hpp"

#include <initializer_list>
#include <vector>

namespace zv {

struct ClassSpec {
    const char *name;
    const char *doc;  // nullptr: no docstring
    std::vector<const FunctionSpec *> methods;
};

class ModuleBuilder {
public:
    explicit ModuleBuilder(PyObject *module);

    py::dict globals() const { return globals_; }
    py::str module_name() const;

    // `import a.b` (binds the package `a`), or `import a.b as name`.
    void import(const char *module, const char *as = nullptr);
    // `from module import name, ...`
    void import(const char *module, std::initializer_list<const char *> names);
    // `from module import name as as`
    void import_as(const char *module, const char *name, const char *as);

    // A plain class (base object) with the given methods, in order; `extra`
    // entries go into the class namespace before the methods.
    py::object add_class(const ClassSpec &spec, py::dict extra = py::dict());
    py::object add_function(const FunctionSpec &spec);
    void set(const char *name, py::handle value);

private:
    py::module_ module_;
    py::dict globals_;
};

using ModuleBuild = void (*)(ModuleBuilder &);

// Py_mod_exec implementation: refuses interpreters other than the main one
// (declared as a slot from 3.12 on), runs `build`, reports errors as Python
// errors.
int exec_module(PyObject *module, ModuleBuild build);

}  // namespace zv

#if PY_VERSION_HEX >= 0x030C0000
#define ZV_MODULE_INTERPRETER_SLOT {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define ZV_MODULE_INTERPRETER_SLOT
#endif

#define ZV_MODULE(NAME, DOC, BUILD)                                                                    \
    static int zv_exec_##NAME(PyObject *m) { return ::zv::exec_module(m, BUILD); }                   \
    static PyModuleDef_Slot zv_slots_##NAME[] = {                                                     \
        {Py_mod_exec, (void *)zv_exec_##NAME}, ZV_MODULE_INTERPRETER_SLOT{0, nullptr}};               \
    static PyModuleDef zv_def_##NAME = {PyModuleDef_HEAD_INIT, "zelvik.core." #NAME, DOC, 0, nullptr, \
                                        zv_slots_##NAME, nullptr, nullptr, nullptr};                  \
    extern "C" PyMODINIT_FUNC PyInit_##NAME(void) { return PyModuleDef_Init(&zv_def_##NAME); }
