#include "startup/sub_main.h"

#include <exception>
#include <filesystem>

#include "authorisation/attempt_journal.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/db_error.h"
#include "database/schema_upgrade.h"
#include "document/component_setup.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "monitor/main_window.h"
#include "monitor/parameter_editor.h"
#include "monitor/setting_domains.h"
#include "monitor/shutdown_dialog.h"
#include "fiscal_component/sefaz/sefaz_addresses.h"
#include "platform/durable_file.h"
#include "platform/file_access.h"
#include "platform/folders.h"
#include "platform/instance_lock.h"
#include "platform/program_exit.h"
#include "startup/database_open.h"
#include "startup/queue_sql.h"

namespace quorvanti::startup {

using context::readGeral;
using context::writeGeral;
using document::EstaVazio;
using document::LimpaTexto;
using document::RetiraCaracteres;
using platform::MessageStyle;

namespace {

// The emitter checks: each ends the program after its message. A null column counts as empty.
void checkEmitter(context::AppContext& ctx, const database::Recordset& row) {
    const auto stop = [&](const char* message, ExitStatus status) {
        ctx.frontend().messageBox(message, MessageStyle::Ok);
        endProgram(status, message);
    };
    if (row.field("CNPJ").text().empty()) stop("CNPJ invalido", ExitStatus::EmitterCnpjInvalid);
    if (row.field("UF").text().empty()) stop("UF invalido", ExitStatus::EmitterUfInvalid);
    if (row.field("codmunicipio").text().empty() && row.field("CODUF").text().empty())
        stop("CODUF invalido do emitente, corrija em dados do emitente.", ExitStatus::EmitterCodUfInvalid);
}

void fillEmitter(context::AppContext& ctx, const database::Recordset& row) {
    auto& e = ctx.emitter;
    const auto column = [&](const char* name) { return row.field(name).text(); };
    e.TradeName = LimpaTexto(column("nomeJS"));
    e.LegalName = LimpaTexto(column("RazaoSocial"));
    e.Street = LimpaTexto(column("Endereco"));
    e.Number = LimpaTexto(column("numero"));
    e.District = LimpaTexto(column("bairro"));
    e.CityCode = column("codmunicipio");
    e.CityName = LimpaTexto(column("Municipio"));
    e.PostalCode = RetiraCaracteres(column("cep"), "-", true);
    e.Phone = RetiraCaracteres(column("Telefone"), "()- ", true);
    e.StateRegistration = RetiraCaracteres(column("IE"), ".- ", true);
    e.Cnpj = RetiraCaracteres(column("CNPJ"), "-./ ", true);
    e.State = document::toUpperText(column("UF"));
}

// The file of authorities that vouch for the tax authority's servers ([TLS] CA of webservices.ini), when
// one is named, must be readable: without it no send can be verified, and each failure would read like
// an expired certificate or a lost connection instead of naming the file.
void checkAuthoritiesFile(context::AppContext& ctx) {
    const std::string folder = context::withTrailingSlash(ctx.locations.programFolder) + "nfe/";
    const std::string ca = fiscal::connectionSettings(folder, "").caFile;
    if (ca.empty()) return;
    std::string reason;
    if (!platform::readableFile(ca, reason)) {
        const std::string text = "O arquivo de autoridades certificadoras " + ca +
                                 " (chave CA da seção [TLS] de " + folder + "webservices.ini) não pode ser lido: " +
                                 reason + ". Corrija o caminho ou as permissões e inicie o monitor novamente.";
        ctx.frontend().messageBox(text, platform::MessageStyle::OkCritical, "Configuração");
        endProgram(ExitStatus::SettingsMissing, text);
    }
}

void runSteps(context::AppContext& ctx) {
    auto& s = ctx.settings;
    auto& w = ctx.mainWindow;
    auto& registry = ctx.services.registry;

    // Step 3.
    ctx.doEvents();
    s.SettingsPath = context::settingsPathFor(ctx.locations, s.SettingsFolder);
    // Step 4.
    if (!requiredSettingsPresent(ctx)) endProgram(ExitStatus::SettingsMissing, "configurações obrigatórias ausentes");
    // Steps 5 to 7.
    s.Terminal = readGeral(ctx, "NTerminal");
    s.AccessDbPath = readGeral(ctx, "Caminho");
    s.PrintingOff = readGeral(ctx, "ImprimiNFCESistema");
    if (document::trimBlanks(s.PrintingOff).empty()) s.PrintingOff = "0";
    s.CertificateSerial = registry.read("nfe", "NoSerieCertificado");
    if (const auto serial = readGeral(ctx, "CertificadoSerie"); !serial.empty()) {
        s.CertificateSerial = serial;
        registry.write("nfe", "NoSerieCertificado", serial);
        registry.write("Velantrimexo", "NoSerieCertificado", serial);
    }
    // Step 8.
    readDatabaseSettings(ctx);
    // Steps 9 to 11.
    const std::string desktop = platform::desktopFolder(ctx.locations.desktopFolder);
    s.ReceiptPrinter = document::toUpperText(readGeral(ctx, "PathImpressoraNFCE"));
    s.LogPath = context::withTrailingSlash(desktop) + "LOG_NFCE.txt";
    // Steps 12 to 14.
    openConnection(ctx);
    s.AppPath = ctx.locations.programFolder;
    writeGeral(ctx, "TemNFCE_PraGerar", "sim");
    // Steps 15 to 19.
    s.Series = readGeral(ctx, "serie");
    if (s.Series.empty()) s.Series = "1";
    s.TimeZone = context::timeZoneSetting(ctx);
    ctx.caption(w.Label17, s.TimeZone);
    s.CscId = readGeral(ctx, "IDtoken");
    if (s.CscId.empty()) {
        s.CscId = "000001";
        writeGeral(ctx, "IDtoken", s.CscId);
    }
    s.Csc = readGeral(ctx, "CSC");
    s.ContingencyReason = readGeral(ctx, "JustificaContigencia");
    if (s.ContingencyReason.empty()) s.ContingencyReason = "Sistema WEB inoperante apresentando lentidao";
    // Steps 20 and 21.
    readEmitter(ctx);
    s.AppFolder = context::withTrailingSlash(s.AppPath);
    // Step 22.
    s.DocModel = "65";
    if (EstaVazio(std::string_view(ctx.emitter.State))) ctx.emitter.State = "MT";
    if (EstaVazio(std::string_view(ctx.emitter.CityCode))) ctx.emitter.CityCode = "51";
    // Step 23.
    s.Environment = readGeral(ctx, "ambienteNFCE");
    if (document::Val("0" + s.Environment) == 0) s.Environment = "1";
    // Steps 24 and 25.
    if (EstaVazio(std::string_view(s.CertificateSerial))) s.CertificateSerial = registry.read("nfe", "NoSerieCertificado");
    if (!s.CertificateSerial.empty()) {
        s.ComponentCertificateSerial = s.CertificateSerial;
        writeGeral(ctx, "CertificadoSerie", s.CertificateSerial);
    }
    // Step 26.
    ctx.status("Setando snfe.util ");
    std::unique_ptr<fiscal::FiscalComponent> component = ctx.services.components.createComponent();
    bool usable = false;
    component->statusQuery(usable);
    s.ComponentOk = usable;
    if (!s.ComponentOk) monitor::showShutdownDialog(ctx);
    // Steps 27 to 29.
    s.Contingency = readGeral(ctx, "Contigencia");
    if (s.Contingency.empty()) s.Contingency = "0";
    ctx.status("Configurar DLL SNFE.CONFIG ");
    database::upgradeConfig(*ctx.db, s.DbKind);
    // The monitor's own tables: without the journal no sale could be emitted safely, so a failure here
    // stops the start.
    database::upgradeJournal(*ctx.db);
    authorisation::AttemptJournal(ctx).importLegacyKeys(context::withTrailingSlash(ctx.locations.programFolder) +
                                                        "NFCe.ini");
    {
        const auto config = ctx.db->open("Select * from config;");
        s.PrintServer = static_cast<int>(document::toNumber(config.field("Serv_ImpresNFCE").text()));
    }
    // Step 30: the set-up reports its own failure; start-up carries on either way.
    s.FastEmission = readGeral(ctx, "EmissaoRapida") == "1";
    checkAuthoritiesFile(ctx);
    s.ContingencySender = readGeral(ctx, "EnviadorDeContigencia");
    if (s.ContingencySender.empty()) s.ContingencySender = "0";
    s.ComponentOk = document::ConfigurarDLL(ctx, 65, s.Contingency == "0" ? "1" : "9", component);
    // Step 31.
    chooseQueueSql(ctx);
    // Step 32.
    ctx.caption(w.Label3, s.Environment);
    ctx.caption(w.Label4, s.CertificateSerial);
    ctx.caption(w.Label8, "AMB:" + s.Environment);
    ctx.caption(w.Label5, "Impressora: " + s.ReceiptPrinter);
    // Step 33.
    w.Timer1.interval = std::chrono::milliseconds(s.Contingency == "1" ? 1000 : 3000);
    monitor::showMainWindow(ctx);
    w.Timer1.enabled = true;
    // Steps 34 and 35.
    s.AppFolder = context::withTrailingSlash(ctx.locations.programFolder);
    monitor::initCheck1(ctx);
}

}  // namespace

void readEmitter(context::AppContext& ctx) {
    const auto emitter = ctx.db->open("SELECT * FROM DatEmit;");
    checkEmitter(ctx, emitter);
    fillEmitter(ctx, emitter);
}

static bool settingsAccepted(const context::AppContext& ctx, std::vector<std::string>& problems) {
    bool allSet = true;
    for (const char* key : {"ambienteNFCE", "CSC", "CertificadoSerie", "IDtoken"})
        if (readGeral(ctx, key).empty()) allSet = false;
    problems = monitor::settingsOutsideDomain(ctx);
    return allSet && problems.empty();
}

bool requiredSettingsPresent(context::AppContext& ctx) {
    std::vector<std::string> problems;
    if (settingsAccepted(ctx, problems)) return true;
    if (!problems.empty()) {
        std::string text;
        for (const auto& problem : problems) text += (text.empty() ? "" : context::kLineBreak) + problem;
        ctx.frontend().messageBox(text, MessageStyle::OkCritical);
    }

    const std::string marker = context::withTrailingSlash(ctx.locations.programFolder) + "ParaApagar.txt";
    if (platform::fileExists(marker)) {
        ctx.doEvents();
        ctx.services.shell.runRegistrationScript(ctx.locations.programFolder);
        std::error_code ignored;
        std::filesystem::remove(marker, ignored);
    }
    monitor::ParameterEditor editor(ctx);
    ctx.frontend().showModal(editor);
    // Saved from the panel with every value start-up accepts: the monitor goes on instead of ending.
    return settingsAccepted(ctx, problems);
}

void SubMain(context::AppContext& ctx) {
    ctx.settings.QuoteChar = "\"";
    ctx.showShutdownDialog = [&ctx] { monitor::showShutdownDialog(ctx); };
    const std::string lockFile = context::withTrailingSlash(ctx.locations.programFolder) + "quorvanti.lock";
    ctx.instanceLock = std::make_unique<platform::InstanceLock>(lockFile);
    if (!ctx.instanceLock->acquired() && ctx.instanceLock->error() == 0)
        endProgram(ExitStatus::AnotherInstanceRunning, "outra instância em execução");
    try {
        // A program folder the monitor cannot write is a fault to report, not another instance.
        if (!ctx.instanceLock->acquired()) throw platform::FileWriteError(lockFile, ctx.instanceLock->error());
        runSteps(ctx);
    } catch (const std::exception& error) {
        ctx.frontend().messageBox(error.what(), MessageStyle::OkCritical, "ERRO SUB Main");
        // A server that went away after taking the connection ends as one that never answered: the
        // service manager starts the monitor again, where a start-up error waits for a person.
        const auto* databaseError = dynamic_cast<const database::DbError*>(&error);
        endProgram(databaseError && databaseError->passing() ? ExitStatus::DatabaseConnectionFailed
                                                            : ExitStatus::StartupError,
                   error.what());
    }
}

}  // namespace quorvanti::startup
