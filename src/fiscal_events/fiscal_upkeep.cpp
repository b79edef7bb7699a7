#include "fiscal_events/fiscal_upkeep.h"

#include <exception>
#include <memory>

#include "context/program_files.h"
#include "document/component_setup.h"
#include "fiscal_events/number_voiding.h"
#include "fiscal_events/substitution.h"

namespace quorvanti::fiscal_events {

namespace {
constexpr std::chrono::minutes kUpkeepInterval{5};
}

void fiscalUpkeep(context::AppContext& ctx) {
    const auto& s = ctx.settings;
    if (s.Contingency == "1" && s.ContingencySender != "1") return;
    const auto now = ctx.services.clock.steadyNow();
    if (now < ctx.nextFiscalUpkeep) return;
    ctx.nextFiscalUpkeep = now + kUpkeepInterval;
    const auto tell = [&](const std::string& line) {
        context::GravaLog(ctx, line);
        ctx.status(line);
    };
    try {
        // The look-ups are queries only: the component is set up when there is work.
        collectGivenUpNumbers(ctx);
        const bool substitutions = substitutionsWait(ctx);
        if (!substitutions && !voidingWaits(ctx)) return;
        std::unique_ptr<fiscal::FiscalComponent> component;
        if (!document::ConfigurarDLL(ctx, 65, "1", component) || !component) return;
        if (!substitutions || resolveSubstitutions(ctx, *component, tell)) voidWaitingNumbers(ctx, *component, tell);
    } catch (const std::exception& error) {
        context::GravaLog(ctx, std::string("Eventos fiscais (substituição, inutilização): ") + error.what() +
                                   "; nova tentativa em 5 minutos");
    }
}

}  // namespace quorvanti::fiscal_events
