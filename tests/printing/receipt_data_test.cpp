// The front half of printing: the readers of the stored document, the record they fill, the item block
// and the routing of a job to its layout.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/program_exit.h"
#include "document/text/text_helpers.h"
#include "printing/devices/printer_object.h"
#include "printing/receipt_text.h"
#include "printing/thermal_layout.h"
#include "printing_world.h"
#include "startup/reprint.h"

namespace quorvanti::printing {
namespace {

using testing::readFile;
using testing::writeFile;

// What the receipts print through these is the goldens' and the money test's (centred lines of accented
// texts, rounded either way, and right-aligned ones, amounts below a thousand with their comma, the document
// number, a 13-digit code, a unit price rounded, the tax rate read the regional way); here their edges.
TEST_F(PrintingTest, TextProceduresKeepTheColumnsOfTheOriginal) {
    EXPECT_EQ(Centraliza("ABCDEF", 5), "ABCDEF");  // one past the width: whole
    // Wrapped to the columns: a line at the width stays whole (the first row's first line); one past it
    // breaks at the last blank that fits, inside a word longer than the line, each line of a text of
    // several; characters, not bytes; leading blanks are no place to break.
    const struct {
        const char* text;
        int width;
        const char* expected;
    } wraps[] = {{"AB\r\nCDEF", 2, "AB\r\nCD\r\nEF"}, {"AAA BBBB", 7, "AAA\r\nBBBB"},
                 {"ÇÃO ÇÃO", 3, "ÇÃO\r\nÇÃO"},         {"  ABCDEF", 4, "  AB\r\nCDEF"}};
    for (const auto& w : wraps) EXPECT_EQ(wrapColumns(w.text, w.width), w.expected) << w.text;
    EXPECT_EQ(rightInColumn("0.4500000000", 10), "0.4500000000");  // longer values whole
    // Rounded from the value's decimal digits (-2.005 is a little less in binary), without a minimum of
    // integer digits, grouped.
    const struct {
        double value;
        const char *pattern, *expected;
    } numbers[] = {{0.5, "#######.00", ",50"}, {-2.005, "###0.00", "-2,01"}, {1234567.891, "##,#0.00", "1.234.567,89"}};
    for (const auto& n : numbers) EXPECT_EQ(formatNumber(n.value, n.pattern), n.expected) << n.value;
    EXPECT_EQ(formatText("ABC-1", "0000000000"), "ABC-1");  // a code that is no number (longer ones: the goldens)
    // Quantities and unit prices shortened to their column: at the width whole, zeros first (down to the
    // decimals, not into digits past them), then rounded, never wider (one past after rounding: no decimals).
    const struct {
        const char* value;
        int width, decimals;
        const char* expected;
    } fits[] = {{"0.4500", 6, 3, "0.4500"}, {"20.0000000000", 10, 2, "20.00"}, {"0.0350000000", 9, 2, "0.035"},
                {"123456.1234", 9, 3, "123456"}};
    for (const auto& f : fits) EXPECT_EQ(fitDecimal(f.value, f.width, f.decimals), f.expected) << f.value;
}

// The values the receipts print are the goldens' and the money test's; here what they cannot show: each
// value is read inside its own group (a shop without a phone shows none, not its customer's), payments
// add up, a contingency file gives its emission time, and the window shows the document.
TEST_F(PrintingTest, TheRecordHoldsTheStoredDocumentsValues) {
    usePrinter("EPSON");
    print(store(Consumer::Named, {{"<fone>6533221100</fone>", ""},
                                  {"</xNome><indIEDest>", "</xNome><enderDest><fone>65999990000</fone></enderDest><indIEDest>"},
                                  {"<detPag>", "<detPag><tPag>03</tPag><vPag>10.00</vPag></detPag><detPag>"}}));
    const ReceiptData& r = receiptData();
    EXPECT_EQ(r.EmitterPhone, "");
    EXPECT_EQ(xmlDecimal(r.PaidValue), xmlDecimal(testing::between(xml(), "<vPag>", "</vPag>")) + 10);
    EXPECT_EQ(r.ItemCount, 3);
    EXPECT_EQ(ctx().mainWindow.rtfb.substr(0, 9), "<?xml ver");
    print(storeContingency(), "1");
    EXPECT_EQ(receiptData().ProtocolLine, "NFC-e emitida em contigência 2026-03-05T14:07:09-04:00");
}

TEST_F(PrintingTest, RoutingIsWholeWordEqualityAfterUpperCasing) {
    const std::string out = usePrinter("epson");
    print(store());
    EXPECT_TRUE(monitor.captioned("Impressora Termica"));
    EXPECT_FALSE(receipt::readEscPos(readFile(out)).lines.empty());

    // A model name after the word is a printer name: the A4 path, on that printer for the job. Unknown
    // to the server, it is this receipt's failure, never a job on the printer addressed before.
    devices::Printer().setDefaultPrinter("file:" + folder.path() + "/before.pdf");
    usePrinter("EPSON TM-T20");
    print(store());
    EXPECT_TRUE(monitor.captioned("Em Impressora A4 -> EPSON TM-T20"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/before.pdf"));
    EXPECT_EQ(devices::Printer().DeviceName(), "file:" + folder.path() + "/before.pdf");
    ASSERT_EQ(monitor.messageTexts().size(), 1u);
    EXPECT_NE(monitor.messageTexts()[0].find("\"EPSON TM-T20\""), std::string::npos) << monitor.messageTexts()[0];
}

// Point-of-sale printing returns before the printer (the emission routine test's caption of that return);
// here the marker of a document printed before.
TEST_F(PrintingTest, TheSkipMarkerLeavesThePrinterAlone) {
    const std::string out = usePrinter("EPSON");
    print(store(), "0", "1");
    EXPECT_TRUE(monitor.frontend.captionsOf("Label1").empty());
    EXPECT_FALSE(std::filesystem::exists(out));
}

// The monitor's fault tests see the log line of every failed receipt, the one notice and the reprint for
// one printer; here each family names its printer, and a failure after the printer came back is told again.
TEST_F(PrintingTest, EachFamilyNamesItsPrinterAndAFailureAfterItCameBackIsToldAgain) {
    const std::string device = folder.path() + "/lp0";  // a printer that comes and goes
    for (const std::string family : {"DARUMA", "BEMATECH", "EPSON", "A4"}) {
        SCOPED_TRACE(family);
        const std::size_t earlier = monitor.messageTexts().size();
        printModule() = PrintModule{};
        usePrinter(family == "A4" ? "sem-fila" : family);
        folder.setSetting("PortaBematech", device);
        writeFile(folder.path() + "/printers.ini", "[DARUMA]\r\nPort=" + device + "\r\n");
        std::filesystem::remove(device);
        const std::string path = store();
        print(path);
        const std::string label = family == "A4" ? "A4 (impressora \"sem-fila\")" : family + " (porta " + device + ")";
        ASSERT_EQ(monitor.messageTexts().size(), earlier + 1);
        EXPECT_NE(monitor.messageTexts().back().find("na impressora " + label), std::string::npos);
        if (family == "A4") continue;  // no queue to bring back here: the CUPS rows are end to end
        writeFile(device, "");
        print(path);
        EXPECT_FALSE(readFile(device).empty());
        std::filesystem::remove(device);
        print(path);
        EXPECT_EQ(monitor.messageTexts().size(), earlier + 2);
    }
}

TEST_F(PrintingTest, ReprintTakesNumberAndQrFromTheFileAndTheSaleCodeFromTheDatabase) {
    const std::string out = usePrinter("EPSON");
    std::ostringstream errors;
    const auto reprint = [&](const std::string& key) { return startup::reprintNFCe(ctx(), key, errors); };
    EXPECT_EQ(reprint("123"), static_cast<int>(ExitStatus::UsageError));
    EXPECT_EQ(reprint(std::string(44, '9')), static_cast<int>(ExitStatus::ReprintUnknownKey));
    EXPECT_NE(errors.str().find("nenhuma NFC-e autorizada gravada com a chave " + std::string(44, '9')), std::string::npos);

    store(Consumer::Named);
    folder.execute("INSERT INTO nfce_gerada (numeronfce, cod_venda, chave) VALUES ('1234', 'VENDA-O''BRIEN', '" + key() + "')");
    ctx().settings.ReceiptPrinter.clear();  // the reprint reads its own settings
    EXPECT_EQ(reprint(key()), 0) << errors.str();
    EXPECT_EQ(receiptData().SaleCode, "VENDA-O'BRIEN");
    EXPECT_EQ(receiptData().QrText, qrText());
    EXPECT_EQ(receiptData().DocumentNumber, "000000001234");
    EXPECT_NE(printed(out).find("CONSUMIDOR: MARIA DA SILVA"), std::string::npos);

    folder.setSetting("PortaBematech", "/nonexistent/lp0");
    EXPECT_EQ(reprint(key()), static_cast<int>(ExitStatus::ReprintNotPrinted));
}

}  // namespace
}  // namespace quorvanti::printing
