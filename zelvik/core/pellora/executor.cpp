#include "pellora.hpp"

namespace zv::pellora {

Executor::Executor(const Args &a, py::handle loop)
    : wait_for_(a.global("asyncio"_n).attr("wait_for"_n)), run_in_executor_(loop.attr("run_in_executor"_n)) {}

py::object Executor::operator()(double timeout, py::handle fn, py::handle arg) const {
    py::object job = arg ? run_in_executor_(py::none(), fn, arg) : run_in_executor_(py::none(), fn);
    return wait_for_(job, "timeout"_a = timeout);
}

// The body of `lambda: ostrel.device.info`; `ostrel` is bound as its first
// argument.
static py::object device_info(const Args &a) { return a[0].attr("device"_n).attr("info"_n); }

const FunctionSpec kReadyInfoLambda{
    .name = "<lambda>",
    .qualname = "UIAnalyzer._ensure_device_ready.<locals>.<lambda>",
    .params = {{"ostrel"}},
    .body = device_info,
};
const FunctionSpec kResolutionInfoLambda{
    .name = "<lambda>",
    .qualname = "UIAnalyzer._get_device_resolution.<locals>.<lambda>",
    .params = {{"ostrel"}},
    .body = device_info,
};

py::object read_device_info(const Args &a, const FunctionSpec &lambda, py::handle loop, py::handle ostrel) {
    Executor executor(a, loop);
    py::object reader = make_function(lambda, a.globals()).attr("__get__"_n)(ostrel);
    return executor(5.0, reader);
}

bool is_timeout(const Args &a, py::error_already_set &e) {
    return matches(e, a.global("asyncio"_n).attr("TimeoutError"_n).ptr());
}

void raise_handling(py::error_already_set &e, const char *message) {
    Handling h(e);
    raise(PyExc_Exception, message);
}

void raise_handling_text(py::error_already_set &e, const char *prefix) {
    Handling h(e);
    py::object message = py::str(prefix) + exception_text(e);
    raise(PyExc_Exception, message);
}

}  // namespace zv::pellora
