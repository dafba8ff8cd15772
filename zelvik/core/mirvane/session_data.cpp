// Session export and import: the session as one plain dictionary.
#include "mirvane.hpp"

namespace zv::mirvane {

static py::object export_session_data(const Args &a) {
    py::handle self = a[0];
    py::dict r;
    r["session_id"_n] = self.attr("current_session_id"_n);
    r["device_info"_n] = self.attr("device_info"_n);
    r["start_time"_n] = self.attr("start_time"_n);
    py::list actions;
    for (py::handle action : self.attr("actions"_n)) actions.append(call(a.global("asdict"_n), action));
    r["actions"_n] = actions;
    r["generated_at"_n] = a.global("time"_n).attr("time"_n)();
    return r;
}

// The whole session is built first and taken over only when all of it
// succeeded: a failed import leaves the recorder as it was.
static py::object import_session_data(const Args &a) {
    py::handle self = a[0], session_data = a[1];
    try {
        py::object session_id = get(session_data, "session_id"_n, py::none());
        py::object device_info = get(session_data, "device_info"_n, py::dict());
        py::object start_time = get(session_data, "start_time"_n, py::none());
        py::list actions;
        for (py::handle action_data : get(session_data, "actions"_n, py::list())) {
            py::dict fields(py::reinterpret_borrow<py::object>(action_data));  // dict(action_data) unless a dict
            actions.append(call_kw(a.global("RecordedAction"_n), fields));
        }
        self.attr("current_session_id"_n) = session_id;
        self.attr("device_info"_n) = device_info;
        self.attr("start_time"_n) = start_time;
        self.attr("actions"_n) = actions;
        self.attr("is_recording"_n) = py::bool_(false);
        return py::bool_(true);
    } catch (py::error_already_set &e) {
        only_exception(e);
        return py::bool_(false);
    }
}

const FunctionSpec kExportSessionData{
    .name = "export_session_data",
    .qualname = "ActionRecorder.export_session_data",
    .doc = "导出录制会话数据",
    .params = {{"self"}},
    .result = {Check::Dict, "Dict[str, Any]"},
    .body = export_session_data,
};
const FunctionSpec kImportSessionData{
    .name = "import_session_data",
    .qualname = "ActionRecorder.import_session_data",
    .doc = "导入录制会话数据",
    .params = {{"self"}, {"session_data", Check::Dict, "Dict[str, Any]"}},
    .result = {Check::Any, "bool"},
    .body = import_session_data,
};

}  // namespace zv::mirvane
