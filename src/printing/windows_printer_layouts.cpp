#include "printing/windows_printer_layouts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "context/shop_clock.h"
#include "document/text/text_helpers.h"
#include "platform/ini_file.h"
#include "printing/qr_image.h"
#include "printing/receipt_text.h"

namespace quorvanti::printing {

namespace {

constexpr const char* kCrLf = "\r\n";
const std::string kDashes40(40, '-');

// Print of a text that holds line breaks: one printed line per line of the text.
// The byte after the UTF-8 character at `at`.
std::size_t nextCharacter(const std::string& text, std::size_t at) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    return at;
}

// Prints `text` on as many lines as it needs to stay inside the printable width: broken at the last
// blank that fits, or inside a word longer than the line (an address). Wrapped rather than cut with
// "…": the consultation address and the contingency line must be read whole.
void printFitted(devices::PrinterObject& printer, std::string text) {
    const double width = printer.ScaleWidth();
    while (printer.TextWidth(text) > width) {
        std::size_t fits = nextCharacter(text, 0);
        for (std::size_t at = nextCharacter(text, fits); at <= text.size() && printer.TextWidth(text.substr(0, at)) <= width;
             at = nextCharacter(text, at))
            fits = at;
        const std::size_t blank = text.rfind(' ', fits);
        const bool atBlank = blank != std::string::npos && blank > 0 && text.find_first_not_of(' ') < blank;
        printer.Print(text.substr(0, atBlank ? blank : fits));
        text.erase(0, atBlank ? blank + 1 : fits);
    }
    printer.Print(text);
}

void printLines(devices::PrinterObject& printer, const std::string& text) {
    std::size_t from = 0;
    while (true) {
        const std::size_t end = text.find(kCrLf, from);
        printFitted(printer, text.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) return;
        from = end + 2;
    }
}

// The shop's logo: an empty picture when the file is missing or no picture (it is decoration: the
// DANFE prints without it). Read from its file, not through ImgNFCE, which keeps this document's QR code.
devices::Picture logoPicture(const std::string& path) {
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) return {};
    try {
        return devices::decodePicture(bytes.str());
    } catch (const devices::PictureError&) {
        return {};
    }
}

// A notice the authority's manual requires, centred, bold, in the size that fits `width` twips.
void printNotice(devices::PrinterObject& p, const std::string& text, double width, double size) {
    const double before = p.FontSize;
    const bool bold = p.FontBold;
    p.FontSize = size;
    p.FontBold = true;
    p.CurrentX = std::max(0.0, std::floor((width - p.TextWidth(text)) / 2));
    p.Print(text);
    p.FontSize = before;
    p.FontBold = bold;
}

std::string consumerName(const ReceiptData& r) {
    return document::toUpperText(r.ConsumerName) == "INDEFINIDO" ? std::string() : r.ConsumerName;
}

// The regional "Medium date" of the shop's today: "07-dez-26".
std::string mediumDate(context::AppContext& ctx, std::string& time) {
    platform::LocalDateTime now;
    try {
        now = context::shopNow(ctx);
    } catch (const std::exception&) {
        now = ctx.services.clock.now();  // no FUSO setting read: the host's time
    }
    static const char* const kMonths[] = {"jan", "fev", "mar", "abr", "mai", "jun",
                                          "jul", "ago", "set", "out", "nov", "dez"};
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%s-%02d", now.day, kMonths[(now.month + 11) % 12], now.year % 100);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    time = clock;
    return text;
}

}  // namespace

void ImprimeAlinhado(devices::PrinterObject& printer, const std::string& text, char alignment) {
    const double width = printer.ScaleWidth();
    const double textWidth = printer.TextWidth(text);
    if (alignment == 'C') printer.CurrentX = std::floor((width - textWidth) / 2);
    else if (alignment == 'E') printer.CurrentX = 500;
    else if (alignment == 'D') printer.CurrentX = width - textWidth - 500;
    printer.Print(text);
}

void Regua(devices::PrinterObject& printer, double height) {
    const double y = printer.CurrentY;
    printer.Line(120, y, printer.ScaleWidth() - 120, y + height, true);
    printer.CurrentX = 0;
    printer.CurrentY = y + height;
}

void ImprimeFigura(devices::PrinterObject& printer, const devices::Picture& picture, double x, double y,
                   double scale) {
    if (picture.empty()) return;
    printer.PaintPicture(picture, x, y, picture.widthTwips * scale, picture.heightTwips * scale);
}

void printVox(context::AppContext& ctx, const ThermalValues& v) {
    const ReceiptData& r = receiptData();
    devices::PrinterObject& p = devices::Printer();
    // The QR picture before anything is drawn: a receipt whose picture cannot be made is not printed.
    const devices::Picture qr = GeraImagemQRCode(ctx, r.QrText);
    p.setPaper(devices::Paper::Roll80mm);
    ctx.status("Executando impressão VOX - Elgin");
    p.FontName = "Courier New";
    p.FontSize = 8;
    // The short form keeps the emitter's name and CNPJ/IE, as the DANFE must identify the emitter.
    p.Print(Centraliza(document::toUpperText(document::trimBlanks(r.TradeName)), 40));
    if (v.ShortHeader != "1") printFitted(p, r.Street);
    p.Print(Centraliza("CNPJ:" + r.EmitterCnpj, 40));
    p.Print(Centraliza("IE:" + r.StateRegistration, 40));
    if (v.ShortHeader != "1") p.Print(kDashes40);
    if (r.IncludeItems == "1") {
        p.FontSize = 7;
        p.FontBold = true;
        printLines(p, v.ItemLines);
        p.FontBold = false;
        p.FontSize = 8;
        p.Print(kDashes40);
    }
    p.FontSize = 8;
    p.Print(Centraliza("DANFE NFC-e NF DO CONSUMIDOR ELETRONICA", 40));
    p.Print(Centraliza("Não permiti aproveitamento de crédito de ICMS", 40));
    p.Print(Centraliza(v.PortalAddress + " NFCe n: " + r.DocumentNumber, 40));
    printFitted(p, r.ProtocolLine);
    // Size 6: the homologation notice holds 53 characters, the width of 40 at size 8.
    for (const std::string& notice : v.Notices) printNotice(p, notice, p.ScaleWidth(), 6);
    p.Print(kDashes40);
    ctx.doEvents();

    p.Print(Centraliza("CHAVE DE ACESSO", 40));
    // Half size, centred, smaller only when a large QR version would pass the paper; the key line goes
    // under the picture as drawn, whatever its version.
    constexpr double kQrGap = 60;
    double qrScale = 0.5;
    if (qr.widthTwips * qrScale > p.ScaleWidth() - 2 * kQrGap) qrScale = (p.ScaleWidth() - 2 * kQrGap) / qr.widthTwips;
    ImprimeFigura(p, qr, (p.ScaleWidth() - qr.widthTwips * qrScale) / 2, p.CurrentY, qrScale);
    p.CurrentY = p.CurrentY + qr.heightTwips * qrScale + kQrGap;
    p.FontSize = 6;
    p.Print(accessKeyGroups(r.AccessKey));
    p.FontSize = 8;
    printLines(p, Centraliza(v.ConsultText, 40));

    const std::string name = consumerName(r);
    if (!name.empty()) {
        p.Print(kDashes40);
        p.Print(Centraliza("CONSUMIDOR", 40));
        p.Print(document::leftCharacters("NOME:     " + name, 40));
        p.Print(document::leftCharacters("CNPJ/CPF: " + r.ConsumerDocument, 40));
    } else if (!r.ConsumerDocument.empty()) {
        p.Print(document::leftCharacters("CNPJ/CPF: " + r.ConsumerDocument, 40));
    } else {
        p.Print(Centraliza("CONSUMIDOR NAO IDENTIFICADO", 40));
    }

    if (v.Totals) {
        p.Print(kDashes40);
        printFitted(p, "COD_VND(INTERNO): " + r.SaleCode);
        p.Print("VALOR TOTAL R$:.............. R$ " + AlinhaDireita(v.TotalText, 8, ' '));
        p.Print("VALOR DESCONTOS R$:.......... R$ " +
                AlinhaDireita(formatNumber(xmlDecimal(r.DiscountValue), "###0.00"), 8, ' '));
        p.Print("FORMA PAGAMENTO R$:.......... R$ " + AlinhaDireita("DINHEIRO", 8, ' '));
        p.Print("VALOR PAGO R$ R$:............ R$ " + AlinhaDireita(v.PaidText, 8, ' '));
        if (!v.ChangeText.empty()) p.Print("TROCO R$:.................... R$ " + AlinhaDireita(v.ChangeText, 8, ' '));
    }
    p.Print("Trib. Aprox. Lei 12.741/2012. R$ " + AlinhaDireita(formatNumber(approximateTax(), "###0.00"), 8, ' '));
    p.Print(kDashes40);
    printFitted(p, r.ExtraInfo);
    // The paper is cut by the printer's driver at the end of the page; the Bematech library's cut, which
    // the printer object's job never reaches, is not sent.
    if (v.BematechModel == "5")
        for (int i = 0; i < 7; ++i) p.Print(" ");
    p.EndDoc();
}

void ImprimeA4(context::AppContext& ctx, const std::string& xmlPath) {
    const ReceiptData& r = receiptData();
    devices::PrinterObject& p = devices::Printer();
    // The QR picture before anything is drawn: a receipt whose picture cannot be made is not printed.
    const devices::Picture qr = GeraImagemQRCode(ctx, r.QrText);
    p.setPaper(devices::Paper::A4);
    const double width = p.ScaleWidth();

    ctx.status("Cabeçalho");
    p.CurrentY = 300;
    p.FontName = "Arial Narrow";
    const devices::Picture logo = logoPicture(platform::readSetting("Geral", "LOGONFCE", r.SettingsPath));
    if (!logo.empty()) ImprimeFigura(p, logo, 500, 300, std::min(1.0, 1100 / logo.heightTwips));
    const double headerX = std::floor(width / 2) - 1500;
    const auto header = [&](const std::string& text, double size, bool bold) {
        p.FontSize = size;
        p.FontBold = bold;
        p.CurrentX = headerX;
        p.Print(text);
    };
    header("Razão Social:", 6, false);
    header(r.TradeName, 12, true);
    header("CGC/CPF - IE", 6, false);
    header(document::MascaraCnpjCpf(r.EmitterCnpj) + " - " + formatText(r.StateRegistration, "000000000"), 8, true);
    header("Endereço:", 6, false);
    header(r.Street + ", " + r.District, 8, true);
    header(r.City + ", CEP: " + r.PostalCode + ", FONE: " + r.EmitterPhone, 8, true);
    p.FontBold = false;
    ImprimeAlinhado(p, "DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA", 'C');
    p.FontName = "Courier New";
    p.FontSize = 8;
    ImprimeAlinhado(p, "Protocolo: " + r.ProtocolLine, 'C');
    for (const std::string& notice : requiredNotices(r)) printNotice(p, notice, width, 8);
    ImprimeAlinhado(p, "NFC-e não permiti aproveitamento de crédito de ICMS", 'C');
    std::string time;
    const std::string date = mediumDate(ctx, time);
    std::string portal = platform::readSetting("Geral", kPortalSetting, r.SettingsPath);
    if (portal.empty()) portal = kPortalAddress;
    ImprimeAlinhado(p, portal + " - " + date + " - " + time, 'C');
    ctx.status("Fim Cabeçalho");

    static const double kColumns[] = {500, 1500, 6500, 7500, 8500, 9500, 10500};
    static const char* const kTitles[] = {"CODIGO_I", "DESCRITIVO", "QUT", "UN_M", "VL_UNT R$", "VL_DES R$", "VL_TOT R$"};
    const auto row = [&](const std::string (&values)[7]) {
        for (int c = 0; c < 7; ++c) {
            p.CurrentX = kColumns[c];
            p.Print(values[c], c == 6);
        }
    };
    const double tableTop = p.CurrentY;
    row({kTitles[0], kTitles[1], kTitles[2], kTitles[3], kTitles[4], kTitles[5], kTitles[6]});
    Regua(p, 5);
    p.CurrentY = p.CurrentY + 100;
    p.FontName = "Courier New";
    ctx.status("Path do arquivo");
    const std::string xml = joinedLines(xmlPath);
    const int count = static_cast<int>(std::nearbyint(r.ItemCount));
    for (int i = 1; i <= count; ++i) {
        const std::string section = "<det nItem=\"" + std::to_string(i) + "\">";
        const auto tag = [&](const std::string& name) {
            return tagInText(xml, section, "</det>", "<" + name + ">", "</" + name + ">");
        };
        // Amounts with two decimals; quantity and unit price shortened to their 9 places.
        row({rightInColumn(tag("cProd"), 9), tag("xProd"), rightInColumn(fitDecimal(tag("qCom"), 9, 3), 9),
             document::leftCharacters(tag("uCom"), 2), rightInColumn(fitDecimal(tag("vUnCom"), 9, 2), 9),
             rightInColumn(formatNumber(xmlDecimal(tag("vDesc")), "##,#0.00"), 9),
             rightInColumn(moneyText(ctx, tag("vProd")), 9)});
    }
    for (double x : {1500.0, 6500.0, 7500.0, 8500.0, 9500.0, 10500.0}) p.Line(x, tableTop, x, p.CurrentY);
    ctx.status("impressao dos itens realizado");

    Regua(p, 5);
    p.CurrentY = p.CurrentY + 100;
    ImprimeAlinhado(p,
                    "CHAVE DE ACESSO - NFC-e Nº " +
                        document::formatWithPlaceholders(formatText(r.DocumentNumber, "000000000"), U"@@@.@@@.@@@") +
                        " VIA CONSUMIDOR",
                    'C');
    p.CurrentY = p.CurrentY + 100;
    // 1900 twips (33.5 mm): above the 25 mm the DANFE manual asks, inside the 2100 the layout leaves.
    p.PaintPicture(qr, std::floor((width - 1900) / 2), p.CurrentY, 1900, 1900);
    p.CurrentY = p.CurrentY + 2100;
    // The manual's order: the consultation address, then the key.
    for (const std::string& line : {std::string("Consulte pela Chave de Acesso em:"), consultationAddress(r)})
        ImprimeAlinhado(p, line, 'C');
    p.FontSize = 10;
    ImprimeAlinhado(p, accessKeyGroups(r.AccessKey), 'C');
    p.FontSize = 8;
    Regua(p, 5);
    p.FontBold = true;
    ImprimeAlinhado(p, "CONSUMIDOR", 'C');
    p.FontBold = false;
    ImprimeAlinhado(p, "CNPJ/CPF: " + (r.ConsumerDocument == "NE" ? std::string() : r.ConsumerDocument), 'E');
    ImprimeAlinhado(p, "NOME: " + consumerName(r), 'E');
    Regua(p, 5);
    const auto labelled = [&](const std::string& label, const std::string& value) {
        p.CurrentX = 500;
        p.Print(label, false);
        ImprimeAlinhado(p, rightInColumn(value, 20), 'D');
    };
    labelled("COD/INTERNO:", r.SaleCode);
    labelled("VALOR TOTAL R$:", moneyText(ctx, r.TotalValue));
    labelled("VALOR DESCONTOS R$:", moneyText(ctx, r.DiscountValue));
    labelled("FORMA PAGAMENTO:", "DINHEIRO");
    labelled("VALOR PAGO R$:", formatNumber(xmlDecimal(r.PaidValue), "##,#0.00"));
    if (!r.ChangeValue.empty()) labelled("TROCO R$:", formatNumber(xmlDecimal(r.ChangeValue), "##,#0.00"));
    p.FontSize = 6;
    const double tax = approximateTax();
    const double total = xmlDecimal(r.TotalValue);
    // The percentage shown is the one of the amount printed: the document's own when it carries vTotTrib.
    const double rate = r.TaxValue.empty() || total == 0 ? approximateTaxRate() : tax * 100 / total;
    p.CurrentX = 500;
    p.Print("Informação dos Tributos Tot Incidentes (Lei Federal 12.741/2012) - Fonte IBPT (Valor Aprox.) %" +
            formatNumber(rate, "##,#0.00") + " R$:" + rightInColumn(formatNumber(tax, "##,#0.00"), 20));
    p.CurrentX = 500;
    p.Print("Inf Compl: " + r.ExtraInfo);
    Regua(p, 5);
    ImprimeAlinhado(p, "QUIRANTO SISTEMAS", 'D');
    p.EndDoc();
}

}  // namespace quorvanti::printing
