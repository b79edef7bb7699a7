// The receipt-printer layers seen from the paper: each vendor library's calls printed to a file port and
// read back by the ESC/POS reader into golden texts.
#include <gtest/gtest.h>
#include <qrencode.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <memory>

#include "printing/devices/bematech_mp2032.h"
#include "printing/devices/code_page.h"
#include "printing/devices/device_settings.h"
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

// The tags and calls the layouts use are the receipt goldens' (which print in the default CP850, and
// answer the layers' failures); here each layer prints in the code page printers.ini gives it, and a page
// the file names wrongly is told and the default kept. (What a page lacks is never in a document: the
// groups fit every text to the layout's characters before it is signed.)
TEST(ReceiptLayers, EachLayerPrintsInTheCodePagePrintersIniGivesIt) {
    TempDir dir;
    const std::string port = "file:" + dir.file("printed.bin");
    std::string problem;
    quorvanti::testing::writeFile(dir.file("printers.ini"), "[DARUMA]\r\nPort=" + port + "\r\nCodePage=cp860\r\n"
                                  "[BEMATECH]\r\nCodePage=CP1252\r\n[EPSON]\r\nCodePage=CP437\r\n");
    const DeviceSettings settings = readDeviceSettings(dir.path(), &problem);
    EXPECT_NE(problem.find("[EPSON] CodePage=CP437"), std::string::npos) << problem;
    const std::string text = "MERCADO SÃO JOÃO: não é crédito, ação nº 12\r\n";
    for (const auto& [family, named] : {std::pair{"DARUMA", "CP860"}, {"BEMATECH", "WINDOWS-1252"}, {"EPSON", "CP850"}}) {
        SCOPED_TRACE(family);
        std::filesystem::remove(dir.file("printed.bin"));
        if (std::string(family) == "DARUMA") {
            EXPECT_EQ(DarumaFramework(settings).iImprimirTexto_DUAL_DarumaFramework(text, 0), 1);
        } else if (std::string(family) == "BEMATECH") {
            BematechMp2032 bematech(settings);
            ASSERT_EQ(bematech.IniciaPorta(port), 1) << bematech.lastProblem();
            EXPECT_EQ(bematech.FormataTX(text, 3, 0, 0, 0, 0), 1);
            EXPECT_EQ(bematech.FechaPorta(), 1);
        } else {
            EpsonInterface epson(settings);
            ASSERT_EQ(epson.IniciaPorta(port), 1) << epson.lastProblem();
            EXPECT_EQ(epson.ImprimeTexto(text), 1);
            EXPECT_EQ(epson.FechaPorta(), 1);
        }
        const receipt::PrintedReceipt printed = receipt::readEscPos(readFile(dir.file("printed.bin")));
        EXPECT_EQ(printed.codePage, named);
        EXPECT_EQ(receipt::goldenText(printed), "[L] MERCADO SÃO JOÃO: não é crédito, ação nº 12\n");
    }
}

TEST(QrCodes, LevelMAndAtLeast25MillimetresWhateverTheRequestedModule) {
    for (const auto& [payload, requested] : std::initializer_list<std::pair<std::string, int>>{
             {"1", 3}, {kQr, 3}, {kQr, 16}, {std::string(900, 'x'), 4}}) {
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

// The reader as the printer behaves where the layout tests count on it. Code pages, styles, alignment,
// pictures, feeds and cuts are the receipt goldens' and the code-page case's.
TEST(EscPosReader, ReadsBytesAsThePrinterPrintsThem) {
    // A line past the paper wraps at 48 columns of font A, 64 condensed.
    EXPECT_EQ(goldenText(readEscPos(std::string(50, 'a') + "\n\x1bM1" + std::string(66, 'b') + "\n")),
              "[L] " + std::string(48, 'a') + "\n[L] aa\n[L CD] " + std::string(64, 'b') + "\n[L CD] bb\n");
    // The mark the line-width case counts on: a line the printer broke, not one that fills the paper.
    EXPECT_TRUE(readEscPos(std::string(49, 'a') + "\n").lines[0].brokenAtEdge);
    EXPECT_FALSE(readEscPos(std::string(48, 'a') + "\n").lines[0].brokenAtEdge);
}

}  // namespace
}  // namespace quorvanti::receipt
