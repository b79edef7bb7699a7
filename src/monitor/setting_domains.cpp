#include "monitor/setting_domains.h"

#include <stdexcept>

#include "context/program_files.h"
#include "context/shop_clock.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::monitor {

namespace {

struct Domain {
    const char* key;
    bool (*accepts)(std::string_view value);
    const char* rule;
};

bool digitsBetween(std::string_view value, std::size_t fewest, std::size_t most) {
    return value.size() >= fewest && value.size() <= most &&
           value.find_first_not_of("0123456789") == std::string_view::npos;
}

constexpr Domain kDomains[] = {
    {"ambienteNFCE", [](std::string_view v) { return v == "1" || v == "2"; },
     "deve ser 1 (produção) ou 2 (homologação)"},
    {"IDtoken",
     [](std::string_view v) { return digitsBetween(v, 1, 6) && v.find_first_not_of('0') != std::string_view::npos; },
     "deve ser o identificador do CSC dado pela SEFAZ, de 1 a 6 dígitos (como 000001)"},
    {"serie", [](std::string_view v) { return digitsBetween(v, 1, 3); }, "deve ser a série da NFC-e, de 0 a 999"},
    {"NTerminal", [](std::string_view v) { return digitsBetween(v, 1, 3); },
     "deve ser o número do terminal, só com dígitos"},
    {"LimiteNfce",
     [](std::string_view v) {
         const auto limit = document::settingNumber(v);
         return limit && *limit > 0;
     },
     "deve ser um valor positivo como 9999,00 ou 9.999,00"},
    // The layout's xJust: 15 to 256 characters it can carry, written into every contingency document.
    {"JustificaContigencia",
     [](std::string_view v) {
         const std::size_t length = document::characterCount(v);
         return length >= 15 && length <= 256 && document::fitToLayout(v) == v;
     },
     "deve ter de 15 a 256 caracteres, sem símbolos fora do alfabeto latino nem espaços repetidos"},
    // Minutes after the authorisation within which the state takes a cancellation (at most a week).
    {"PrazoCancelamentoMinutos",
     [](std::string_view v) { return digitsBetween(v, 1, 5) && std::stoi(std::string(v)) >= 1 && std::stoi(std::string(v)) <= 10080; },
     "deve ser o prazo de cancelamento do estado em minutos, de 1 a 10080 (padrão 30)"},
    // The shop's offset from UTC: every date-time of the documents is written in it.
    {"FUSO",
     [](std::string_view v) {
         context::RunSettings settings;
         settings.TimeZone = std::string(v);
         try {
             context::shopOffset(settings);
             return true;
         } catch (const std::runtime_error&) {
             return false;
         }
     },
     "deve ser o fuso horário da loja, de -11:00 a +12:00 em horas inteiras, como -04:00"},
};

}  // namespace

std::string settingDomainProblem(std::string_view key, std::string_view value) {
    if (value.empty()) return "";
    for (const Domain& domain : kDomains) {
        if (key != domain.key || domain.accepts(value)) continue;
        return "configuração \"" + std::string(key) + "\" = \"" + std::string(value) + "\" inválida: " + domain.rule;
    }
    return "";
}

std::vector<std::string> settingsOutsideDomain(const context::AppContext& ctx) {
    std::vector<std::string> problems;
    for (const Domain& domain : kDomains) {
        if (std::string problem = settingDomainProblem(domain.key, context::readGeral(ctx, domain.key)); !problem.empty())
            problems.push_back(std::move(problem));
    }
    return problems;
}

}  // namespace quorvanti::monitor
