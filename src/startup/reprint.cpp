#include "startup/reprint.h"

#include <exception>
#include <filesystem>

#include "authorisation/outcome_texts.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "document/text/text_helpers.h"
#include "monitor/stored_receipt.h"
#include "platform/folders.h"
#include "platform/program_exit.h"
#include "startup/database_open.h"

namespace quorvanti::startup {

int reprintNFCe(context::AppContext& ctx, const std::string& key, std::ostream& errors) {
    if (!authorisation::isAccessKey(key)) {
        errors << "quorvanti: --reprint espera a chave de acesso de 44 dígitos, recebeu \"" << key << "\"\n";
        return static_cast<int>(ExitStatus::UsageError);
    }
    const std::string path = monitor::storedProcNFePath(ctx, key);
    if (!std::filesystem::is_regular_file(path)) {
        errors << "quorvanti: nenhuma NFC-e autorizada gravada com a chave " << key << " (" << path << ")\n";
        return static_cast<int>(ExitStatus::ReprintUnknownKey);
    }
    auto& s = ctx.settings;
    s.SettingsPath = context::settingsPathFor(ctx.locations, s.SettingsFolder);
    s.AppPath = ctx.locations.programFolder;
    s.AccessDbPath = context::readGeral(ctx, "Caminho");
    readDatabaseSettings(ctx);
    s.ReceiptPrinter = document::toUpperText(context::readGeral(ctx, "PathImpressoraNFCE"));
    s.LogPath = context::withTrailingSlash(platform::desktopFolder(ctx.locations.desktopFolder)) + "LOG_NFCE.txt";
    s.TimeZone = context::timeZoneSetting(ctx);

    try {
        openConnection(ctx, false);  // the customer waits: the receipt goes without the sale's code
    } catch (const std::exception& error) {
        ctx.db.reset();
        errors << "quorvanti: banco de dados indisponível (" << error.what() << "); o código da venda fica em branco\n";
    }
    const monitor::StoredPrint print = monitor::printStoredNFCe(ctx, key);
    for (const std::string& note : print.notes) errors << "quorvanti: " << note << "\n";
    if (!print.printed) {
        errors << "quorvanti: o DANFE NFC-e " << key << " não foi impresso: " << print.problem << "\n";
        return static_cast<int>(ExitStatus::ReprintNotPrinted);
    }
    return 0;
}

}  // namespace quorvanti::startup
