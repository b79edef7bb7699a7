#include "context/program_end.h"

#include "platform/program_exit.h"

namespace quorvanti::context {

void fecha_aplic(AppContext& ctx) {
    ctx.mainWindow.visible = false;
    ctx.frontend().windowShown(ctx.mainWindow.kName, false);
    endProgram(ExitStatus::Normal, "encerrado pelo operador");
}

}  // namespace quorvanti::context
