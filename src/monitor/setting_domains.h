// The settings whose values have a plain domain. A value outside it would send the NFC-e to the wrong
// place (an environment that is not 1 or 2 read as production, with the real authority's address) or
// make every sale fail, so start-up stops for the parameter editor instead of guessing, and the editor
// does not save such a value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "context/app_context.h"

namespace quorvanti::monitor {

// What is wrong with `value` for the key `key` of section "Geral"; "" when it is within its domain, when
// it is empty (the required-settings check and the defaults deal with that) or when the key has no
// domain here. Domains: "ambienteNFCE" 1 or 2; "IDtoken" 1 to 6 digits, not zero; "serie" 0 to 999;
// "NTerminal" 1 to 3 digits; "LimiteNfce" a positive amount in the Brazilian form ("9999,00");
// "JustificaContigencia" 15 to 256 characters that the layout carries as written; "FUSO" an offset in
// whole hours from "-11:00" to "+12:00", such as "-04:00"; "PrazoCancelamentoMinutos" 1 to 10080.
std::string settingDomainProblem(std::string_view key, std::string_view value);

// The problems of every such setting in the settings file, one text each.
std::vector<std::string> settingsOutsideDomain(const context::AppContext& ctx);

}  // namespace quorvanti::monitor
