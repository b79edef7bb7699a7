// The first two groups of an NFC-e as the emission routine fills them: identification (`ide`: numeric
// code, number, emission date-time, normal or offline-contingency emission) and emitter (`emit`, from the
// emitter record start-up loaded). Also the two conversions every group procedure shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::document {

// `GeraIndetificacao`: builds the emission date-time (the real instant in the FUSO offset, kept in
// EmissionState.EmissionDateTime for every later phase) and hands the identification group to
// `component`. In contingency the stored entry time is written in the layout's form and the FUSO offset;
// one that cannot be read sets EmissionState.GroupFailure (naming the sale, the field and the value)
// without calling the component. A failure shows its description under "ERRO IDENTIFICAÇÃO", sets
// GroupFailure and returns.
void GeraIndetificacao(context::AppContext& ctx, const std::string& saleCode, fiscal::FiscalComponent& component);

// `GeraCodigoNota`: the access key's random code from a fresh component instance. On failure it tells
// the operator twice, starts the component registration script and answers 0.
std::int32_t GeraCodigoNota(context::AppContext& ctx);

// `BuscaDataContigencia`: the contingency entry time stored in the sale's queue row, as stored; "" when
// the row or the value is missing or the query fails.
std::string BuscaDataContigencia(context::AppContext& ctx, const std::string& saleCode);

// `GeraEmitente`: hands the emitter group to `component`, its texts fitted to the layout; false (after a
// box titled "ERRO EMITENTE", the failure left in EmissionState.GroupFailure) when that failed.
bool GeraEmitente(context::AppContext& ctx, fiscal::FiscalComponent& component);

}  // namespace quorvanti::document
