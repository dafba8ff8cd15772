// zelvik.core.zantho: the methods of CodeGenerator, one file each.
#pragma once

#include "zv.hpp"

namespace zv::zantho {

using text::Fixed;
using text::Text;

extern const FunctionSpec kInit;
extern const FunctionSpec kGenerateElementCode;
extern const FunctionSpec kGenerateSelectors;
extern const FunctionSpec kGenerateOperations;
extern const FunctionSpec kBuildFullCode;
extern const FunctionSpec kGetElementSummary;
extern const FunctionSpec kGenerateBatchCode;

// _generate_selectors(element)[0]["code"] for an exact dict, without building
// the records; empty when the element has no selector.
py::object best_selector_code(py::handle element);

}  // namespace zv::zantho
