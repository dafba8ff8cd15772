// UIAnalyzer: its methods by concern, and the helpers they share.
#pragma once

#include "zv.hpp"

namespace zv::pellora {

// capture.cpp
extern const FunctionSpec kInit, kCaptureWithHierarchy;
// readiness.cpp
extern const FunctionSpec kEnsureDeviceReady;
// resolution.cpp
extern const FunctionSpec kGetDeviceResolution;
// screenshot.cpp
extern const FunctionSpec kTakeScreenshot, kAdbScreenshot, kExecuteAdbScreencap;
// hierarchy.cpp
extern const FunctionSpec kGetUiHierarchy, kParseXmlNode, kParseBounds;
// lookup.cpp
extern const FunctionSpec kFindElementAtPosition, kGetElementPath;

// executor.cpp

// asyncio.wait_for(loop.run_in_executor(None, fn[, arg]), timeout=...), with
// the names looked up in the order Python evaluates that expression.
class Executor {
public:
    Executor(const Args &a, py::handle loop);
    py::object operator()(double timeout, py::handle fn, py::handle arg = {}) const;

private:
    py::object wait_for_, run_in_executor_;
};

// `lambda: ostrel.device.info` (the lambda declared by `spec`), run on the
// executor within 5.0 seconds.
py::object read_device_info(const Args &a, const FunctionSpec &lambda, py::handle loop, py::handle ostrel);
extern const FunctionSpec kReadyInfoLambda, kResolutionInfoLambda;

// True when the exception held by `e` is an asyncio.TimeoutError.
bool is_timeout(const Args &a, py::error_already_set &e);

// `raise Exception(message)` inside the handler of `e`.
[[noreturn]] void raise_handling(py::error_already_set &e, const char *message);
// `raise Exception(prefix + str(e))` inside the handler of `e`.
[[noreturn]] void raise_handling_text(py::error_already_set &e, const char *prefix);

}  // namespace zv::pellora
