// zelvik.core.mirvane: imports, the RecordedAction dataclass, the
// ActionRecorder class, the shared recorder `mirvane` and get_mirvane().
#include "mirvane.hpp"

namespace zv::mirvane {

// @dataclass class RecordedAction: six annotated fields, the last three
// defaulting to None.
static void add_recorded_action(ModuleBuilder &m) {
    // Field names interned, as identifiers in source are: asdict() keys then
    // match the generated __init__'s parameter names by identity.
    py::dict annotations;
    annotations["action_type"_n] = "str";
    annotations["timestamp"_n] = "float";
    annotations["params"_n] = "Dict[str, Any]";
    annotations["element_info"_n] = "Optional[Dict[str, Any]]";
    annotations["coordinates"_n] = "Optional[Dict[str, int]]";
    annotations["screenshot_before"_n] = "Optional[str]";
    py::dict ns;
    ns["__module__"_n] = m.module_name();
    ns["__annotations__"_n] = annotations;
    ns["__doc__"_n] = "录制的操作数据结构";
    ns["element_info"_n] = py::none();
    ns["coordinates"_n] = py::none();
    ns["screenshot_before"_n] = py::none();
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
