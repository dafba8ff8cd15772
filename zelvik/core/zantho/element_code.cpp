// CodeGenerator.__init__ and generate_element_code, the single-element entry
// point.
#include "objects.hpp"
#include "zantho.hpp"

namespace zv::zantho {

static py::object init(const Args &) { return py::none(); }

static py::object generate_element_code(const Args &a) {
    py::handle self = a[0], element = a[1];
    if (!truthy(element)) raise(PyExc_ValueError, "元素信息不能为空");
    py::object options = truthy(a[2]) ? py::reinterpret_borrow<py::object>(a[2]) : py::dict();
    py::object selectors = call_method(self, "_generate_selectors"_n, element);
    py::object operations = call_method(self, "_generate_operations"_n, element, options);
    py::object full_code = call_method(self, "_build_full_code"_n, selectors, operations, element);
    py::dict result;
    put(result, "selectors"_n, selectors);
    put(result, "operations"_n, operations);
    put(result, "full_code"_n, full_code);
    put(result, "element_info"_n, call_method(self, "_get_element_summary"_n, element));
    return result;
}

const FunctionSpec kInit{
    .name = "__init__",
    .qualname = "CodeGenerator.__init__",
    .params = {{"self"}},
    .body = init,
};

const FunctionSpec kGenerateElementCode{
    .name = "generate_element_code",
    .qualname = "CodeGenerator.generate_element_code",
    .doc = "生成元素定位代码",
    .params = {{"self"}, {"element", Check::Dict, "dict"}, {"options", Check::Dict, "dict", Default::none()}},
    .result = {Check::Dict, "dict"},
    .body = generate_element_code,
};

}  // namespace zv::zantho
