#include "startup/check_sefaz.h"

#include <exception>

#include "context/program_files.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/sefaz/connection_check.h"
#include "platform/program_exit.h"
#include "startup/database_open.h"

namespace quorvanti::startup {

namespace {

// The emitter's state as start-up takes it: DatEmit.UF, "MT" when empty.
std::string emitterState(context::AppContext& ctx) {
    readDatabaseSettings(ctx);
    openConnection(ctx, false);
    const auto emitter = ctx.db->open("SELECT * FROM DatEmit;");
    const std::string uf = document::toUpperText(emitter.field("UF").text());
    ctx.db.reset();
    return document::EstaVazio(std::string_view(uf)) ? "MT" : uf;
}

}  // namespace

int checkSefaz(context::AppContext& ctx, const std::string& certificateFolder, std::ostream& out,
               std::ostream& errors) {
    auto& s = ctx.settings;
    s.SettingsPath = context::settingsPathFor(ctx.locations, s.SettingsFolder);
    s.AppPath = ctx.locations.programFolder;
    s.AccessDbPath = context::readGeral(ctx, "Caminho");
    // Without it start-up stops for the parameter editor; guessing production here would check servers
    // the shop may not use.
    const std::string environment = context::readGeral(ctx, "ambienteNFCE");
    if (environment.empty()) {
        errors << "quorvanti: falta a configuração ambienteNFCE (1 produção, 2 homologação) em " << s.SettingsPath
               << "\n";
        return static_cast<int>(ExitStatus::SettingsMissing);
    }
    std::string serial = context::readGeral(ctx, "CertificadoSerie");
    if (serial.empty()) serial = ctx.services.registry.read("nfe", "NoSerieCertificado");

    fiscal::WebServiceSettings settings{
        .uf = "",
        .tpAmb = static_cast<int>(document::Val(document::leftCharacters(environment, 1))),
        .documentFolder = context::withTrailingSlash(ctx.locations.programFolder) + "nfe/",
        .timeoutMs = "30000"};
    try {
        settings.uf = emitterState(ctx);
    } catch (const ProgramExit& exit) {
        return static_cast<int>(exit.status);
    } catch (const std::exception& error) {
        errors << "quorvanti: a UF do emitente não pôde ser lida do banco de dados (" << error.what() << ")\n";
        return static_cast<int>(ExitStatus::StartupError);
    }

    const fiscal::CertificateSource certificate = [certificateFolder, serial] {
        return fiscal::CertificateStore(certificateFolder).find(serial);
    };
    bool allAnswered = true;
    for (const fiscal::ServiceCheck& check : fiscal::checkWebServices(settings, certificate)) {
        out << fiscal::checkLine(settings, check) << "\n";
        allAnswered = allAnswered && !check.failure;
    }
    out.flush();
    return allAnswered ? 0 : kCheckSefazFailed;
}

}  // namespace quorvanti::startup
