#include "monitor/stored_receipt.h"

#include <exception>

#include "context/program_files.h"
#include "database/sql_escape.h"
#include "printing/print_dispatch.h"
#include "printing/receipt_data.h"

namespace quorvanti::monitor {

namespace {

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

std::string storedProcNFePath(const context::AppContext& ctx, const std::string& key) {
    return ctx.locations.programFolder + "/nfe/arquivos/procNFe/" + key + "-procNFe.xml";
}

StoredPrint printStoredNFCe(context::AppContext& ctx, const std::string& key) {
    StoredPrint out;
    const std::string path = storedProcNFePath(ctx, key);
    const std::string xml = printing::joinedLines(path);
    const std::string number = printing::tagInText(xml, "<ide>", "</ide>", "<nNF>", "</nNF>");
    const std::string qrText = qrTextOf(printing::tagInText(xml, "<infNFeSupl>", "</infNFeSupl>", "<qrCode>", "</qrCode>"));
    std::string saleCode;
    if (ctx.db) {
        try {
            const auto row = ctx.db->open("SELECT cod_venda FROM nfce_gerada WHERE chave = '" +
                                          database::sqlEscape(ctx.db->kind(), key) + "'");
            if (!row.eof()) saleCode = row.field("cod_venda").text();
            else out.notes.push_back("a chave " + key + " não está em nfce_gerada; o código da venda fica em branco");
        } catch (const std::exception& error) {
            out.notes.push_back(std::string("banco de dados indisponível (") + error.what() +
                                "); o código da venda fica em branco");
        }
    }
    try {
        printing::PreparaImpressao(ctx, ctx.mainWindow, saleCode, number, path, key, qrText, "0",
                                   context::readGeral(ctx, "PortaBematech"), "0");
    } catch (const std::exception& error) {
        out.problem = error.what();
        return out;
    }
    out.problem = printing::printModule().portProblem;
    out.printed = out.problem.empty();
    return out;
}

}  // namespace quorvanti::monitor
