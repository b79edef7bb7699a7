#include "printing/thermal_layout.h"

#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "printing/devices/daruma_framework.h"
#include "printing/devices/device_settings.h"
#include "printing/print_faults.h"
#include "printing/qr_image.h"
#include "printing/receipt_text.h"
#include "printing/vendor_layouts.h"
#include "printing/windows_printer_layouts.h"

namespace quorvanti::printing {

namespace {

constexpr const char* kCrLf = "\r\n";

}  // namespace

std::string consultationAddress(const ReceiptData& r) {
    std::string address = LeIniImpressao("Geral", kConsultSetting, r.SettingsPath);
    if (address.empty()) address = LerTagXml(r.XmlPath, "<infNFeSupl", "</infNFeSupl>", "<urlChave>", "</urlChave>");
    if (address.empty()) address = r.QrText.substr(0, r.QrText.find('?'));
    return address;
}

std::string moneyText(context::AppContext& ctx, const std::string& amount) {
    const document::FormatResult result = document::FormataValor(amount);
    // One box per receipt: every amount of a document without totals fails alike.
    if (!result.ok && !printModule().amountErrorShown) {
        printModule().amountErrorShown = true;
        ctx.frontend().messageBox("Houve erro de calculo RPV", platform::MessageStyle::Ok);
    }
    return result.text;
}

double approximateTaxRate() {
    double& rate = printModule().TaxRate;
    if (rate == 0) rate = regionalNumber("3,70").value_or(3.7);
    return rate;
}

double approximateTax() {
    const ReceiptData& r = receiptData();
    if (!r.TaxValue.empty()) return xmlDecimal(r.TaxValue);
    return xmlDecimal(r.TotalValue) * approximateTaxRate() / 100;
}

std::vector<std::string> requiredNotices(const ReceiptData& r) {
    std::vector<std::string> notices;
    if (r.Contingency == "1" || r.EmissionType == "9") notices.emplace_back(kContingencyNotice);
    if (r.Contingency == "1") notices.emplace_back(kPendingNotice);
    if (r.Environment == "2") notices.emplace_back(kHomologationNotice);
    return notices;
}

ThermalValues thermalStart(context::AppContext& ctx) {
    ReceiptData& r = receiptData();
    requirePrintableQr(r.QrText);
    ThermalValues v;
    v.ShortHeader = LeIniImpressao("Geral", "OmitirCabecalho", r.SettingsPath);
    // A contingency receipt is the customer's only proof until the authorisation: it keeps the emitter,
    // the total and the payment.
    v.Totals = v.ShortHeader != "1" || r.Contingency == "1";
    v.Notices = requiredNotices(r);
    if (r.IncludeItems == "1") v.ItemLines = MontaItens();
    r.DocumentNumber = formatText(r.DocumentNumber, "000000000000");
    v.DiscountText = formatText(moneyText(ctx, r.DiscountValue), "###0.00");
    v.TotalText = formatText(moneyText(ctx, r.TotalValue), "###0.00");
    v.PaidText = formatNumber(xmlDecimal(r.PaidValue), "###0.00");
    if (!r.ChangeValue.empty()) v.ChangeText = formatNumber(xmlDecimal(r.ChangeValue), "###0.00");
    v.ConsultText = std::string("Consulte pela Chave de Acesso em:") + kCrLf + consultationAddress(r);
    const std::string model = LeIniImpressao("Geral", "ModeloBematech", r.SettingsPath);
    // A model that does not start with a digit reads as 0, the model with the native QR code.
    v.BematechModel = document::integerText(document::Val("0" + model.substr(0, model.empty() ? 0 : 1)));
    v.PortalAddress = LeIniImpressao("Geral", kPortalSetting, r.SettingsPath);
    if (v.PortalAddress.empty()) v.PortalAddress = kPortalAddress;
    (void)approximateTaxRate();
    return v;
}

void ImprimeTermica(context::AppContext& ctx, const std::string& accessKey, const std::string& unused,
                    const std::string& saleCode) {
    (void)accessKey, (void)unused, (void)saleCode;  // the layouts read them from ReceiptData
    const ThermalValues values = thermalStart(ctx);
    const std::string family = document::toUpperText(ctx.settings.ReceiptPrinter);
    if (family == "DARUMA") printDaruma(ctx, values);
    else if (family == "BEMATECH") printBematech(ctx, values);
    else if (family == "EPSON") printEpson(ctx, values);
    else if (family == "VOX") printVox(ctx, values);
}

std::string darumaMarkup(context::AppContext& ctx, const ThermalValues& v) {
    const ReceiptData& r = receiptData();
    const std::string separator = std::string("<tc>_</tc>") + kCrLf;
    std::string m = std::string("<ce><da><b>AREA DE DOCUMENTO FISCAL</b></da></ce>") + kCrLf;
    // Free texts are wrapped to the 48 columns: the printer would break them anywhere.
    m += "<ce><b><i><da>" + wrapColumns(document::toUpperText(r.TradeName)) + "</da></i></b></ce>" + kCrLf;
    if (v.ShortHeader != "1") m += "<ce>" + wrapColumns(r.Street) + "</ce>" + kCrLf;
    m += "<ce>CNPJ:" + r.EmitterCnpj + " IE:" + r.StateRegistration + "</ce>" + kCrLf;
    if (v.ShortHeader != "1") {
        m += "<ce>Fone: " + r.EmitterPhone + "</ce>" + kCrLf;
        m += separator;
    }
    if (r.IncludeItems == "1") m += v.ItemLines + kCrLf + separator;
    m += std::string("<ce>DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA</ce>") + kCrLf;
    m += "<ce>" + v.PortalAddress + " NFc-e N: " + r.DocumentNumber + "</ce>" + kCrLf;
    m += "<ce>" + wrapColumns("PROT: " + r.ProtocolLine) + "</ce>" + kCrLf;
    // Condensed: the homologation notice is wider than 48 columns.
    for (const std::string& notice : v.Notices) m += "<ce><b><c>" + notice + "</c></b></ce>" + kCrLf;
    m += std::string("<ce><c>NFC-e não permiti aproveitamento de crédito de ICMS</c></ce>") + kCrLf;
    m += separator;
    m += std::string("<ce>CHAVE DE ACESSO</ce>") + kCrLf;
    m += "<ce><qrcode>" + r.QrText + "</qrcode></ce>";
    // The key's line ends with a second "<c>": printers and stored receipts have always had it so.
    m += "<ce><c>" + accessKeyGroups(r.AccessKey) + "<c></ce>" + kCrLf;
    m += "<ce>" + wrapColumns(v.ConsultText) + "</ce>" + kCrLf;

    const std::string name = r.ConsumerName == "NE" ? "" : r.ConsumerName;
    if (!name.empty()) {
        m += separator;
        m += std::string("<ce>CONSUMIDOR</ce>") + kCrLf;
        m += "<n>CNPJ/CPF: " + r.ConsumerDocument + "</n>" + kCrLf;
        m += wrapColumns("NOME: " + (document::toUpperText(name) == "INDEFINIDO" ? std::string() : name)) + kCrLf;
    } else if (!r.ConsumerDocument.empty()) {
        m += "<n>CNPJ/CPF: " + r.ConsumerDocument + "</n>" + kCrLf;
    } else {
        m += std::string("<ce>CONSUMIDOR INDEFINIDO</ce>") + kCrLf;
    }
    m += std::string("<ce><tc>_</tc></ce>") + kCrLf;
    m += "COD/INTERNO:<ad>" + rightInColumn(r.SaleCode, 20) + "</ad>" + kCrLf;
    if (v.Totals) {
        m += "VALOR TOTAL R$:<ad>" + rightInColumn(formatText(moneyText(ctx, r.TotalValue), "##,#0.00"), 20) +
             "</ad>" + kCrLf;
        // The discount is an XML decimal ("1.00"): read as one, not with the regional settings, which
        // would take the point for a thousands separator and print 100,00.
        m += "<n>VALOR DESCONTOS R$:</n><ad>" + rightInColumn(formatNumber(xmlDecimal(r.DiscountValue), "##,#0.00"), 20) +
             "</ad>" + kCrLf;
        m += "<n>FORMA PAGAMENTO:</n><ad>" + rightInColumn("DINHEIRO", 20) + "</ad>" + kCrLf;
        m += "<n>VALOR PAGO R$:</n><ad>" + rightInColumn(formatText(v.PaidText, "##,#0.00"), 20) + "</ad>" + kCrLf;
        if (!v.ChangeText.empty())
            m += "<n>TROCO R$:</n><ad>" + rightInColumn(formatText(v.ChangeText, "##,#0.00"), 20) + "</ad>" + kCrLf;
    }
    m += "<n>Trib. Aprox. Lei 12.741/2012: " + formatNumber(approximateTax(), "##,#0.00") + "</n>" + kCrLf;
    m += "<ce>" + std::string(48, '_') + "</ce>" + kCrLf;
    m += "<ce>" + wrapColumns(r.ExtraInfo) + "</ce>" + kCrLf;
    m += "<gui></gui> ";
    return m;
}

void printDaruma(context::AppContext& ctx, const ThermalValues& v) {
    const std::string markup = darumaMarkup(ctx, v);
    devices::DarumaFramework daruma(printerDeviceSettings(ctx));
    const int result = daruma.iImprimirTexto_DUAL_DarumaFramework(markup, 0);
    printModule().lastResult = result;
    if (result <= 0) throw PrintFailure(daruma.lastProblem());
}

}  // namespace quorvanti::printing
