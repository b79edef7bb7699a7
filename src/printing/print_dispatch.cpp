#include "printing/print_dispatch.h"

#include <cmath>
#include <exception>

#include "context/program_files.h"
#include "document/text/text_helpers.h"
#include "platform/program_exit.h"
#include "printing/devices/printer_object.h"
#include "printing/print_faults.h"
#include "printing/receipt_data.h"
#include "printing/receipt_text.h"
#include "printing/thermal_layout.h"
#include "printing/windows_printer_layouts.h"

namespace quorvanti::printing {

namespace {

bool isReceiptFamily(const std::string& upper) {
    return upper == "DARUMA" || upper == "BEMATECH" || upper == "EPSON" || upper == "VOX";
}

// Logs every receipt that did not print, with what the operator needs to reprint it, and tells the
// operator once per printer failure. An OK box: no frontend waits on it before the next sale. The log
// failing must not turn a printing problem into an emission problem.
void reportFailure(context::AppContext& ctx, const std::string& saleCode, const std::string& number,
                   const std::string& accessKey, const std::string& what) {
    std::string printer = "?";
    try {
        printer = printerLabel(ctx);
    } catch (const std::exception&) {
    }
    const std::string reprint = "quorvanti --reprint " + accessKey;
    try {
        context::GravaLog(ctx, "DANFE NFC-e nº " + number + " da venda " + saleCode + " (chave " + accessKey +
                                   ") não impresso na impressora " + printer + ": " + what + "; reimprima com " +
                                   reprint);
    } catch (const std::exception&) {
    }
    if (!startsPrinterFailure(printer)) return;
    ctx.frontend().messageBox(
        "Não foi possível imprimir o DANFE NFC-e nº " + number + " (venda " + saleCode + ") na impressora " +
            printer + ": " + what + context::kLineBreak + "A NFC-e está autorizada e gravada. Resolva o problema da " +
            "impressora e reimprima: botão Reimprimir do painel, ou " + reprint + "." + context::kLineBreak +
            "Até esta impressora voltar a imprimir, as próximas falhas dela ficam só no LOG_NFCE.txt.",
        platform::MessageStyle::OkExclamation);
}

// Addresses `printer` for one job and the one addressed before again afterwards, however the job ends.
class PrinterForOneJob {
public:
    explicit PrinterForOneJob(const std::string& printer) : previous_(devices::Printer().DeviceName()) {
        std::string problem;
        if (!SetDefaultPrinter(printer, &problem)) throw PrintFailure(problem);
    }
    ~PrinterForOneJob() {
        // Nothing was addressed before (no system default): there is nothing to go back to.
        if (!previous_.empty()) SetDefaultPrinter(previous_);
    }
    PrinterForOneJob(const PrinterForOneJob&) = delete;
    PrinterForOneJob& operator=(const PrinterForOneJob&) = delete;

private:
    std::string previous_;
};

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

bool SetDefaultPrinter(const std::string& name, std::string* problem) {
    try {
        devices::Printer().setDefaultPrinter(name);
        return true;
    } catch (const devices::PrinterError& error) {
        if (problem != nullptr) *problem = error.what();
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
        // A name the server does not know is this receipt's failure: printing it on whichever printer
        // happens to be the default would hand the customer's receipt to someone else.
        const PrinterForOneJob addressed(printer);
        ImprimeA4(ctx, r.XmlPath);
    }
    ctx.status("Termino impressao -> " + printer);
    printerRecovered(printerLabel(ctx));
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
        reportFailure(ctx, saleCode, number, accessKey, error.what());
    } catch (...) {
        reportFailure(ctx, saleCode, number, accessKey, "erro desconhecido");
    }
}

}  // namespace quorvanti::printing
