#include "printing/vendor_layouts.h"

#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "printing/devices/bematech_mp2032.h"
#include "printing/devices/epson_interface.h"
#include "printing/print_faults.h"
#include "printing/qr_image.h"
#include "printing/receipt_text.h"

namespace quorvanti::printing {

namespace {

constexpr const char* kCrLf = "\r\n";
const std::string kCentre = "\x1b" "a\x01";
const std::string kLeft = std::string("\x1b" "a") + '\0';
const std::string kDashes48(48, '-');

std::string firstCharacters(const std::string& text, std::size_t count) { return document::leftCharacters(text, count); }

// The name as the layouts print it: "INDEFINIDO" stands for no name.
std::string consumerName(const ReceiptData& r) {
    return document::toUpperText(r.ConsumerName) == "INDEFINIDO" ? std::string() : r.ConsumerName;
}

}  // namespace

void printBematech(context::AppContext& ctx, const ThermalValues& v) {
    const ReceiptData& r = receiptData();
    int& result = printModule().lastResult;
    devices::BematechMp2032 bematech(printerDeviceSettings(ctx));
    const auto print = [&](const std::string& text, int bold = 0, int letterType = 3) {
        result = bematech.FormataTX(text + kCrLf, letterType, 0, 0, 0, bold);
    };
    const auto command = [&](const std::string& bytes) {
        result = bematech.ComandoTX(bytes, static_cast<int>(bytes.size()));
    };

    // The QR picture first: a receipt whose picture cannot be made is not printed at all.
    const bool bitmapQr = document::Val(v.BematechModel) == 7;
    if (bitmapQr) GeraImagemQRCode(ctx, r.QrText);
    ctx.status("Fecha porta Bematech");
    result = bematech.FechaPorta();
    ctx.status("Configura Modelo Bematech");
    result = bematech.ConfiguraModeloImpressora(static_cast<int>(document::Val(v.BematechModel)));
    ctx.status("Inicia porta Bematech");
    const int opened = bematech.IniciaPorta(r.PrinterPort);
    result = opened;
    printModule().portProblem = opened <= 0 ? bematech.lastProblem() : "";
    // A receipt printed to no port is a lost receipt: a failure, logged and told like every other.
    if (opened <= 0)
        throw PrintFailure("Problemas ao Abrir a Porta de Comunicação BEMATECH. Porta:" + r.PrinterPort +
                           " nºDoRetorno " + std::to_string(opened) + " (" + bematech.lastProblem() + ")");
    result = bematech.AjustaLarguraPapel(80);
    ctx.status("Executando impressão Bematech");

    // The short form keeps the emitter's name and CNPJ/IE, as the DANFE must identify the emitter.
    // Free texts are wrapped to the 48 columns: the printer would break them anywhere.
    command(kCentre);
    print(wrapColumns(document::toUpperText(document::trimBlanks(r.TradeName))), 1);
    if (v.ShortHeader != "1") print(wrapColumns(r.Street));
    print("CNPJ:" + r.EmitterCnpj + " IE:" + r.StateRegistration);
    if (v.ShortHeader != "1") print("Fone:" + r.EmitterPhone);
    command(kLeft);
    if (v.ShortHeader != "1") print(kDashes48);
    if (r.IncludeItems == "1") {
        print(v.ItemLines);
        print(kDashes48);
    }
    print(firstCharacters("DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA", 48));
    print(Centraliza("Não permiti aproveitamento de crédito de ICMS"));
    print(Centraliza(v.PortalAddress + " NFCe n: " + r.DocumentNumber));
    print(wrapColumns("PROT: " + r.ProtocolLine));
    if (!v.Notices.empty()) {
        command(kCentre);
        for (const std::string& notice : v.Notices) print(notice, 1, 1);  // condensed: 64 columns
        command(kLeft);
    }
    print(kDashes48);

    if (bitmapQr) {
        result = bematech.DefineDLBitmap(qrImagePath(ctx));
        command(kCentre);
        result = bematech.PrintDLBitmap(0);
    } else {
        command(kCentre);
        print(Centraliza("CHAVE DE ACESSO"));
        command(kCentre);
        result = bematech.ImprimeCodigoQRCODE(2, 4, 0, 9, 1, r.QrText);
    }
    command(kCentre);
    print(accessKeyGroups(r.AccessKey), 0, 1);
    command(kCentre);
    print(wrapColumns(Centraliza(v.ConsultText)));
    command(kLeft);

    const std::string name = consumerName(r);
    if (!name.empty()) {
        print(kDashes48);
        print(Centraliza("CONSUMIDOR"));
        print(firstCharacters("NOME:     " + name, 48));
        print(firstCharacters("CNPJ/CPF: " + r.ConsumerDocument, 48));
    } else if (!r.ConsumerDocument.empty()) {
        print(firstCharacters("CNPJ/CPF: " + r.ConsumerDocument, 48));
    } else {
        print(Centraliza("CONSUMIDOR NAO DEFINIDO"));
    }

    if (v.Totals) {
        print(kDashes48);
        print("COD_VND(INTERNO): " + r.SaleCode);
        print("VALOR TOTAL R$:..................... R$ " + AlinhaDireita(v.TotalText, 8, ' '));
        print("VALOR DESCONTOS R$:................. R$ " +
              AlinhaDireita(formatNumber(xmlDecimal(r.DiscountValue), "###0.00"), 8, ' '));
        print("FORMA PAGAMENTO R$:................. R$ " + AlinhaDireita("DINHEIRO", 8, ' '));
        print("VALOR PAGO R$ R$:................... R$ " + AlinhaDireita(v.PaidText, 8, ' '));
        if (!v.ChangeText.empty())
            print("TROCO R$:........................... R$ " + AlinhaDireita(v.ChangeText, 8, ' '));
    }
    print("Trib. Aprox. Lei 12.741/2012........ R$ " + AlinhaDireita(formatNumber(approximateTax(), "###0.00"), 8, ' '));
    print(kDashes48);
    print(wrapColumns(r.ExtraInfo));

    if (v.BematechModel == "5") {
        for (int i = 0; i < 7; ++i) print(" ");
    } else {
        result = bematech.AcionaGuilhotina(1);
    }
    if ((result = bematech.FechaPorta()) <= 0) throw PrintFailure(bematech.lastProblem());
}

void printEpson(context::AppContext& ctx, const ThermalValues& v) {
    ReceiptData& r = receiptData();
    int& result = printModule().lastResult;
    devices::EpsonInterface epson(printerDeviceSettings(ctx));
    const auto text = [&](const std::string& t) { result = epson.ImprimeTexto(t); };
    const auto tagged = [&](const std::string& t) { result = epson.ImprimeTextoTag(t); };

    if (r.PrinterPort.empty()) r.PrinterPort = "USB";
    const int opened = epson.IniciaPorta(r.PrinterPort);
    result = opened;
    printModule().portProblem = opened < 1 ? epson.lastProblem() : "";
    if (opened < 1)
        throw PrintFailure("Problemas ao Abrir a Porta de Comunicação. Porta:" + r.PrinterPort + " nº " +
                           std::to_string(opened) + " (" + epson.lastProblem() + ")");
    text(" ");
    text(" ");
    // Free texts are wrapped to the 48 columns, and every line ends with its own line break: a line
    // left to the printer's wrapping splits where it may and shifts the next one.
    tagged("<ce><b>" + wrapColumns(r.TradeName, 46) + "</b></ce>" + kCrLf);  // after the two blanks
    if (v.ShortHeader != "1") {
        text(wrapColumns(r.Street) + kCrLf);
        text(Centraliza("CNPJ:" + r.EmitterCnpj + " IE:" + r.StateRegistration) + kCrLf);
        text(Centraliza("Fone:" + r.EmitterPhone) + kCrLf);
        text(kDashes48 + kCrLf);
    } else {
        // The short form keeps the emitter's name and CNPJ/IE, as the DANFE must identify the emitter.
        text(Centraliza("CNPJ:" + r.EmitterCnpj + " IE:" + r.StateRegistration) + kCrLf);
    }
    if (r.IncludeItems == "1") {
        result = epson.FormataTX(v.ItemLines + kCrLf, 2, 0, 0, 0, 1);
        text(kDashes48 + kCrLf + kCrLf);
    }
    tagged(std::string("<c><ce><b>DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA</b></ce></c>") + kCrLf);
    text(Centraliza("Não permiti aproveitamento de crédito de ICMS") + kCrLf);
    text(Centraliza(v.PortalAddress + " NFCe n: " + r.DocumentNumber) + kCrLf);
    text(wrapColumns("PROT: " + r.ProtocolLine) + kCrLf);
    for (const std::string& notice : v.Notices) tagged("<c><ce><b>" + notice + "</b></ce></c>" + kCrLf);
    text(kDashes48 + kCrLf + kCrLf);
    text(Centraliza("CHAVE DE ACESSO") + kCrLf);
    tagged("<ce><qrcode>" + r.QrText + "<lmodulo>3</lmodulo></qrcode></ce>");
    // The line after the QR, plain: underlined, its blank printed as a stray dash under the code.
    result = epson.FormataTX(std::string(" ") + kCrLf, 1, 0, 0, 0, 1);
    tagged("<c><ce><b>" + accessKeyGroups(r.AccessKey) + "</b></ce></c>" + kCrLf);
    tagged("<ce>" + wrapColumns(v.ConsultText) + "</ce>" + kCrLf);

    if (!r.ConsumerName.empty()) {
        text(kDashes48 + kCrLf);
        text(wrapColumns("CONSUMIDOR: " + consumerName(r)) + kCrLf);
        text("CNPJ/CPF: " + (r.ConsumerDocument == "NE" ? std::string() : r.ConsumerDocument) + kCrLf);
    } else if (!r.ConsumerDocument.empty()) {
        text("CNPJ/CPF: " + r.ConsumerDocument + kCrLf);
    } else {
        text(std::string("CONSUMIDOR INDEFINIDO") + kCrLf);
    }
    if (v.Totals) {
        text(kDashes48 + kCrLf);
        text("VALOR TOTAL R$:..................... R$ " + AlinhaDireita(v.TotalText, 8, ' ') + kCrLf);
        text("VALOR DESCONTOS R$:................. R$ " + AlinhaDireita(v.DiscountText, 8, ' ') + kCrLf);
        text("FORMA PAGAMENTO R$:................. R$ " + AlinhaDireita("DINHEIRO", 8, ' ') + kCrLf);
        text("VALOR PAGO R$ R$:................... R$ " + AlinhaDireita(formatText(v.PaidText, "###0.00"), 8, ' ') +
             kCrLf);
        if (!v.ChangeText.empty())
            text("TROCO R$:........................... R$ " + AlinhaDireita(v.ChangeText, 8, ' ') + kCrLf);
    }
    text("Trib. Aprox. Lei 12.741/2012........ R$ " + AlinhaDireita(formatNumber(approximateTax(), "###0.00"), 8, ' ') +
         kCrLf);
    text(kDashes48 + kCrLf);
    text(wrapColumns(r.ExtraInfo) + kCrLf);
    result = epson.AcionaGuilhotina(0);
    if ((result = epson.FechaPorta()) <= 0) throw PrintFailure(epson.lastProblem());
}

}  // namespace quorvanti::printing
