// UIAnalyzer: its methods by concern, and the helpers they share.
#pragma once

#include "zv.hpp"

#include <optional>
#include <string_view>

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

// The attributes a record reads after "bounds", in the order it reads them;
// the 11 flags are Checkable to Displayed.
enum Attr { Class, Text, ResourceId, ContentDesc, Package, Checkable, Checked, Clickable, Enabled, Focusable, Focused,
            Scrollable, LongClickable, Password, Selected, Displayed, Index, AttrCount };

// Which of the names `name` is, or -1.
int attr_of(std::string_view name);

// The 11 flag bits of a record, bit 0 for Checkable: `is_true(a)` tells
// whether the text of attribute `a` is "true", nullopt when it is absent
// (then the attribute's default holds).
template <class IsTrue>
unsigned flag_bits(IsTrue is_true) {
    unsigned bits = 0;
    for (int a = Checkable; a <= Displayed; ++a) {
        const std::optional<bool> set = is_true(a);
        bits |= (unsigned)set.value_or(a == Enabled || a == Displayed) << (a - Checkable);
    }
    return bits;
}

// A new record with the 19 keys in order, the flags set from the bits of
// `flags` (as flag_bits) and the other values not yet set.
py::dict new_record(unsigned flags);

// Digits only, 1 to 18 of them: the number int() makes of that text.
bool digits_value(const char *p, Py_ssize_t n, long long &value);
py::object new_int(long long value);
// int(value)
py::object to_int(py::handle value);

// [0, 0, 0, 0]
py::list zeros();
// The usual form, "[0,63][1080,210]": digits, commas and brackets only, each
// piece 1 to 18 digits in one run, at most 8 pieces. Read in place, with the
// result of the text steps of _parse_bounds; false for any other text.
bool plain_bounds(std::string_view text, py::list &coords);
// The steps of _parse_bounds(bounds_str) for a str.
py::object bounds_of(py::handle bounds_str);

// xml_records.cpp

// The records _parse_xml_node(ET.fromstring(text)) gives, built straight
// from the XML parser, when nobody can tell the difference (see there);
// false when the ordinary steps must run instead.
bool records_from_xml(const Args &a, py::handle self, py::handle text, py::object &hierarchy);
// Notes the ElementTree parts that path relies on; run once, at import.
void load_element_tree_parts();
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
