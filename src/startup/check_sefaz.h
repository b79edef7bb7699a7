// `quorvanti --app-dir DIR --check-sefaz`: checks the connection to every web service the component uses
// for the shop's state and environment, with the settings and certificate the monitor's start-up reads,
// and prints one line per service ("OK", or the TLS, HTTP or other failure with its code).
#pragma once

#include <ostream>
#include <string>

#include "context/app_context.h"

namespace quorvanti::startup {

// The exit status when a service did not answer (the README's table).
inline constexpr int kCheckSefazFailed = 32;

// Reads the environment (ambienteNFCE), the certificate's serial and the emitter's state (DatEmit) as
// start-up does, calls each service once and writes its line to `out`; answers 0 when every service
// answered, kCheckSefazFailed when one did not, SettingsMissing without ambienteNFCE, and the start-up's
// status when the database cannot be opened. Problems of the settings are written to `errors`.
int checkSefaz(context::AppContext& ctx, const std::string& certificateFolder, std::ostream& out,
               std::ostream& errors);

}  // namespace quorvanti::startup
