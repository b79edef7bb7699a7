#include "fiscal_events/authorised_nfce.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "authorisation/outcome_texts.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/sql_escape.h"
#include "document/text/text_helpers.h"

namespace quorvanti::fiscal_events {

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string procNFePath(const context::AppContext& ctx, const std::string& key) {
    return context::withTrailingSlash(ctx.locations.programFolder) + "nfe/arquivos/procNFe/" + key + "-procNFe.xml";
}

std::optional<AuthorisedNfce> findAuthorised(context::AppContext& ctx, const std::string& key) {
    using authorisation::elementText;
    if (!authorisation::isAccessKey(key)) return std::nullopt;
    const std::string xml = fileText(procNFePath(ctx, key));
    const std::string protocol = elementText(xml, "protNFe");
    if (protocol.empty()) return std::nullopt;
    AuthorisedNfce nfce{
        .key = key,
        .saleCode = "",
        .number = std::atoll(key.substr(25, 9).c_str()),
        .amount = elementText(elementText(xml, "ICMSTot"), "vNF"),
        .nProt = elementText(protocol, "nProt"),
        .authorisedAt = elementText(protocol, "dhRecbto"),
        .tpEmis = elementText(elementText(xml, "ide"), "tpEmis"),
    };
    if (ctx.db) {
        auto row = ctx.db->open("SELECT cod_venda, cancelada FROM nfce_gerada WHERE chave = '" +
                                database::sqlEscape(ctx.db->kind(), key) + "'");
        if (row.recordCount() > 0) {
            nfce.saleCode = row.field("cod_venda").text();
            nfce.cancelled = document::toUpperText(document::trimBlanks(row.field("cancelada").text())) == "SIM";
        }
    }
    return nfce;
}

std::string keyOfNumber(context::AppContext& ctx, long long number) {
    if (!ctx.db) return "";
    auto rows = ctx.db->open("SELECT chave FROM nfce_gerada WHERE numeronfce = '" + std::to_string(number) +
                             "' AND amb = '" + database::sqlEscape(ctx.db->kind(), ctx.settings.Environment) + "'");
    return rows.recordCount() > 0 ? rows.field("chave").text() : "";
}

std::string reasonProblem(const std::string& reason) {
    // The authority counts characters, not bytes.
    const std::size_t length = document::characterCount(document::trimBlanks(reason));
    if (length < 15) return "a justificativa tem " + std::to_string(length) + " caracteres; a SEFAZ exige de 15 a 255";
    if (length > 255) return "a justificativa tem " + std::to_string(length) + " caracteres; a SEFAZ aceita até 255";
    return "";
}

int cancellationWindowMinutes(context::AppContext& ctx) {
    const long minutes = std::strtol(context::readGeral(ctx, "PrazoCancelamentoMinutos").c_str(), nullptr, 10);
    return minutes > 0 && minutes <= 7 * 24 * 60 ? static_cast<int>(minutes) : 30;
}

std::optional<long long> minutesLeftToCancel(context::AppContext& ctx, const AuthorisedNfce& nfce) {
    const auto authorised = context::readShopDateTime(ctx.settings, nfce.authorisedAt);
    if (!authorised) return std::nullopt;
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(ctx.services.clock.utcNow() - *authorised);
    // Whole minutes left, rounded down: "1 minute left" is never shown when less than one remains.
    const long long left = cancellationWindowMinutes(ctx) * 60LL - elapsed.count();
    return left >= 0 ? left / 60 : -((-left + 59) / 60);
}

}  // namespace quorvanti::fiscal_events
