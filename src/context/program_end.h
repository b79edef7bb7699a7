// `fecha_aplic`: the window is unloaded and this program ends at once. The original killed every
// process of its image name; here only this process ends (other programs, and another monitor on
// another program folder, keep running).
#pragma once

#include "context/app_context.h"

namespace quorvanti::context {

[[noreturn]] void fecha_aplic(AppContext& ctx);

}  // namespace quorvanti::context
