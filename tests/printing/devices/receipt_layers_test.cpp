// The receipt-printer layers seen from the paper: code pages, and each vendor library's calls printed
// to a file port and read back by the ESC/POS reader into golden texts.
#include <gtest/gtest.h>
#include <qrencode.h>

#include <algorithm>
#include <tuple>
#include <memory>
#include <vector>

#include "printing/devices/bematech_mp2032.h"
#include "printing/devices/code_page.h"
#include "printing/devices/daruma_framework.h"
#include "printing/devices/epson_interface.h"
#include "printing/devices/escpos_commands.h"
#include "receipt/escpos_reader.h"
#include "support/temp_dir.h"

namespace quorvanti::printing::devices {
namespace {

using quorvanti::testing::readFile;
using quorvanti::testing::TempDir;

const std::string kQr =
    "https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx?p=43240612345678000190650010000001231000001234|2|1|1|"
    "5A1B2C3D4E5F60718293A4B5C6D7E8F901234567";
const std::string kKey = "4324 0612 3456 7800 0190 6501 0000 0012 3100 0001 2344";

TEST(CodePages, PortugueseWordsRoundTripAndMissingCharactersDegrade) {
    for (const auto& [page, name, nao] : {std::tuple{CodePage::Cp850, "cp850", "N\xC6o"}, std::tuple{CodePage::Cp860, "CP860", "N\x84o"},
                                          std::tuple{CodePage::Windows1252, "Windows-1252", "N\xE3o"}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codePageNamed(name), page);
        EXPECT_EQ(encodeText("Não", page), nao);
        for (const std::string word : {"Não", "crédito", "nº 12", "ç", "CONSUMIDOR", "AÇÃO ÓTIMA"})
            EXPECT_EQ(decodeText(encodeText(word, page), page), word) << word;
        // Commands pass; what the page lacks prints as its plain letter or "?"; broken UTF-8 as "?".
        EXPECT_EQ(encodeText("\x1b" "a\x01", page), "\x1b" "a\x01");
        EXPECT_EQ(encodeText("ŝ中", page), "s?");
        EXPECT_EQ(encodeText("a\xff" "b\xc3", page), "a?b?");
    }
    EXPECT_FALSE(codePageNamed("CP437"));
    EXPECT_EQ(selectCodePage(CodePage::Cp860), std::string("\x1bt\x03"));
    EXPECT_EQ(encodeText("€", CodePage::Cp850), "EUR");
}

class ReceiptLayers : public ::testing::Test {
protected:
    DeviceSettings settings(CodePage page) {
        DeviceSettings s;
        s.darumaPort = port();
        s.darumaCodePage = s.bematechCodePage = s.epsonCodePage = page;
        return s;
    }
    std::string port() const { return "file:" + dir.file("printed.bin"); }
    receipt::PrintedReceipt printed() const { return receipt::readEscPos(readFile(dir.file("printed.bin"))); }
    std::string golden() const { return receipt::goldenText(printed()); }

    TempDir dir;
};

// The tags the Daruma receipt uses are its golden's; here accents in CP860, a style changed inside a
// line, a right-aligned line, and what is no tag printed as it stands.
TEST_F(ReceiptLayers, DarumaMarkup) {
    DarumaFramework daruma(settings(CodePage::Cp860));
    const std::string markup = "<ce><b><i><da>MERCADO SÃO JOÃO</da></i></b></ce>\r\n"
                               "<ce><c>NFC-e não permiti aproveitamento de crédito de ICMS</c></ce>\r\n"
                               "<b><n>CNPJ/CPF: 123</n> ok</b>\r\n<ad>R$ 9,00</ad>\r\n<x>nº</x> 3 < 4\r\n<gui></gui> ";
    ASSERT_EQ(daruma.iImprimirTexto_DUAL_DarumaFramework(markup, 0), 1) << daruma.lastProblem();
    EXPECT_EQ(printed().codePage, "CP860");
    EXPECT_EQ(golden(), "[C B I DH] MERCADO SÃO JOÃO\n"
                        "[C CD] NFC-e não permiti aproveitamento de crédito de ICMS\n"
                        "[L] CNPJ/CPF: 123{B} ok\n"
                        "[R] R$ 9,00\n"
                        "[L] <x>nº</x> 3 < 4\n"
                        "[CUT]\n");
}

TEST_F(ReceiptLayers, BematechCallsAsTheLayoutMakesThem) {
    DarumaFramework qrBitmap(settings(CodePage::Cp850));
    ASSERT_EQ(qrBitmap.eGerarQrCodeArquivo_DUAL_DarumaFramework(dir.file("qrcode.bmp"), kQr), 1);
    const std::string centre = "\x1b\x61\x01", left = std::string("\x1b\x61\x00", 3);

    BematechMp2032 bematech(settings(CodePage::Cp850));
    EXPECT_EQ(bematech.FormataTX("x", 3, 0, 0, 0, 0), 0) << "nothing prints before IniciaPorta";
    EXPECT_EQ(bematech.FechaPorta(), 1);
    EXPECT_EQ(bematech.ConfiguraModeloImpressora(0), 1);
    ASSERT_EQ(bematech.IniciaPorta(port()), 1) << bematech.lastProblem();
    // Every call answers 1 but the unknown letter type and the missing bitmap (at most 0, read as 0);
    // the braces call them in order.
    const std::vector<int> codes = {
        bematech.AjustaLarguraPapel(80), bematech.ComandoTX(centre, 3),
        bematech.FormataTX("MERCADO SÃO JOÃO\r\n", 3, 0, 0, 0, 1), bematech.FormataTX("Rua da Conceição, 10\r\n", 3, 0, 0, 0, 0),
        bematech.ComandoTX(left, 3), bematech.FormataTX(std::string(48, '-') + "\r\n", 3, 0, 0, 0, 0),
        bematech.ComandoTX(centre, 3), bematech.ImprimeCodigoQRCODE(2, 4, 0, 9, 1, kQr),
        bematech.FormataTX(kKey + "\r\n", 1, 0, 0, 0, 0), bematech.DefineDLBitmap(dir.file("qrcode.bmp")),
        bematech.PrintDLBitmap(0), bematech.ComandoTX(left, 3), bematech.FormataTX("Crédito\r\n", 3, 1, 1, 1, 0),
        bematech.FormataTX("fim\r\n", 9, 0, 0, 0, 0), bematech.DefineDLBitmap(dir.file("missing.bmp")) > 0,
        bematech.AcionaGuilhotina(1), bematech.FechaPorta(), bematech.FechaPorta()};
    EXPECT_EQ(codes, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 1}));
    EXPECT_EQ(golden(),
              "[C B] MERCADO SÃO JOÃO\n"
              "[C] Rua da Conceição, 10\n"
              "[L] ------------------------------------------------\n"
              "[QR M 5 C] " + kQr + "\n"
              "[C CD] " + kKey + "\n"
              "[IMAGE 248x245 C]\n"
              "[L I U DW] Crédito\n"
              "[CUT PARTIAL]\n");
}

TEST_F(ReceiptLayers, EpsonCallsWithTaggedQrCode) {
    EpsonInterface epson(settings(CodePage::Windows1252));
    ASSERT_EQ(epson.IniciaPorta(port()), 1) << epson.lastProblem();
    const std::vector<int> codes = {
        epson.ImprimeTexto(" "), epson.ImprimeTexto(" "), epson.ImprimeTextoTag("<ce><b>MERCADO</b></ce>\r\n"),
        epson.ImprimeTextoTag("<c><ce><b>DANFE NFC-e</b></ce></c>\r\n"),
        epson.ImprimeTexto(std::string(30, 'A') + std::string(30, 'B') + "\r\n"),
        epson.ImprimeTextoTag("<ce><qrcode>" + kQr + "<lmodulo>3</lmodulo></qrcode></ce>"), epson.FormataTX(" \r\n", 1, 1, 1, 0, 1),
        epson.ImprimeTextoTag("<c><ce><b>" + kKey + "</b></ce></c>\r\n"), epson.ImprimeTextoTag("<i>não é tag</i>\r\n"),
        epson.ImprimeTextoTag("<ce><qrcode><lmodulo>3</lmodulo></qrcode></ce>"),  // empty QR code: 0
        epson.AcionaGuilhotina(0), epson.FechaPorta()};
    EXPECT_EQ(codes, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1}));
    EXPECT_EQ(printed().codePage, "WINDOWS-1252");
    EXPECT_EQ(golden(),
              "[L]   {B}MERCADO\n"
              "[C B CD] DANFE NFC-e\n"
              "[L] AAAAAAAAAAAAAAAAAAAAAAAAAAAAAABBBBBBBBBBBBBBBBBB\n"
              "[L] BBBBBBBBBBBB\n"
              "[QR M 5 C] " + kQr + "\n"
              "[L B I U CD]  |\n"
              "[C B CD] " + kKey + "\n"
              "[L] <i>não é tag</i>\n"
              "[CUT]\n");
}

TEST(QrCodes, LevelMAndAtLeast25MillimetresWhateverTheRequestedModule) {
    for (const auto& [payload, requested] : std::initializer_list<std::pair<std::string, int>>{
             {"1", 3}, {kQr, 3}, {kQr, 4}, {kQr, 16}, {std::string(900, 'x'), 4}}) {
        EscPosJob job(CodePage::Cp850);
        job.start();
        ASSERT_TRUE(job.qrCode(payload, requested));
        const auto lines = receipt::readEscPos(job.bytes()).lines;
        ASSERT_EQ(lines.size(), 1u);
        // The symbol as an encoder draws it (libqrencode, as the preview does).
        std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
            QRcode_encodeString(payload.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
        ASSERT_TRUE(code);
        const int modules = code->width;
        EXPECT_EQ(lines[0].text, payload);
        EXPECT_EQ(lines[0].qrErrorLevel, 'M');
        EXPECT_GE(lines[0].qrModuleDots * modules, 25 * 8) << payload.size() << " bytes";
        EXPECT_LE(lines[0].qrModuleDots * modules, kPaper80mmDots);
        EXPECT_GE(lines[0].qrModuleDots, std::min(requested, kPaper80mmDots / modules));
    }
    EscPosJob job(CodePage::Cp850);
    EXPECT_FALSE(job.qrCode("", 4));
    EXPECT_FALSE(job.qrCode(std::string(8000, 'x'), 4));
    EXPECT_TRUE(job.bytes().empty());
}

}  // namespace
}  // namespace quorvanti::printing::devices

namespace quorvanti::receipt {
namespace {

// The reader as the printer behaves: what other programs (and a damaged file) send, not only our builder.
TEST(EscPosReader, ReadsBytesAsThePrinterPrintsThem) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string golden;
    };
    const std::string GS = "\x1d", ESC = "\x1b";
    const std::string band = GS + "v0" + std::string("\0\x01\0\x02\0", 5) + "\xff\x81";
    for (const Case& c : std::initializer_list<Case>{
             {"code page", ESC + "t\x10" + "S\xe3o\r\n", "[L] São\n"},
             {"wrap font A / B", std::string(50, 'a') + "\n" + ESC + "M1" + std::string(66, 'b') + "\n",
              "[L] " + std::string(48, 'a') + "\n[L] aa\n[L CD] " + std::string(64, 'b') + "\n[L CD] bb\n"},
             {"alignment mid-line ignored", "ab" + ESC + "a\x01" + "cd\n" + ESC + "a2" + "ef\n", "[L] abcd\n[R] ef\n"},
             {"ESC ! and GS !", ESC + "!\x38" + "X" + ESC + "!" + std::string(1, '\0') + GS + "!\x11" + "Y\n",
              "[L B DH DW] X{DH DW}Y\n"},
             {"feed lines", "a" + ESC + "d\x03", "[L] a\n[L]\n[L]\n"},
             {"raster bands make one image", ESC + "a1" + band + band, "[IMAGE 8x4 C]\n"},
             {"cuts", GS + "V" + std::string(1, '\0') + GS + "V1" + GS + "VB" + std::string(1, '\0'),
              "[CUT]\n[CUT PARTIAL]\n[CUT PARTIAL]\n"},
             {"unknown command", "a" + ESC + "z\n", "[L] a\n[?] byte 1: comando ESC 0x7A desconhecido\n"},
             {"truncated QR", "a\n" + GS + "(k\x10", "[L] a\n[?] byte 2: comando incompleto no fim dos dados\n"},
         }) {
        EXPECT_EQ(goldenText(readEscPos(c.bytes)), c.golden) << c.what;
    }
}

}  // namespace
}  // namespace quorvanti::receipt
