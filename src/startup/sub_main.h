// The entry procedure: reads the settings and the registry, checks the required settings, opens the
// shared database, loads and checks the emitter company, tries and configures the fiscal component,
// chooses the queue query and shows the main window with its poll timer running. After it returns the
// program lives on the event loop's timers.
#pragma once

#include "context/app_context.h"

namespace quorvanti::startup {

// Reads the emitter company (DatEmit) into ctx.emitter; its checks end the program as start-up's do.
void readEmitter(context::AppContext& ctx);

// Runs start-up on `ctx`. Stops of the program (another instance, missing settings, emitter checks,
// database connection, any other error) raise ProgramExit with their own status.
void SubMain(context::AppContext& ctx);

// The required-settings check: true when "ambienteNFCE", "CSC", "CertificadoSerie" and "IDtoken" are
// all set and no setting is outside its domain (monitor/setting_domains.h). Otherwise it shows the
// values outside their domain, runs the registration script once when "ParaApagar.txt" marks it, shows
// the fiscal parameter editor and answers whether the settings are now accepted (saved from the panel);
// when not, the program ends and no queued sale is touched.
bool requiredSettingsPresent(context::AppContext& ctx);

}  // namespace quorvanti::startup
