#include "printing/print_dispatch.h"

#include <cmath>
#include <exception>

#include "context/program_files.h"
#include "document/text/text_helpers.h"
#include "platform/program_exit.h"
#include "printing/devices/printer_object.h"
#include "printing/receipt_data.h"
#include "printing/receipt_text.h"
#include "printing/thermal_layout.h"
#include "printing/windows_printer_layouts.h"

namespace quorvanti::printing {

namespace {

bool isReceiptFamily(const std::string& upper) {
    return upper == "DARUMA" || upper == "BEMATECH" || upper == "EPSON" || upper == "VOX";
}

// Tells the operator once and logs why a receipt did not print; the log failing must not turn a
// printing problem into an emission problem.
void reportFailure(context::AppContext& ctx, const std::string& number, const std::string& accessKey,
                   const std::string& what) {
    const std::string text = "Não foi possível imprimir o DANFE NFC-e nº " + number + ": " + what +
                             context::kLineBreak + "A NFC-e está autorizada e gravada; reimprima com --reprint " +
                             accessKey + ".";
    try {
        context::GravaLog(ctx, "Impressão do DANFE NFC-e " + accessKey + " falhou: " + what);
    } catch (const std::exception&) {
    }
    ctx.frontend().messageBox(text, platform::MessageStyle::OkExclamation);
}

// What the customer paid: the sum of every payment's <vPag>, in cents as the document writes them.
std::string paymentsSum(const std::string& xml) {
    const std::string payments = tagInText(xml, "", "", "<pag>", "</pag>");
    long long cents = 0;
    for (std::size_t at = payments.find("<vPag>"); at != std::string::npos; at = payments.find("<vPag>", at + 1))
        cents += std::llround(xmlDecimal(tagInText(payments.substr(at), "", "", "<vPag>", "</vPag>")) * 100);
    return xmlCentsText(cents);
}

}  // namespace

std::string receiptPrinterName(const context::AppContext& ctx) {
    const std::string written = context::readGeral(ctx, "PathImpressoraNFCE");
    if (document::toUpperText(written) == document::toUpperText(ctx.settings.ReceiptPrinter)) return written;
    return ctx.settings.ReceiptPrinter;
}

bool SetDefaultPrinter(context::AppContext& ctx, const std::string& name) {
    try {
        devices::Printer().setDefaultPrinter(name);
        return true;
    } catch (const devices::PrinterError& error) {
        ctx.frontend().messageBox("Error No: " + std::to_string(error.number) + context::kLineBreak + error.what() +
                                      context::kLineBreak + "Has occured in " + "modPrinters.SetDefaultPrinter" +
                                      context::kLineBreak + "Please contact Technical Support",
                                  platform::MessageStyle::OkCritical);
        return false;
    }
}

void PreparaImpressao(context::AppContext& ctx, windows::frmEmitirNFCe& mainWindow, const std::string& saleCode,
                      const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                      const std::string& qrText, const std::string& contingency, const std::string& port,
                      const std::string& secondFlag) {
    ReceiptData& r = receiptData();
    r = ReceiptData{};
    printModule().portProblem.clear();
    printModule().amountErrorShown = false;
    std::string folder;
    r.SettingsPath = context::settingsPathFor(ctx.locations, folder);
    r.PrinterPort = port;
    ctx.status("Path da Impressora ");
    r.XmlPath = xmlPath;
    r.MainWindow = &mainWindow;
    // The picture belongs to the previous document: no layout and no panel may take it for this one's.
    mainWindow.ImgNFCE.fileBytes.clear();
    r.AccessKey = accessKey;
    r.Contingency = contingency;
    r.SaleCode = saleCode;
    r.ExtraInfo.clear();
    r.OmitHeader = LeIniImpressao("Geral", "OmitirCabecalho", r.SettingsPath);
    r.IncludeItems = LeIniImpressao("Geral", "incluioperacao", r.SettingsPath);

    // One read of the file serves every element; the rules are LerTagXml's.
    const std::string xml = joinedLines(xmlPath);
    const auto emit = [&](std::string_view tag) {
        return tagInText(xml, "<emit>", "</emit>", "<" + std::string(tag) + ">", "</" + std::string(tag) + ">");
    };
    r.TradeName = emit("xFant");
    r.Street = emit("xLgr");
    r.StateRegistration = document::formatWithPlaceholders(emit("IE"), U"@@.@@@.@@@-@");
    r.EmitterCnpj = document::MascaraCnpjCpf(emit("CNPJ"));
    r.EmitterPhone = document::MascaraTelefone(emit("fone"));
    r.District = emit("xBairro");
    r.City = emit("xMun");
    std::string postalCode = emit("CEP");
    r.PostalCode = document::MascaraCep(postalCode);
    r.DocumentNumber = number;
    ctx.status("Path da Impressora ");

    if (r.Contingency != "1" && secondFlag != "1") {
        r.ProtocolLine = tagInText(xml, "<infProt", "</infProt>", "<dhRecbto>", "</dhRecbto>") + " " +
                         tagInText(xml, "<infProt", "</infProt>", "<nProt>", "</nProt>");
    } else {
        r.ProtocolLine = "NFC-e emitida em contigência " + tagInText(xml, "<ide>", "</ide>", "<dhEmi>", "</dhEmi>");
    }
    ctx.status("Path da Impressora 2 ");
    ctx.status("Gerando QRCode ");
    r.QrText = qrText;
    ctx.status("Gerando QRCode 2 ");

    r.ConsumerDocument = tagInText(xml, "<dest>", "</dest>", "<CPF>", "</CPF>");
    if (document::trimBlanks(r.ConsumerDocument).empty())
        r.ConsumerDocument = tagInText(xml, "<dest>", "</dest>", "<CNPJ>", "</CNPJ>");
    r.ConsumerName = tagInText(xml, "<dest>", "</dest>", "<xNome>", "</xNome>");
    ctx.status("CPF cliente ");
    ctx.status("Conta Itens ");
    r.ItemCount = regionalNumber(ContaItens(xmlPath, ctx.locations.programFolder)).value_or(0);
    ctx.status("Soma valor ");
    r.TotalValue = tagInText(xml, "<total>", "</total>", "<vNF>", "</vNF>");
    r.DiscountValue = tagInText(xml, "<total>", "</total>", "<vDesc>", "</vDesc>");
    r.TaxValue = tagInText(xml, "<total>", "</total>", "<vTotTrib>", "</vTotTrib>");
    r.PaidValue = paymentsSum(xml);
    r.ChangeValue = tagInText(xml, "<pag>", "</pag>", "<vTroco>", "</vTroco>");
    r.Environment = tagInText(xml, "<ide>", "</ide>", "<tpAmb>", "</tpAmb>");
    r.EmissionType = tagInText(xml, "<ide>", "</ide>", "<tpEmis>", "</tpEmis>");

    ctx.status("Selecionando impressora ");
    const std::string printer = receiptPrinterName(ctx);
    if (isReceiptFamily(document::toUpperText(printer))) {
        ctx.status("Impressora Termica");
        ImprimeTermica(ctx, accessKey, "", saleCode);
    } else {
        ctx.status("Em Impressora A4 -> " + printer);
        devices::PrinterObject& object = devices::Printer();
        const std::string previous = object.DeviceName();
        SetDefaultPrinter(ctx, printer);
        ImprimeA4(ctx, r.XmlPath);
        // Nothing was addressed before (no system default): there is nothing to go back to.
        if (!previous.empty()) SetDefaultPrinter(ctx, previous);
    }
    ctx.status("Termino impressao -> " + printer);
}

void ImprimeNFCe(context::AppContext& ctx, const std::string& skipMarker, const std::string& saleCode,
                 const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                 const std::string& qrText, const std::string& contingency) {
    try {
        ctx.mainWindow.rtfb = LerTagXml(xmlPath, "", "", "corpo", "");
        ctx.settings.PrintingOff = context::readGeral(ctx, "ImprimiNFCESistema");
        if (skipMarker == "1") return;
        if (ctx.settings.PrintingOff == "1") {
            ctx.status("ENVIADA COM SUCESSO - IMPRESSÃO DESATIVADA");
            return;
        }
        ctx.status("Capturando porta ");
        ctx.doEvents();
        const std::string port = context::readGeral(ctx, "PortaBematech");
        ctx.status("EXECUTANDO IMPRESSÃO SELECIONADA ");
        PreparaImpressao(ctx, ctx.mainWindow, saleCode, number, xmlPath, accessKey, qrText, contingency, port, "0");
    } catch (const ProgramExit&) {
        throw;
    } catch (const std::exception& error) {
        reportFailure(ctx, number, accessKey, error.what());
    } catch (...) {
        reportFailure(ctx, number, accessKey, "erro desconhecido");
    }
}

}  // namespace quorvanti::printing
