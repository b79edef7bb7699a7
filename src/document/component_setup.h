// Set-up of a fiscal component instance before any use: emitter, environment, certificate, folders,
// consumer security code, mail settings and DANFE logo. Start-up, the emission routine and the
// shutdown dialog's status check all configure their instance here.
#pragma once

#include <memory>
#include <string>

#include "context/app_context.h"

namespace quorvanti::document {

// `ConfigurarDLL`: creates and configures a fresh instance and stores it in `component`; answers true.
// `emissionType` is "1" (normal) or "9" (offline contingency). RunSettings.ComponentOk keeps the status
// of the last component call. On any failure it shows the description (critical icon, title
// "ERRO Configura DLL"), answers false and leaves `component` as it was.
bool ConfigurarDLL(context::AppContext& ctx, int model, const std::string& emissionType,
                   std::unique_ptr<fiscal::FiscalComponent>& component);

// The six-character CSC identifier the component takes: "1" -> "000001", "0000001" -> "000001".
std::string paddedCscId(const std::string& cscId);

}  // namespace quorvanti::document
