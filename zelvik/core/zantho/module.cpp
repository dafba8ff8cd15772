// zelvik.core.zantho: uiautomator2 locator code for UI elements.
#include "zantho.hpp"

namespace zv::zantho {

static void build(ModuleBuilder &m) {
    m.import("typing", {"List", "Dict", "Optional", "Tuple"});
    m.add_class({"CodeGenerator",
                 "uiautomator2代码生成器",
                 {&kInit, &kGenerateElementCode, &kGenerateSelectors, &kGenerateOperations, &kBuildFullCode,
                  &kGetElementSummary, &kGenerateBatchCode}});
}

}  // namespace zv::zantho

ZV_MODULE(zantho, "\n代码生成器核心模块\n根据UI元素信息生成uiautomator2定位代码\n", zv::zantho::build)
