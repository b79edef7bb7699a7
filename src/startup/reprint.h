// `quorvanti --app-dir DIR --reprint KEY`: prints again the DANFE NFC-e of a stored, authorised NFC-e,
// through the same dispatch and layouts as the emission. The number and QR text come from the stored
// procNFe, the sale code from its nfce_gerada row.
#pragma once

#include <ostream>
#include <string>

#include "context/app_context.h"

namespace quorvanti::startup {

// Reads the settings the printing needs, opens the database, prints; answers the exit status
// (0 printed, UsageError for a key that is not 44 digits, ReprintUnknownKey when no procNFe is stored
// for it, ReprintNotPrinted when the printer was not reached). Problems are written to `errors`.
int reprintNFCe(context::AppContext& ctx, const std::string& key, std::ostream& errors);

}  // namespace quorvanti::startup
