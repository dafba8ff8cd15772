// zelvik.core.zantho: the methods of CodeGenerator, one file each.
#pragma once

#include "zv.hpp"

namespace zv::zantho {

extern const FunctionSpec kInit;
extern const FunctionSpec kGenerateElementCode;
extern const FunctionSpec kGenerateSelectors;
extern const FunctionSpec kGenerateOperations;
extern const FunctionSpec kBuildFullCode;
extern const FunctionSpec kGetElementSummary;
extern const FunctionSpec kGenerateBatchCode;

}  // namespace zv::zantho
