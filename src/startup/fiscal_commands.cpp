#include "startup/fiscal_commands.h"

#include <exception>
#include <memory>

#include "authorisation/attempt_journal.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/schema_upgrade.h"
#include "document/component_setup.h"
#include "fiscal_events/cancellation.h"
#include "fiscal_events/number_voiding.h"
#include "platform/folders.h"
#include "platform/program_exit.h"
#include "startup/database_open.h"
#include "startup/sub_main.h"

namespace quorvanti::startup {

namespace {

// The settings the events need, read as start-up reads them (without writing any).
void readSettings(context::AppContext& ctx) {
    auto& s = ctx.settings;
    s.SettingsPath = context::settingsPathFor(ctx.locations, s.SettingsFolder);
    s.AppPath = ctx.locations.programFolder;
    s.AppFolder = context::withTrailingSlash(s.AppPath);
    s.AccessDbPath = context::readGeral(ctx, "Caminho");
    s.Terminal = context::readGeral(ctx, "NTerminal");
    s.LogPath = context::withTrailingSlash(platform::desktopFolder(ctx.locations.desktopFolder)) + "LOG_NFCE.txt";
    s.Environment = context::readGeral(ctx, "ambienteNFCE");
    if (s.Environment.empty()) endProgram(ExitStatus::SettingsMissing, "falta ambienteNFCE em " + s.SettingsPath);
    s.Series = context::readGeral(ctx, "serie");
    if (s.Series.empty()) s.Series = "1";
    s.TimeZone = context::timeZoneSetting(ctx);
    (void)context::shopOffset(s);  // a FUSO the layout cannot write is said before anything is sent
    s.CscId = context::readGeral(ctx, "IDtoken");
    s.Csc = context::readGeral(ctx, "CSC");
    s.CertificateSerial = context::readGeral(ctx, "CertificadoSerie");
    if (s.CertificateSerial.empty()) s.CertificateSerial = ctx.services.registry.read("nfe", "NoSerieCertificado");
    s.ComponentCertificateSerial = s.CertificateSerial;
    s.Contingency = "0";
    readDatabaseSettings(ctx);
    openConnection(ctx);
    readEmitter(ctx);
    database::upgradeJournal(*ctx.db);
}

int cancel(context::AppContext& ctx, fiscal::FiscalComponent& component, const CommandLine& line, std::ostream& out,
           std::ostream& errors) {
    using fiscal_events::CancelResult;
    const auto outcome = fiscal_events::cancelNFCe(ctx, component, line.cancelKey, line.reason);
    const bool done = outcome.result == CancelResult::Registered || outcome.result == CancelResult::AlreadyCancelled;
    (done ? out : errors) << (done ? "" : "quorvanti: ") << outcome.message << "\n";
    context::GravaLog(ctx, "Cancelamento " + line.cancelKey + ": " + outcome.message);
    switch (outcome.result) {
        case CancelResult::Registered:
        case CancelResult::AlreadyCancelled: return 0;
        case CancelResult::TooLate: return static_cast<int>(ExitStatus::CancellationTooLate);
        case CancelResult::NoAnswer: return static_cast<int>(ExitStatus::AuthorityNoAnswer);
        case CancelResult::UnknownDocument: return static_cast<int>(ExitStatus::DocumentUnknown);
        case CancelResult::InvalidRequest: return static_cast<int>(ExitStatus::UsageError);
        case CancelResult::Refused: break;
    }
    return static_cast<int>(ExitStatus::FiscalRequestRefused);
}

int voidRange(context::AppContext& ctx, fiscal::FiscalComponent& component, const CommandLine& line,
              std::ostream& out, std::ostream& errors) {
    using fiscal_events::VoidResult;
    const auto outcome = fiscal_events::voidNumbersByHand(ctx, component, line.voidFrom, line.voidTo, line.reason);
    const bool done = outcome.result == VoidResult::Voided;
    (done ? out : errors) << (done ? "" : "quorvanti: ") << outcome.message << "\n";
    context::GravaLog(ctx, "Inutilização: " + outcome.message);
    switch (outcome.result) {
        case VoidResult::Voided: return 0;
        case VoidResult::PartlyUsed: return static_cast<int>(ExitStatus::NumbersPartlyUsed);
        case VoidResult::NoAnswer: return static_cast<int>(ExitStatus::AuthorityNoAnswer);
        case VoidResult::InvalidRequest: return static_cast<int>(ExitStatus::UsageError);
        case VoidResult::Refused: break;
    }
    return static_cast<int>(ExitStatus::FiscalRequestRefused);
}

}  // namespace

int runFiscalCommand(context::AppContext& ctx, const CommandLine& line, std::ostream& out, std::ostream& errors) {
    try {
        readSettings(ctx);
        if (line.gaps) {
            const auto gaps = fiscal_events::gapReport(ctx);
            for (const auto& gap : gaps) out << fiscal_events::gapLine(gap) << "\n";
            if (gaps.empty()) out << "nenhum número sem NFC-e autorizada ou inutilização\n";
            return 0;
        }
        std::unique_ptr<fiscal::FiscalComponent> component;
        if (!document::ConfigurarDLL(ctx, 65, "1", component) || !component) {
            errors << "quorvanti: o componente fiscal não pôde ser configurado\n";
            return static_cast<int>(ExitStatus::StartupError);
        }
        return line.cancelKey.empty() ? voidRange(ctx, *component, line, out, errors)
                                      : cancel(ctx, *component, line, out, errors);
    } catch (const ProgramExit& exit) {
        if (!exit.reason.empty()) errors << "quorvanti: " << exit.reason << "\n";
        return static_cast<int>(exit.status);
    } catch (const std::exception& error) {
        errors << "quorvanti: " << error.what() << "\n";
        return static_cast<int>(ExitStatus::StartupError);
    }
}

}  // namespace quorvanti::startup
