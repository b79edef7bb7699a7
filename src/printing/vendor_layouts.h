// The Bematech and Epson branches of `ImprimeTermica`: the receipt line by line through the
// MP-2032 and Epson layers, 48 columns, on the port of the setting "PortaBematech".
#pragma once

#include "context/app_context.h"
#include "printing/thermal_layout.h"

namespace quorvanti::printing {

// A port that does not open shows the Bematech box and printing carries on (nothing reaches paper);
// a job that opened but was not delivered raises PrintFailure.
void printBematech(context::AppContext& ctx, const ThermalValues& v);

// A port that does not open shows the Epson box and the receipt is skipped ("USB" when no port is set).
void printEpson(context::AppContext& ctx, const ThermalValues& v);

}  // namespace quorvanti::printing
