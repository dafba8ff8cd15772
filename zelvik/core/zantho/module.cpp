#include "zv.hpp"

namespace zv::zantho {

static py::object init(const Args &) { return py::none(); }

static py::object get_element_summary(const Args &a) {
    py::dict element = py::reinterpret_borrow<py::dict>(a[1]);
    py::dict r;
    r["class"_n] = element.attr("get")("class"_n, "");
    return r;
}

const FunctionSpec kInit{.name = "__init__", .qualname = "CodeGenerator.__init__", .params = {{"self"}}, .body = init};
const FunctionSpec kSummary{
    .name = "_get_element_summary",
    .qualname = "CodeGenerator._get_element_summary",
    .doc = "获取元素摘要信息",
    .params = {{"self"}, {"element", Check::Dict, "dict"}},
    .result = {Check::Dict, "dict"},
    .body = get_element_summary,
};

static void build(ModuleBuilder &m) {
    m.import("typing", {"List", "Dict", "Optional", "Tuple"});
    m.add_class({"CodeGenerator", "uiautomator2代码生成器", {&kInit, &kSummary}});
}

}  // namespace zv::zantho

ZV_MODULE(zantho, "\n代码生成器核心模块\n根据UI元素信息生成uiautomator2定位代码\n", zv::zantho::build)
