#include "startup/reprint.h"

#include <exception>
#include <filesystem>

#include "context/program_files.h"
#include "database/sql_escape.h"
#include "document/text/text_helpers.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"
#include "printing/print_dispatch.h"
#include "printing/receipt_data.h"
#include "startup/database_open.h"

namespace quorvanti::startup {

namespace {

bool isAccessKey(const std::string& key) {
    if (key.size() != 44) return false;
    for (char c : key)
        if (c < '0' || c > '9') return false;
    return true;
}

// The QR text as infNFeSupl holds it: inside CDATA, or escaped as XML text.
std::string qrTextOf(std::string text) {
    const std::string open = "<![CDATA[", close = "]]>";
    if (text.rfind(open, 0) == 0 && text.size() >= open.size() + close.size() &&
        text.compare(text.size() - close.size(), close.size(), close) == 0)
        return text.substr(open.size(), text.size() - open.size() - close.size());
    for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                                            {"&apos;", "'"}, {"&amp;", "&"}}) {
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::string(entity).size(), character);
    }
    return text;
}

}  // namespace

int reprintNFCe(context::AppContext& ctx, const std::string& key, std::ostream& errors) {
    if (!isAccessKey(key)) {
        errors << "quorvanti: --reprint espera a chave de acesso de 44 dígitos, recebeu \"" << key << "\"\n";
        return static_cast<int>(ExitStatus::UsageError);
    }
    const std::string path = ctx.locations.programFolder + "/nfe/arquivos/procNFe/" + key + "-procNFe.xml";
    if (!std::filesystem::is_regular_file(path)) {
        errors << "quorvanti: nenhuma NFC-e autorizada gravada com a chave " << key << " (" << path << ")\n";
        return static_cast<int>(ExitStatus::ReprintUnknownKey);
    }
    auto& s = ctx.settings;
    s.SettingsPath = context::settingsPathFor(ctx.locations, s.SettingsFolder);
    s.AppPath = ctx.locations.programFolder;
    s.AccessDbPath = context::readGeral(ctx, "Caminho");
    s.DbKind = context::readGeral(ctx, "TipoConexao_BD");
    s.DbHost = platform::readSetting("Conexao", "host", s.SettingsPath);
    s.DbName = platform::readSetting("Conexao", "base", s.SettingsPath);
    s.DbUser = platform::readSetting("Conexao", "usuarioD", s.SettingsPath);
    s.DbPassword = platform::readSetting("Conexao", "Senha", s.SettingsPath);
    s.ReceiptPrinter = document::toUpperText(context::readGeral(ctx, "PathImpressoraNFCE"));
    s.LogPath = context::withTrailingSlash(platform::desktopFolder(ctx.locations.desktopFolder)) + "LOG_NFCE.txt";
    s.TimeZone = context::readGeral(ctx, "FUSO");
    if (document::trimBlanks(s.TimeZone).empty()) s.TimeZone = "-04:00";

    const std::string xml = printing::joinedLines(path);
    const std::string number = printing::tagInText(xml, "<ide>", "</ide>", "<nNF>", "</nNF>");
    const std::string qrText = qrTextOf(printing::tagInText(xml, "<infNFeSupl>", "</infNFeSupl>", "<qrCode>", "</qrCode>"));
    std::string saleCode;
    try {
        openConnection(ctx);
        const auto row = ctx.db->open("SELECT cod_venda FROM nfce_gerada WHERE chave = '" +
                                      database::sqlEscape(ctx.db->kind(), key) + "'");
        if (!row.eof()) saleCode = row.field("cod_venda").text();
        else errors << "quorvanti: a chave " << key << " não está em nfce_gerada; o código da venda fica em branco\n";
    } catch (const std::exception& error) {
        errors << "quorvanti: banco de dados indisponível (" << error.what() << "); o código da venda fica em branco\n";
    }

    try {
        printing::PreparaImpressao(ctx, ctx.mainWindow, saleCode, number, path, key, qrText, "0",
                                   context::readGeral(ctx, "PortaBematech"), "0");
    } catch (const std::exception& error) {
        errors << "quorvanti: o DANFE NFC-e " << key << " não foi impresso: " << error.what() << "\n";
        return static_cast<int>(ExitStatus::ReprintNotPrinted);
    }
    if (const std::string& problem = printing::printModule().portProblem; !problem.empty()) {
        errors << "quorvanti: o DANFE NFC-e " << key << " não foi impresso: " << problem << "\n";
        return static_cast<int>(ExitStatus::ReprintNotPrinted);
    }
    return 0;
}

}  // namespace quorvanti::startup
