#include "document/component_setup.h"

#include <exception>

#include "context/program_files.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::document {

namespace {
// The software house's identification and mail account: the original passed its maker's own values;
// this system has none to give, and the component treats empty values as "not configured".
constexpr const char* kSoftwareHouseCnpj = "";
constexpr const char* kSoftwareHouseName = "";
constexpr const char* kMailHost = "";
constexpr const char* kMailAccount = "";
constexpr const char* kMailPassword = "";
constexpr const char* kMailReplyTo = "";
}  // namespace

std::string paddedCscId(const std::string& cscId) { return CompletaEsquerda(cscId, 6, U'0'); }

bool ConfigurarDLL(context::AppContext& ctx, int model, const std::string& emissionType,
                   std::unique_ptr<fiscal::FiscalComponent>& component) {
    auto& s = ctx.settings;
    try {
        auto fresh = ctx.services.components.createComponent();
        s.AppFolder = context::withTrailingSlash(ctx.locations.programFolder);
        const std::string cscId = paddedCscId(s.CscId);

        s.ComponentOk = fresh->configure(fiscal::ConfigurationArgs{
            .reserved1 = "",
            .certificateSerial = s.ComponentCertificateSerial,
            .reserved3 = "",
            .reserved4 = 0,
            .documentFolder = s.AppFolder + "nfe/",
            .schemaFolder = s.AppFolder + "nfe/schemas",
            .uf = ctx.emitter.State,
            .model = model,
            .layoutUse = "1",
            .timeoutMs = "30000",
            .tpAmb = static_cast<std::int32_t>(Val(leftCharacters(s.Environment, 1))),
            .tpEmis = leftCharacters(emissionType, 1),
            .tpImp = 4,
            .cnpj = ctx.emitter.Cnpj,
            .cscId = cscId,
            .csc = s.Csc,
            .softwareHouseCnpj = kSoftwareHouseCnpj,
            .softwareHouseName = kSoftwareHouseName,
            .reserved19 = 0,
        });
        s.ComponentOk = fresh->mailSettings(fiscal::MailSettingsArgs{
            .host = kMailHost,
            .port = 587,
            .timeoutMs = 30000,
            .useTls = true,
            .account = kMailAccount,
            .password = kMailPassword,
            .authenticate = true,
            .replyTo = kMailReplyTo,
            .senderName = ctx.emitter.TradeName,
        });
        s.ComponentOk = fresh->danfeLogo(fiscal::DanfeLogoArgs{
            .logoPath = context::readGeral(ctx, "LogoNFE"),
            .showLogo = true,
            .value3 = 0,
            .value4 = true,
            .value5 = 0,
            .value6 = 3,
            .value7 = 2,
            .value8 = 2,
            .value9 = "",
        });
        s.ComponentOk = fresh->finish();
        component = std::move(fresh);
        return true;
    } catch (const std::exception& error) {
        ctx.frontend().messageBox(error.what(), platform::MessageStyle::OkCritical, "ERRO Configura DLL");
        return false;
    }
}

}  // namespace quorvanti::document
