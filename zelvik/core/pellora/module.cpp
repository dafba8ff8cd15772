#include "pellora.hpp"

namespace zv::pellora {

static void build(ModuleBuilder &m) {
    m.import("asyncio");
    m.import("base64");
    m.import("io");
    m.import("subprocess");
    m.import("xml.etree.ElementTree", "ET");
    m.import("typing", {"Dict", "List", "Optional", "Tuple"});
    m.import("PIL.Image", "Image");
    load_element_tree_parts();
    m.add_class({"UIAnalyzer",
                 "UI分析器",
                 {&kInit, &kCaptureWithHierarchy, &kEnsureDeviceReady, &kGetDeviceResolution, &kTakeScreenshot,
                  &kAdbScreenshot, &kExecuteAdbScreencap, &kGetUiHierarchy, &kParseXmlNode, &kParseBounds,
                  &kFindElementAtPosition, &kGetElementPath}});
}

}  // namespace zv::pellora

ZV_MODULE(pellora, "\nUI分析器核心模块\n负责UI层次结构解析和元素分析\n", zv::pellora::build)
