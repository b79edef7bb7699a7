#include "document/groups/identification_group.h"

#include <cmath>
#include <exception>
#include <stdexcept>

#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/sql_escape.h"
#include "document/groups/group_failure.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "platform/version.h"

namespace quorvanti::document {

namespace {

constexpr std::int64_t kFourHours = 4 * 60 * 60;

// Without a stored entry time the contingency is dated at midnight of the shop's day four hours ago:
// early in the morning that is the day before, which keeps the entry time before any emission of the night.
std::string defaultContingencyEntry(const context::AppContext& ctx) {
    const platform::LocalDateTime day = platform::addSeconds(context::shopNow(ctx), -kFourHours);
    const std::chrono::seconds offset = context::shopOffset(ctx.settings);
    return context::shopDateTimeText(ctx.settings, platform::instantOf({day.year, day.month, day.day, 0, 0, 0}, offset));
}

std::string applicationVersion() {
    return "TAVU - " + std::to_string(platform::kVersionMajor) + "." + std::to_string(platform::kVersionMinor) + "." +
           std::to_string(platform::kVersionRevision);
}

}  // namespace

void GeraIndetificacao(context::AppContext& ctx, const std::string& saleCode, fiscal::FiscalComponent& component) {
    auto& s = ctx.settings;
    auto& e = ctx.emission;
    try {
        e.EmissionDateTime = context::shopNowText(ctx);

        std::int32_t emissionType = 1;
        std::string contingencyEntry, justification;
        if (s.Contingency == "1") {
            emissionType = 9;
            justification = s.ContingencyReason;
            const std::string stored = BuscaDataContigencia(ctx, saleCode);
            if (EstaVazio(std::string_view(stored))) {
                contingencyEntry = defaultContingencyEntry(ctx);
            } else if (const auto entry = context::readShopDateTime(s, stored)) {
                // The point-of-sale program stores it in several forms; the layout takes one.
                contingencyEntry = context::shopDateTimeText(s, *entry);
            } else {
                // A document dated by a guess would carry a false entry time for ever: this sale stops here.
                e.GroupFailure = "Venda " + saleCode + ": DataContigencia \"" + stored +
                                 "\" não é uma data e hora reconhecida (dd/mm/aaaa hh:mm:ss ou aaaa-mm-ddThh:mm:ss)";
                return;
            }
        }

        ctx.status("GeraIndetificacao");
        const std::string numericCode = std::to_string(GeraCodigoNota(ctx));

        s.ComponentOk = component.identification(
            fiscal::IdentificationArgs{
                .cNF = numericCode,
                .natOp = "VENDA DE MERCADORIA",
                .mod = componentInteger(s.DocModel),
                .serie = componentInteger(s.Series),
                .nNF = componentInteger(e.NfceNumber),
                .dhEmi = e.EmissionDateTime,
                .dhSaiEnt = e.EmissionDateTime,
                .tpNF = 1,
                .procEmi = 0,
                .idDest = 1,
                .cMunFG = componentInteger(ctx.emitter.CityCode),
                .tpImp = 4,
                .tpEmis = emissionType,
                .finNFe = 1,
                .indFinal = 1,
                .indPres = 1,
                .verProc = applicationVersion(),
                .dhCont = contingencyEntry,
                .xJust = justification,
                .indIntermed = 0,
            },
            e.SharedTexts);
    } catch (const std::exception& error) {
        reportGroupFailure(ctx, saleFailureText(ctx, std::string("identificação: ") + error.what()),
                           "ERRO IDENTIFICAÇÃO");
    }
}

std::int32_t GeraCodigoNota(context::AppContext& ctx) {
    try {
        auto component = ctx.services.components.createComponent();
        std::int32_t code = 0;
        component->numericCode(code);
        return code;
    } catch (const std::exception& error) {
        const std::string text = "Houve erro no GeraCodigoNota(hashCode). Verifique CNPJ, certificado etc..";
        ctx.frontend().messageBox(text + context::kLineBreak + error.what(), platform::MessageStyle::Ok);
        ctx.services.shell.runRegistrationScript(ctx.locations.programFolder);
        ctx.frontend().messageBox("Tente novamente, reabrindo o sistema", platform::MessageStyle::Ok);
        return 0;
    }
}

std::string BuscaDataContigencia(context::AppContext& ctx, const std::string& saleCode) {
    try {
        const auto rows = ctx.db->open("Select dataContigencia from TabNCEAEnviar where Codvenda = '" +
                                       database::sqlEscape(ctx.db->kind(), saleCode) + "'");
        return rows.field("DataContigencia").text();
    } catch (const std::exception&) {
        return "";
    }
}

bool GeraEmitente(context::AppContext& ctx, fiscal::FiscalComponent& component) {
    const auto& m = ctx.emitter;
    try {
        // Start-up cleaned these texts already; the second pass keeps the group safe whoever filled them,
        // and the layout rule drops what the document cannot carry (an emoji in the trade name).
        const auto emitterText = [](const std::string& text) { return fitToLayout(LimpaTexto(text)); };
        ctx.settings.ComponentOk = component.emitter(
            fiscal::EmitterArgs{
                .xFant = emitterText(m.TradeName),
                .xNome = emitterText(m.LegalName),
                .cnpj = m.Cnpj,
                .cpf = "",
                .ie = m.StateRegistration,
                .iest = "",
                .im = "",
                .cnae = "",
                .crt = 1,
                .xLgr = emitterText(m.Street),
                .nro = emitterText(m.Number),
                .xCpl = "",
                .xBairro = emitterText(m.District),
                .cMun = fieldInteger(m.CityCode, "codmunicipio do emitente"),
                .xMun = emitterText(m.CityName),
                .uf = m.State,
                .cep = m.PostalCode,
                .cPais = 1058,
                .xPais = "BRASIL",
                .fone = m.Phone,
            },
            ctx.emission.SharedTexts);
        return true;
    } catch (const std::exception& error) {
        reportGroupFailure(ctx, saleFailureText(ctx, std::string("emitente: ") + error.what()), "ERRO EMITENTE");
        return false;
    }
}

}  // namespace quorvanti::document
