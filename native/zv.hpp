// Everything module code needs from the runtime.
#pragma once

#include "codetext.hpp"
#include "coroutine.hpp"
#include "errors.hpp"
#include "function.hpp"
#include "module.hpp"
#include "objects.hpp"
#include "pyobj.hpp"
#include "recursion.hpp"
#include "text.hpp"
