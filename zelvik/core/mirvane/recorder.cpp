// The recording session: start, stop, record one action, session info, and
// the module's shared recorder.
#include "mirvane.hpp"

#include <string>

namespace zv::mirvane {

// datetime.fromtimestamp(start_time).isoformat()
static py::object iso_text(const Args &a, py::handle start_time) {
    return a.global("datetime"_n).attr("fromtimestamp"_n)(start_time).attr("isoformat"_n)();
}

// {"success": False, "message": message}
static py::dict refused(py::handle message) {
    py::dict r;
    r["success"_n] = py::bool_(false);
    r["message"_n] = message;
    return r;
}

static py::object init(const Args &a) {
    py::handle self = a[0];
    self.attr("is_recording"_n) = py::bool_(false);
    self.attr("actions"_n) = py::list();
    self.attr("start_time"_n) = py::none();
    self.attr("current_session_id"_n) = py::none();
    self.attr("device_info"_n) = py::dict();
    return py::none();
}

static py::object start_recording(const Args &a) {
    py::handle self = a[0], device_id = a[1];
    if (truthy(self.attr("is_recording"_n))) return refused("录制已在进行中"_n);

    self.attr("is_recording"_n) = py::bool_(true);
    self.attr("actions"_n) = py::list();
    self.attr("start_time"_n) = a.global("time"_n).attr("time"_n)();
    std::string session_id = "session_";
    text::plain(session_id, py::int_(self.attr("start_time"_n)));
    self.attr("current_session_id"_n) = text::to_str(session_id);
    py::dict device_info;
    device_info["device_id"_n] = device_id;
    self.attr("device_info"_n) = device_info;

    py::dict r;
    r["success"_n] = py::bool_(true);
    r["message"_n] = "开始录制操作"_n;
    r["session_id"_n] = self.attr("current_session_id"_n);
    r["start_time"_n] = iso_text(a, self.attr("start_time"_n));
    return r;
}

static py::object stop_recording(const Args &a) {
    py::handle self = a[0];
    if (!truthy(self.attr("is_recording"_n))) return refused("当前没有录制会话"_n);

    self.attr("is_recording"_n) = py::bool_(false);
    py::object start_time = self.attr("start_time"_n);
    py::object duration = truthy(start_time) ? a.global("time"_n).attr("time"_n)() - start_time : py::int_(0);

    std::string message = "录制完成，共记录 ";
    text::plain(message, py::int_(py::len(self.attr("actions"_n))));
    message += " 个操作";
    py::dict r;
    r["success"_n] = py::bool_(true);
    r["message"_n] = text::to_str(message);
    r["session_id"_n] = self.attr("current_session_id"_n);
    r["action_count"_n] = py::int_(py::len(self.attr("actions"_n)));
    r["duration"_n] = duration;
    return r;
}

// value.copy() if value else None
static py::object copy_or_none(py::handle value) { return truthy(value) ? call_method(value, "copy"_n) : py::none(); }

static py::object record_action(const Args &a) {
    py::handle self = a[0], action_type = a[1], params = a[2], element_info = a[3], coordinates = a[4];
    if (!truthy(self.attr("is_recording"_n))) return py::bool_(false);

    py::object current_time = a.global("time"_n).attr("time"_n)();
    py::object start_time = self.attr("start_time"_n);
    py::object relative_timestamp = truthy(start_time) ? current_time - start_time : py::int_(0);

    py::object action = a.global("RecordedAction"_n)(
        "action_type"_a = action_type, "timestamp"_a = relative_timestamp, "params"_a = call_method(params, "copy"_n),
        "element_info"_a = copy_or_none(element_info), "coordinates"_a = copy_or_none(coordinates));
    call_method(self.attr("actions"_n), "append"_n, action);
    return py::bool_(true);
}

static py::object get_current_session_info(const Args &a) {
    py::handle self = a[0];
    py::dict r;
    r["is_recording"_n] = self.attr("is_recording"_n);
    r["session_id"_n] = self.attr("current_session_id"_n);
    r["action_count"_n] = py::int_(py::len(self.attr("actions"_n)));
    py::object start_time = self.attr("start_time"_n);
    r["start_time"_n] = truthy(start_time) ? iso_text(a, start_time) : py::none();
    r["device_info"_n] = self.attr("device_info"_n);
    return r;
}

static py::object get_mirvane(const Args &a) { return a.global("mirvane"_n); }

const FunctionSpec kInit{
    .name = "__init__",
    .qualname = "ActionRecorder.__init__",
    .params = {{"self"}},
    .body = init,
};
const FunctionSpec kStartRecording{
    .name = "start_recording",
    .qualname = "ActionRecorder.start_recording",
    .doc = "开始录制操作",
    .params = {{"self"}, {"device_id", Check::Str, "str", Default::none()}},
    .result = {Check::Dict, "Dict[str, Any]"},
    .body = start_recording,
};
const FunctionSpec kStopRecording{
    .name = "stop_recording",
    .qualname = "ActionRecorder.stop_recording",
    .doc = "停止录制操作",
    .params = {{"self"}},
    .result = {Check::Dict, "Dict[str, Any]"},
    .body = stop_recording,
};
const FunctionSpec kRecordAction{
    .name = "record_action",
    .qualname = "ActionRecorder.record_action",
    .doc = "记录一个操作",
    .params = {{"self"},
               {"action_type", Check::Str, "str"},
               {"params", Check::Dict, "Dict[str, Any]"},
               {"element_info", Check::Dict, "Optional[Dict[str, Any]]", Default::none(), true},
               {"coordinates", Check::Dict, "Optional[Dict[str, int]]", Default::none(), true}},
    .result = {Check::Any, "bool"},
    .body = record_action,
};
const FunctionSpec kGetCurrentSessionInfo{
    .name = "get_current_session_info",
    .qualname = "ActionRecorder.get_current_session_info",
    .doc = "获取当前录制会话信息",
    .params = {{"self"}},
    .result = {Check::Dict, "Dict[str, Any]"},
    .body = get_current_session_info,
};
const FunctionSpec kGetMirvane{
    .name = "get_mirvane",
    .qualname = "get_mirvane",
    .doc = "获取全局录制器实例",
    .result = {Check::Any, "ActionRecorder"},
    .body = get_mirvane,
};

}  // namespace zv::mirvane
