// zelvik.core.mirvane: imports, the RecordedAction dataclass, the
// ActionRecorder class, the shared recorder `mirvane` and get_mirvane().
#include "mirvane.hpp"

namespace zv::mirvane {

// @dataclass class RecordedAction: six annotated fields, the last three
// defaulting to None.
static void add_recorded_action(ModuleBuilder &m) {
    py::dict annotations;
    annotations["action_type"] = "str";
    annotations["timestamp"] = "float";
    annotations["params"] = "Dict[str, Any]";
    annotations["element_info"] = "Optional[Dict[str, Any]]";
    annotations["coordinates"] = "Optional[Dict[str, int]]";
    annotations["screenshot_before"] = "Optional[str]";
    py::dict ns;
    ns["__module__"] = m.module_name();
    ns["__annotations__"] = annotations;
    ns["__doc__"] = "录制的操作数据结构";
    ns["element_info"] = py::none();
    ns["coordinates"] = py::none();
    ns["screenshot_before"] = py::none();
    py::object cls = m.add_class({"RecordedAction", nullptr, {}}, ns);
    m.set("RecordedAction", m.globals()["dataclass"](cls));
}

static void build(ModuleBuilder &m) {
    m.import("time");
    m.import("datetime", {"datetime"});
    m.import("dataclasses", {"dataclass", "asdict"});
    m.import("typing", {"List", "Dict", "Any", "Optional"});
    add_recorded_action(m);
    m.add_class({"ActionRecorder",
                 "操作录制器",
                 {&kInit, &kStartRecording, &kStopRecording, &kRecordAction, &kGetCurrentSessionInfo, &kGenerateScript,
                  &kGenerateUiautomator2Script, &kGenerateActionCode, &kGenerateClickCode, &kGenerateLongClickCode,
                  &kGenerateInputCode, &kGenerateKeyCode, &kGenerateSwipeCode, &kGenerateElementLocator,
                  &kExportSessionData, &kImportSessionData}});
    m.set("mirvane", m.globals()["ActionRecorder"]());
    m.add_function(kGetMirvane);
}

}  // namespace zv::mirvane

ZV_MODULE(mirvane, "\n操作录制核心模块\n记录用户操作序列并生成uiautomator2脚本\n", zv::mirvane::build)
