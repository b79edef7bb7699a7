#include "printing/windows_printer_layouts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "context/shop_clock.h"
#include "document/text/text_helpers.h"
#include "platform/ini_file.h"
#include "printing/qr_image.h"
#include "printing/receipt_text.h"

namespace quorvanti::printing {

namespace {

constexpr const char* kCrLf = "\r\n";
const std::string kDashes40(40, '-');
// The A4 page's margins, twips: texts start 500 from the left edge and end 500 before the right one;
// each sheet starts 300 from the top, and nothing is drawn in the last 500.
constexpr double kPageMargin = 500;
constexpr double kPageTop = 300;
constexpr double kRuleInset = 120;  // a rule's ends, from the page's edges

// The byte after the UTF-8 character at `at`.
std::size_t nextCharacter(const std::string& text, std::size_t at) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    return at;
}

// `text` broken into lines no wider than `width` twips in the printer's current font: at the last blank
// that fits, or inside a word longer than the line (an address, a product code). Wrapped rather than
// cut with "…": addresses, product names and the contingency line must be read whole.
std::vector<std::string> fittedLines(const devices::PrinterObject& printer, std::string text, double width) {
    std::vector<std::string> lines;
    while (printer.TextWidth(text) > width) {
        std::size_t fits = nextCharacter(text, 0);
        for (std::size_t at = nextCharacter(text, fits); at <= text.size() && printer.TextWidth(text.substr(0, at)) <= width;
             at = nextCharacter(text, at))
            fits = at;
        const std::size_t blank = text.rfind(' ', fits);
        const bool atBlank = blank != std::string::npos && blank > 0 && text.find_first_not_of(' ') < blank;
        lines.push_back(text.substr(0, atBlank ? blank : fits));
        text.erase(0, atBlank ? blank + 1 : fits);
    }
    lines.push_back(text);
    return lines;
}

// Prints `text` on as many lines as it needs to stay inside the printable width.
void printFitted(devices::PrinterObject& printer, const std::string& text) {
    for (const std::string& line : fittedLines(printer, text, printer.ScaleWidth())) printer.Print(line);
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
    // A text wider than the page between its margins goes on as many lines as it needs, each aligned;
    // a centred one may use the page between the rules' ends.
    const double room = width - 2 * (alignment == 'C' ? kRuleInset : kPageMargin);
    for (const std::string& line : fittedLines(printer, text, room)) {
        const double textWidth = printer.TextWidth(line);
        if (alignment == 'C') printer.CurrentX = std::floor((width - textWidth) / 2);
        else if (alignment == 'E') printer.CurrentX = kPageMargin;
        else if (alignment == 'D') printer.CurrentX = width - textWidth - kPageMargin;
        printer.Print(line);
    }
}

void Regua(devices::PrinterObject& printer, double height) {
    // A rule that would pass the bottom of the sheet goes at the top of the next.
    if (printer.CurrentY + height > printer.ScaleHeight() - kPageMargin) {
        printer.NewPage();
        printer.CurrentY = kPageTop;
    }
    const double y = printer.CurrentY;
    printer.Line(kRuleInset, y, printer.ScaleWidth() - kRuleInset, y + height, true);
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
    p.CurrentY = kPageTop;
    p.FontName = "Arial Narrow";
    const double headerX = std::floor(width / 2) - 1500;
    const devices::Picture logo = logoPicture(platform::readSetting("Geral", "LOGONFCE", r.SettingsPath));
    double logoBottom = 0;
    if (!logo.empty()) {
        // At most 1100 twips high, and never as wide as the header beside it.
        const double scale = std::min({1.0, 1100 / logo.heightTwips, (headerX - kPageMargin - 100) / logo.widthTwips});
        ImprimeFigura(p, logo, kPageMargin, kPageTop, scale);
        logoBottom = kPageTop + logo.heightTwips * scale;
    }
    const auto header = [&](const std::string& text, double size, bool bold) {
        p.FontSize = size;
        p.FontBold = bold;
        for (const std::string& line : fittedLines(p, text, width - kPageMargin - headerX)) {
            p.CurrentX = headerX;
            p.Print(line);
        }
    };
    header("Razão Social:", 6, false);
    header(r.TradeName, 12, true);
    header("CGC/CPF - IE", 6, false);
    header(document::MascaraCnpjCpf(r.EmitterCnpj) + " - " + formatText(r.StateRegistration, "000000000"), 8, true);
    header("Endereço:", 6, false);
    header(r.Street + ", " + r.District, 8, true);
    header(r.City + ", CEP: " + r.PostalCode + ", FONE: " + r.EmitterPhone, 8, true);
    p.FontBold = false;
    p.CurrentY = std::max(p.CurrentY, logoBottom + 100);
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

    // The item table. Each value keeps to its column: one that does not fit (a long description, a
    // 13-digit code) goes on as many lines as it needs inside the column, and the row is as tall as its
    // tallest value. A row is never split over two sheets; a new sheet repeats the titles.
    static const double kColumns[] = {500, 1500, 6500, 7500, 8500, 9500, 10500};
    static const char* const kTitles[] = {"CODIGO_I", "DESCRITIVO", "QUT", "UN_M", "VL_UNT R$", "VL_DES R$", "VL_TOT R$"};
    constexpr double kCellGap = 60;  // between a value and the next column's line
    const auto columnEnd = [&](int c) { return c < 6 ? kColumns[c + 1] - kCellGap : width - kPageMargin; };
    double tableTop = p.CurrentY;
    int rowsOnSheet = 0;
    const auto columnLines = [&] {
        for (int c = 1; c < 7; ++c) p.Line(kColumns[c], tableTop, kColumns[c], p.CurrentY);
    };
    using Cells = std::array<std::vector<std::string>, 7>;
    const auto cells = [&](const std::array<std::string, 7>& values) {
        Cells lines;
        for (int c = 0; c < 7; ++c) lines[c] = fittedLines(p, values[c], columnEnd(c) - kColumns[c]);
        return lines;
    };
    const auto rowHeight = [](const Cells& lines) {
        std::size_t height = 1;
        for (const auto& cell : lines) height = std::max(height, cell.size());
        return height;
    };
    const auto printRow = [&](const Cells& lines) {
        for (std::size_t n = 0; n < rowHeight(lines); ++n) {
            for (int c = 0; c < 7; ++c) {
                if (n >= lines[c].size()) continue;
                p.CurrentX = kColumns[c];
                p.Print(lines[c][n], false);
            }
            p.CurrentX = 0;
            p.CurrentY = p.CurrentY + p.TextHeight();
        }
    };
    const auto titles = [&] {
        tableTop = p.CurrentY;
        printRow(cells({kTitles[0], kTitles[1], kTitles[2], kTitles[3], kTitles[4], kTitles[5], kTitles[6]}));
        Regua(p, 5);
        p.CurrentY = p.CurrentY + 100;
        rowsOnSheet = 0;
    };
    titles();
    ctx.status("Path do arquivo");
    const std::string xml = joinedLines(xmlPath);
    const int count = static_cast<int>(std::nearbyint(r.ItemCount));
    for (int i = 1; i <= count; ++i) {
        const std::string section = "<det nItem=\"" + std::to_string(i) + "\">";
        const auto tag = [&](const std::string& name) {
            return tagInText(xml, section, "</det>", "<" + name + ">", "</" + name + ">");
        };
        // Amounts with two decimals; quantity and unit price shortened to their 9 places.
        const Cells lines = cells({rightInColumn(tag("cProd"), 9), tag("xProd"), rightInColumn(fitDecimal(tag("qCom"), 9, 3), 9),
                                   document::leftCharacters(tag("uCom"), 2), rightInColumn(fitDecimal(tag("vUnCom"), 9, 2), 9),
                                   rightInColumn(formatNumber(xmlDecimal(tag("vDesc")), "##,#0.00"), 9),
                                   rightInColumn(moneyText(ctx, tag("vProd")), 9)});
        const double bottom = p.CurrentY + static_cast<double>(rowHeight(lines)) * p.TextHeight();
        if (rowsOnSheet > 0 && bottom > p.ScaleHeight() - kPageMargin) {
            columnLines();
            p.NewPage();
            p.CurrentY = kPageTop;
            titles();
        }
        printRow(lines);
        ++rowsOnSheet;
    }
    columnLines();
    ctx.status("impressao dos itens realizado");

    // The footer is kept on one sheet: the QR code and its key are never parted, nor is anything drawn
    // past the bottom. Its height: the QR picture and its margins, and at most 20 lines of 10 points.
    p.FontSize = 10;
    const double footer = 2400 + 20 * p.TextHeight();
    p.FontSize = 8;
    if (p.CurrentY + footer > p.ScaleHeight() - kPageMargin) {
        p.NewPage();
        p.CurrentY = kPageTop;
    }
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
        p.CurrentX = kPageMargin;
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
    ImprimeAlinhado(p,
                    "Informação dos Tributos Tot Incidentes (Lei Federal 12.741/2012) - Fonte IBPT (Valor Aprox.) %" +
                        formatNumber(rate, "##,#0.00") + " R$:" + rightInColumn(formatNumber(tax, "##,#0.00"), 20),
                    'E');
    ImprimeAlinhado(p, "Inf Compl: " + r.ExtraInfo, 'E');
    Regua(p, 5);
    ImprimeAlinhado(p, "QUIRANTO SISTEMAS", 'D');
    p.EndDoc();
}

}  // namespace quorvanti::printing
