// Whole receipts as the paper shows them: the receipt libraries' bytes read back from file: ports, the
// printer object's pages read with pdftotext, and every QR code decoded back to the NFC-e's QR text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "document/text/text_helpers.h"
#include "monitor/shop_dashboard.h"
#include "printing/devices/printer_object.h"
#include "printing/qr_image.h"
#include "printing/thermal_layout.h"
#include "printing_world.h"

namespace quorvanti::printing {
namespace {

using testing::readFile;
using testing::writeFile;

// Golden texts: the QR payload and the access key vary with the test signer's document, so they are
// replaced by markers; every amount (money with its decimal comma, and the unit prices) is masked with
// "#", its columns kept, as MoneyLinesAreTheDocumentsAmounts compares each with the document's own value.
class LayoutTest : public PrintingTest {
protected:
    std::string golden(const std::string& file) {
        std::string text = printed(file);
        for (const auto& [from, to] : {std::pair{qrText(), std::string("<QR>")},
                                       {accessKeyGroupsOf(key()), std::string("<KEY>")}})
            for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
                text.replace(at, from.size(), to);
        static const std::regex amount(R"([0-9][0-9.]*[.,][0-9]{2}\b)");
        std::string masked;
        std::size_t done = 0;
        for (std::sregex_iterator m(text.begin(), text.end(), amount), none; m != none; ++m) {
            masked += text.substr(done, static_cast<std::size_t>(m->position()) - done) + std::string(m->length(), '#');
            done = static_cast<std::size_t>(m->position() + m->length());
        }
        return masked + text.substr(done);
    }
    // The totals of the Bematech and Epson receipts.
    static constexpr const char* kVendorTotals = R"([L] VALOR TOTAL R$:..................... R$    #####
[L] VALOR DESCONTOS R$:................. R$     ####
[L] FORMA PAGAMENTO R$:................. R$ DINHEIRO
[L] VALOR PAGO R$ R$:................... R$    #####
[L] TROCO R$:........................... R$     ####
[L] Trib. Aprox. Lei 12.741/2012........ R$     ####
[L] ------------------------------------------------
[L]
)";
    // The item block, the same in the three receipt families but for the style of its lines.
    static std::string itemBlock(const std::string& style) {
        std::istringstream lines(R"(COD_PROD   DESCRITIVO
       QUT       UNIT       DES            VALOR
0000000055 PAO FRANCES
    0.4500      #####      ####             ####
0000000077 REFRIGERANTE 2L
    2.0000       ####      ####            #####
7891000100103 CAFE TORRADO
    3.0000       ####      ####            #####
VALOR TOTAL:                               #####
)");
        std::string block;
        for (std::string line; std::getline(lines, line);) block += style + " " + line + "\n";
        return block;
    }
    // A printed amount as a number: "1.234,50" -> 1234.5; "9.32" (a unit price) -> 9.32.
    static double number(std::string amount) {
        if (amount.find(',') != std::string::npos) {
            std::erase(amount, '.');
            std::replace(amount.begin(), amount.end(), ',', '.');
        }
        return std::strtod(amount.c_str(), nullptr);
    }
    // The amount at the end of the printed line that holds `label`; NaN when no line holds it.
    static double amountAfter(const std::string& text, const std::string& label) {
        const std::size_t at = text.find(label);
        if (at == std::string::npos) return std::nan("");
        const std::string line = text.substr(at, text.find('\n', at) - at);
        return number(line.substr(line.find_last_of(' ') + 1));
    }
    static std::string accessKeyGroupsOf(const std::string& key) {
        std::string out;
        for (std::size_t i = 0; i < key.size(); i += 4) out += (i ? " " : "") + key.substr(i, 4);
        return out;
    }
    // What `family` (a receipt family, or "A4") printed of the document at `path`, as text.
    std::string receiptText(const std::string& family, const std::string& path, const std::string& contingency = "0") {
        const std::string pdf = folder.path() + "/page.pdf";
        std::filesystem::remove(pdf);
        const std::string out = usePrinter(family == "A4" ? "file:" + pdf : family);
        std::filesystem::remove(out);
        if (family == "VOX") devices::Printer().setDefaultPrinter("file:" + pdf);
        print(path, contingency);
        return family == "A4" || family == "VOX" ? run("pdftotext -layout " + pdf + " -") : printed(out);
    }
    // The stored document with `count` copies of its third item (a 13-digit code), each named `name`, after
    // `edits`.
    std::string storeItems(int count, const std::string& name, Edits edits = {}) {
        const std::size_t from = xml().find("<det nItem=\"1\">"), to = xml().rfind("</det>") + 6;
        const std::string third = testing::between(xml(), "<det nItem=\"3\">", "</det>");
        const std::string named = std::regex_replace(third, std::regex("<xProd>[^<]*</xProd>"), "<xProd>" + name + "</xProd>");
        std::string items;
        for (int i = 1; i <= count; ++i) items += "<det nItem=\"" + std::to_string(i) + "\">" + named + "</det>";
        edits.emplace_back(xml().substr(from, to - from), items);
        return store(Consumer::Named, edits);
    }
    // A consultation address as long as any state's (and longer): its QR text needs a version-10 symbol.
    static std::string longestAddress() {
        return "https://www.sefaz.consultas-nfce-do-estado.fazenda." + std::string(48, 'x') + ".gov.br/nfce/qrcode";
    }
    // The QR text with the longest address, which the shop's settings name too.
    std::string longestQr() {
        folder.setSetting("EnderecoConsultaNFCe", longestAddress());
        return longestAddress() + "?p=" + key() + "|2|1|1|3A5F0C2B9D8E7F6A5B4C3D2E1F0A9B8C7D6E5F4A";
    }
    // What quorvanti-receipt --check says of `pdf`, ending with its exit status.
    static std::string layoutCheck(const std::string& pdf) {
        return run(std::string(QUORVANTI_BINARY_DIR) + "/quorvanti-receipt --check " + pdf + "; echo status $?");
    }
    // Renders `input` (ESC/POS bytes or a PDF) with the preview tool and answers what zbarimg reads.
    std::string decodedQr(const std::string& input) {
        const std::string png = folder.path() + "/preview.png";
        run("rm -f " + folder.path() + "/preview*.png");
        const bool pdf = input.size() > 4 && input.substr(input.size() - 4) == ".pdf";
        run(QUORVANTI_BINARY_DIR "/quorvanti-receipt " + input + " " + png);
        return run("zbarimg -q --raw " + (pdf ? folder.path() + "/preview-*.png" : png));
    }
};

TEST_F(LayoutTest, DarumaReceipt) {
    const std::string out = usePrinter("DARUMA");
    print(store(Consumer::Named));
    EXPECT_EQ(golden(out), R"([C B DH] AREA DE DOCUMENTO FISCAL
[C B I DH] LOJA TESTE
[C] RUA DAS FLORES
[C] CNPJ:11.222.333/0001-81 IE:13.123.456-7
[C] Fone: (65) 3322-1100
[L] ________________________________________________
)" + itemBlock("[L]") + R"([L] ________________________________________________
[C] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[C] www.nfe.fazenda.gov.br NFc-e N: 000000001234
[C] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[C CD] NFC-e não permiti aproveitamento de crédito de ICMS
[L] ________________________________________________
[C] CHAVE DE ACESSO
[QR M 5 C] <QR>
[C CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L] ________________________________________________
[C] CONSUMIDOR
[L] CNPJ/CPF: 52998224725
[L] NOME: MARIA DA SILVA
[C] ________________________________________________
[L] COD/INTERNO:                           000123-01
[L] VALOR TOTAL R$:                            #####
[L] VALOR DESCONTOS R$:                         ####
[L] FORMA PAGAMENTO:                        DINHEIRO
[L] VALOR PAGO R$:                             #####
[L] TROCO R$:                                   ####
[L] Trib. Aprox. Lei 12.741/2012: ####
[C] ________________________________________________
[L]
[CUT]
)");
}

TEST_F(LayoutTest, BematechReceipt) {
    const std::string out = usePrinter("BEMATECH");
    print(store(Consumer::Anonymous));
    EXPECT_EQ(golden(out), R"([C B] LOJA TESTE
[C] RUA DAS FLORES
[C] CNPJ:11.222.333/0001-81 IE:13.123.456-7
[C] Fone:(65) 3322-1100
[L] ------------------------------------------------
)" + itemBlock("[L]") + R"([L] ------------------------------------------------
[L] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[L]   Não permiti aproveitamento de crédito de ICMS |
[L]   www.nfe.fazenda.gov.br NFCe n: 000000001234  |
[L] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[L] ------------------------------------------------
[C]                 CHAVE DE ACESSO                |
[QR M 5 C] <QR>
[C CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L]             CONSUMIDOR NAO DEFINIDO            |
[L] ------------------------------------------------
[L] COD_VND(INTERNO): 000123-01
)" + kVendorTotals + R"([CUT PARTIAL]
)");
}

TEST_F(LayoutTest, EpsonReceipt) {
    const std::string out = usePrinter("EPSON");
    print(store(Consumer::Cnpj));
    EXPECT_EQ(golden(out), R"([L]   {B}LOJA TESTE
[L] RUA DAS FLORES
[L]     CNPJ:11.222.333/0001-81 IE:13.123.456-7    |
[L]               Fone:(65) 3322-1100              |
[L] ------------------------------------------------
)" + itemBlock("[L B]") + R"([L] ------------------------------------------------
[L]
[C B CD] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[L]   Não permiti aproveitamento de crédito de ICMS |
[L]   www.nfe.fazenda.gov.br NFCe n: 000000001234  |
[L] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[L] ------------------------------------------------
[L]
[L]                 CHAVE DE ACESSO                |
[QR M 5 C] <QR>
[L B CD]  |
[C B CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L] ------------------------------------------------
[L] CONSUMIDOR: PADARIA EXEMPLO LTDA
[L] CNPJ/CPF: 45723174000110
[L] ------------------------------------------------
)" + kVendorTotals + R"([CUT]
)");
}

// Every family prints the document's own amounts: VALOR TOTAL its vNF, the discount its vDesc, VALOR PAGO
// the sum of its payments, TROCO its change, the approximate taxes its vTotTrib when it carries one, else
// the 3,70 % rate of its vNF; each item row its unit price (vUnCom, to the digits shown), its discount and
// its value (vProd less the discount on the receipt printers, vProd on A4); the item block's total the
// sum of its rows.
TEST_F(LayoutTest, MoneyLinesAreTheDocumentsAmounts) {
    const auto value = [](const std::string& in, const std::string& tag) {
        const std::size_t at = in.find("<" + tag + ">");
        return at == std::string::npos ? 0.0 : std::stod(testing::between(in.substr(at), "<" + tag + ">", "</" + tag + ">"));
    };
    const std::string totals = testing::between(xml(), "<total>", "</total>");
    double paid = 0;
    for (std::size_t at = xml().find("<vPag>"); at != std::string::npos; at = xml().find("<vPag>", at + 1))
        paid += value(xml().substr(at), "vPag");
    const struct {
        const char* label;
        double amount;
    } expected[] = {{"VALOR TOTAL R$", value(totals, "vNF")},
                    {"VALOR DESCONTOS R$", value(totals, "vDesc")},
                    {"VALOR PAGO R$", paid},
                    {"TROCO R$", value(xml(), "vTroco")}};
    for (const std::string family : {"DARUMA", "BEMATECH", "EPSON", "VOX", "A4"}) {
        for (const double ownTax : {0.0, 4.12}) {
            const std::string text = receiptText(
                family, store(Consumer::Named, ownTax ? Edits{{"</vNF>", "</vNF><vTotTrib>4.12</vTotTrib>"}} : Edits{}));
            SCOPED_TRACE(family + "\n" + text);
            for (const auto& e : expected) EXPECT_NEAR(amountAfter(text, e.label), e.amount, 0.001) << e.label;
            EXPECT_NEAR(amountAfter(text, "Trib"), ownTax ? ownTax : std::round(value(totals, "vNF") * 3.70) / 100, 0.001);
            double rows = 0;
            for (int i = 1;; ++i) {
                const std::string item = testing::between(xml(), "<det nItem=\"" + std::to_string(i) + "\">", "</det>");
                if (item.empty()) break;
                const double discount = value(item, "vDesc"), itemValue = value(item, "vProd") - (family == "A4" ? 0 : discount);
                rows += itemValue;
                // The row ends with the unit price, the discount and the value: on the receipt printers on
                // the line after the item's name, on A4 on the name's own line.
                std::size_t at = text.find(testing::between(item, "<xProd>", "</xProd>"));
                ASSERT_NE(at, std::string::npos) << i;
                if (family != "A4") at = text.find('\n', at) + 1;
                std::istringstream row(text.substr(at, text.find('\n', at) - at));
                const std::vector<std::string> words{std::istream_iterator<std::string>(row), {}};
                ASSERT_GE(words.size(), 3u) << i;
                const std::string& unit = words[words.size() - 3];
                const std::size_t decimals = unit.find('.') == std::string::npos ? 0 : unit.size() - unit.find('.') - 1;
                EXPECT_NEAR(number(unit), value(item, "vUnCom"), 0.5 * std::pow(10.0, -static_cast<double>(decimals)) + 1e-9) << i;
                EXPECT_NEAR(number(words[words.size() - 2]), discount, 0.001) << i;
                EXPECT_NEAR(number(words.back()), itemValue, 0.001) << i;
            }
            if (family != "A4") {
                EXPECT_NEAR(amountAfter(text, "VALOR TOTAL:"), rows, 0.001);
            }
        }
    }
}

// The short form keeps the emitter's name and CNPJ/IE; a contingency receipt keeps the emitter and the
// totals and says it awaits authorisation; a homologation receipt says so without any item. Every family.
TEST_F(LayoutTest, ShortFormContingencyAndHomologationCarryTheRequiredTexts) {
    folder.setSetting("incluioperacao", "0");
    for (const std::string family : {"DARUMA", "BEMATECH", "EPSON", "VOX", "A4"}) {
        folder.setSetting("OmitirCabecalho", "1");
        std::string text = receiptText(family, store(Consumer::CpfOnly));
        SCOPED_TRACE(family + " short form\n" + text);
        for (const char* part : {"LOJA TESTE", "11.222.333/0001-81", "CNPJ/CPF: 52998224725", "Trib"})
            EXPECT_NE(text.find(part), std::string::npos) << part;
        // A4 has no short form, and always its item table.
        for (const char* part : {"RUA DAS FLORES", "VALOR TOTAL R$", "PAO FRANCES"})
            EXPECT_EQ(text.find(part) == std::string::npos, family != "A4") << part;
        for (const char* part : {kContingencyNotice, kHomologationNotice}) EXPECT_EQ(text.find(part), std::string::npos) << part;

        folder.setSetting("OmitirCabecalho", "");
        text = receiptText(family, storeContingency({{"<tpAmb>1</tpAmb>", "<tpAmb>2</tpAmb>"}}), "1");
        SCOPED_TRACE(family + " contingency in homologation\n" + text);
        for (const char* part : {"LOJA TESTE", "11.222.333/0001-81", "RUA DAS FLORES", "NFC-e emitida em contigência",
                                 kContingencyNotice, kPendingNotice, kHomologationNotice, "VALOR TOTAL R$", "VALOR PAGO R$"})
            EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

// The receipt families' lines fit their printable columns (48 of font A, 64 condensed): the printer
// never has to break a line it was sent, whatever the document (the ordinary sale is the goldens'; here a
// contingency sale in homologation, with every notice, the longest consultation address, 60-character
// shop and consumer names and 60 items of 120-character accented names). A longer text is wrapped.
TEST_F(LayoutTest, ReceiptLinesFitTheirPrintableColumns) {
    const std::string sixty = "MERCEARIA E PADARIA SÃO JOÃO DA BOA VISTA DO NORTE DE CUIABÁ";
    ASSERT_EQ(document::characterCount(sixty), 60u);
    const std::string path = storeItems(60, "AÇÚCAR ORGÂNICO " + std::string(104, 'N'),
                                        {{"<tpAmb>1</tpAmb>", "<tpAmb>2</tpAmb>"},
                                         {"<xFant>LOJA TESTE</xFant>", "<xFant>" + sixty + "</xFant>"},
                                         {"<xLgr>RUA DAS FLORES</xLgr>", "<xLgr>" + sixty + "</xLgr>"},
                                         {"<xNome>MARIA DA SILVA</xNome>", "<xNome>" + sixty + "</xNome>"}});
    folder.setSetting("EnderecoConsultaNFCe", longestAddress());
    for (const std::string family : {"DARUMA", "BEMATECH", "EPSON"}) {
        const std::string out = usePrinter(family);
        std::filesystem::remove(out);
        print(path, "1");
        std::set<std::string> broken;
        for (const receipt::PrintedLine& line : receipt::readEscPos(readFile(out)).lines)
            if (line.brokenAtEdge) broken.insert(line.text);
        EXPECT_THAT(broken, ::testing::IsEmpty()) << family;
    }
}

// From model 7 on, the QR code is a downloaded bitmap, without the "CHAVE DE ACESSO" title.
TEST_F(LayoutTest, BematechModelSevenPrintsTheQrCodeAsABitmap) {
    const std::string out = usePrinter("BEMATECH");
    folder.setSetting("ModeloBematech", "7 MP-4200");
    print(store());
    const std::string text = printed(out);
    EXPECT_EQ(text.find("CHAVE DE ACESSO"), std::string::npos) << text;
    EXPECT_NE(text.find("[IMAGE"), std::string::npos) << text;
    EXPECT_EQ(text.find("[QR"), std::string::npos) << text;
    EXPECT_EQ(decodedQr(out), qrText() + "\n");
    EXPECT_TRUE(std::filesystem::exists(qrImagePath(ctx())));
}

// The VOX page as a viewer reads it back: nothing past the 80 mm width and no text under the QR, with a
// version-10 QR (a long consultation address), a 120-character product name and the contingency line.
TEST_F(LayoutTest, VoxPageKeepsEveryDrawingInsideThePaperAndApart) {
    usePrinter("VOX");
    const std::string pdf = folder.path() + "/vox.pdf";
    devices::Printer().setDefaultPrinter("file:" + pdf);
    const std::string longName(120, 'N');
    const std::string path = store(Consumer::Anonymous, {{"PAO FRANCES", longName}});
    const std::string qr = longestQr();
    ASSERT_GT(qr.size(), 180u) << "past version 9 at level M";
    ASSERT_LE(qr.size(), 213u) << "within version 10 at level M";
    ImprimeNFCe(ctx(), "0", "000123-01", "1234", path, key(), qr, "1");
    const std::string check = layoutCheck(pdf);
    EXPECT_THAT(check, ::testing::EndsWith("status 0\n")) << check;
    EXPECT_THAT(check, ::testing::HasSubstr("\npicture ")) << check;
    EXPECT_EQ(decodedQr(pdf), qr + "\n");
    // Wrapped, not cut: the long texts are all there (the shop and the items are the other tests').
    const std::string text = run("pdftotext " + pdf + " - | tr -d '\\n'");
    for (const std::string& whole : {longName, longestAddress(), std::string("NFC-e emitida em contigência"),
                                     std::string("DANFE NFC-e NF DO CONSUMIDOR ELETRONICA"),
                                     std::string("Não permiti aproveitamento de crédito"), std::string("CONSUMIDOR NAO IDENTIFICADO")})
        EXPECT_NE(text.find(whole), std::string::npos) << whole << "\n" << text;
}

// The A4 pages as a viewer reads them back, with 60 items of 120-character accented names and 13-digit
// codes, and the longest consultation address, over several sheets: nothing past the page's width or
// bottom, no text over another (each name wraps inside the description column, each code inside CODIGO_I, the other columns
// keep their places), every name printed to its last word, and the address under its title.
TEST_F(LayoutTest, A4PagesKeepEveryDrawingInsideThePaperAndApart) {
    const std::string pdf = folder.path() + "/a4.pdf";
    usePrinter("file:" + pdf);
    folder.setSetting("LOGONFCE", folder.path() + "/missing-logo.bmp");  // a missing logo is left out
    const std::string name = "AÇÚCAR CRISTAL ORGÂNICO PÃO DE QUEIJO MINEIRO CAFÉ TORRADO E MOÍDO EXTRAFORTE FEIJÃO "
                             "CARIOCA TIPO 1 LIMÃO AVEIA XX FINAL";
    ASSERT_EQ(document::characterCount(name), 120u);
    const std::string path = storeItems(60, name);
    const std::string qr = longestQr();
    ImprimeNFCe(ctx(), "0", "000123-01", "1234", path, key(), qr, "0");
    const std::string check = layoutCheck(pdf);
    EXPECT_THAT(check, ::testing::EndsWith("status 0\n")) << check;
    EXPECT_THAT(check, ::testing::HasSubstr("\npicture ")) << check;
    const std::string text = run("pdftotext " + pdf + " -");
    std::size_t finals = 0;
    for (std::size_t at = text.find(" FINAL"); at != std::string::npos; at = text.find(" FINAL", at + 1)) ++finals;
    EXPECT_EQ(finals, 60u) << text;
    EXPECT_THAT(run("pdfinfo " + pdf), ::testing::ContainsRegex("Pages: +[2-9]")) << "past the first sheet";
    EXPECT_THAT(text, ::testing::HasSubstr("Consulte pela Chave de Acesso em:\n" + longestAddress() + "\n")) << text;
    // The emitter, consumer, protocol, date and number as A4 lays them out (the shop's name: the short-form case).
    for (const char* line : {"11.222.333/0001-81 - 13.123.456-7", "RUA DAS FLORES, CENTRO",
                             "CUIABA, CEP: 78.005-000, FONE: (65) 3322-1100", "NOME: MARIA DA SILVA",
                             "Protocolo: 2026-03-05T14:07:12-04:00 151260000000123", "www.nfe.fazenda.gov.br - 05-mar-26",
                             "CHAVE DE ACESSO - NFC-e Nº 000.001.234 VIA CONSUMIDOR"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(decodedQr(pdf), qr + "\n");
}

// A QR code that cannot be made fails its receipt: nothing reaches the printer, the operator is told once
// how to print it again, and neither paper nor window shows the previous one. The receipt families all
// refuse it before their layouts (VOX is their row); A4 makes its own picture.
TEST_F(LayoutTest, AQrCodeThatCannotBeMadeFailsItsReceiptAndShowsNoOtherOne) {
    const std::string pdf = folder.path() + "/page.pdf", path = store();
    receiptText("VOX", path);  // a good receipt first: its QR code is the one never to show again
    ASSERT_FALSE(ctx().mainWindow.ImgNFCE.fileBytes.empty());
    std::size_t told = monitor.messageTexts().size();
    for (const std::string family : {"VOX", "A4"}) {
        usePrinter(family == "A4" ? "file:" + pdf : family);
        if (family == "VOX") devices::Printer().setDefaultPrinter("file:" + pdf);
        std::filesystem::remove(pdf);
        ImprimeNFCe(ctx(), "0", "000123-01", "1234", path, key(), std::string(8000, 'x'), "0");
        EXPECT_FALSE(std::filesystem::exists(pdf)) << family;
        EXPECT_TRUE(ctx().mainWindow.ImgNFCE.fileBytes.empty()) << family;
        ASSERT_EQ(monitor.messageTexts().size(), ++told) << family;
        EXPECT_NE(monitor.messageTexts().back().find("--reprint " + key()), std::string::npos) << monitor.messageTexts().back();
    }
    EXPECT_FALSE(std::filesystem::exists(qrImagePath(ctx())));
    const std::string log = readFile(folder.logPath());
    EXPECT_NE(log.find("Erro ao gerar Imagem QRCODE"), std::string::npos) << log;
}

// A reprint asked for on the panel runs between polls, and the VOX layout's pauses pass the message loop:
// a poll started there would emit a sale inside the half-printed receipt, on the same printer and data.
TEST_F(LayoutTest, NoPollStartsWhileThePanelReprints) {
    usePrinter("VOX");
    devices::Printer().setDefaultPrinter("file:" + folder.path() + "/page.pdf");
    store();
    ctx().db = folder.connect();
    ctx().mainWindow.Timer1.enabled = true;
    std::vector<bool> pollsAllowed;
    ctx().services.loop.post([&] { pollsAllowed.push_back(ctx().mainWindow.Timer1.enabled); });
    monitor::ShopDashboard dashboard(ctx(), folder.path() + "/certificados");
    dashboard.requestReprint(key());
    dashboard.gather();
    EXPECT_EQ(dashboard.lastNote(), "DANFE NFC-e " + key() + " impresso novamente");
    EXPECT_EQ(pollsAllowed, std::vector<bool>{false});
    EXPECT_TRUE(ctx().mainWindow.Timer1.enabled);
}

}  // namespace
}  // namespace quorvanti::printing
