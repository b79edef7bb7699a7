// The printer object's pages read back as a person or a scanner would (pdftotext, pdfinfo, zbarimg on
// the rendered page), and jobs through a real CUPS server (scripts/cups-test-server.sh; its socket in
// QUORVANTI_TEST_CUPS_SERVER, its output folder in QUORVANTI_TEST_CUPS_OUTPUT).
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "printing/devices/cups_queue.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_object.h"
#include "support/env_guard.h"
#include "support/environment_needs.h"
#include "support/temp_dir.h"

// Fontconfig's caches, filled by Cairo's and poppler's text, are unreachable at exit without
// FcFini, which a process that may still hold fonts cannot call; the leak checker of the
// sanitizer build skips them for this whole test program (one definition per program).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace quorvanti::printing::devices {
namespace {

using testing::readFile;

const char kQrText[] =
    "https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx?p=43261212345678000195650010000001231000001236|2|1|1|"
    "3A5F0C2B9D8E7F6A5B4C3D2E1F0A9B8C7D6E5F4A";

using testing::commandOutput;

std::string optionalVariable(const char* name) { return std::getenv(name) != nullptr ? std::getenv(name) : ""; }

// Whether a job file in `folder` (written whole by the server's back end) `matches`, waiting up to 30 s
// for the server to deliver it.
bool awaitJob(const std::string& folder, const std::function<bool(const std::string&)>& matches) {
    std::set<std::string> seen;  // each file looked at once: it is whole when it has its name
    for (int tries = 0; tries < 300; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        std::error_code none;
        for (const auto& entry : std::filesystem::directory_iterator(folder, none))
            if (entry.path().filename().string()[0] != '.' && seen.insert(entry.path()).second && matches(entry.path()))
                return true;
    }
    return false;
}

// The number and message of the PrinterError `action` raises; "" when it raises none.
std::string printerFault(const std::function<void()>& action) {
    try {
        action();
    } catch (const PrinterError& error) {
        return std::to_string(error.number) + " " + error.what();
    }
    return "";
}

class PrinterSurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.set("PRINTER", std::nullopt);
        env_.set("LPDEST", std::nullopt);
        // Never the machine's own server: the private one, or a socket nobody listens on.
        cupsSetServer(cupsServer_.empty() ? dir_.file("no-server.sock").c_str() : cupsServer_.c_str());
    }
    void TearDown() override { cupsSetServer(nullptr); }

    bool haveCups() const { return !cupsServer_.empty() && !cupsOutput_.empty(); }
    // A page written to a file of the temporary folder.
    void endDocTo(PrinterObject& printer, const std::string& path) {
        printer.setDefaultPrinter("file:" + path);
        printer.EndDoc();
    }

    testing::TempDir dir_;
    testing::EnvGuard env_;  // PRINTER and LPDEST as they were
    const std::string cupsServer_ = optionalVariable("QUORVANTI_TEST_CUPS_SERVER");
    const std::string cupsOutput_ = optionalVariable("QUORVANTI_TEST_CUPS_OUTPUT");
};

TEST_F(PrinterSurfaceTest, PagesHoldTheTextInTheFreeFontsAtThePapersWidth) {
    // The paper, its width in points and the font the PDF's font list names.
    for (const auto& [paper, widthPoints, expectedFont] : {std::tuple{Paper::Roll80mm, 226.75, "LiberationMono"},
                                                            std::tuple{Paper::A4, 595.3, "LiberationSansNarrow"}}) {
        SCOPED_TRACE(widthPoints);
        PrinterObject printer;
        printer.setPaper(paper);
        printer.FontName = paper == Paper::A4 ? "Arial Narrow" : "Courier New";
        printer.Print("DANFE NFC-e NF DO CONSUMIDOR ELETRONICA");
        printer.Print("Não permiti aproveitamento de crédito de ICMS");
        // A stray Windows-1252 byte from the shop's data is drawn as its letter, not the end of the page.
        printer.Print("CONSUMIDOR N\xc3O IDENTIFICADO");
        printer.Line(0, printer.CurrentY, printer.ScaleWidth() - 120, printer.CurrentY + 5, true);
        const double drawnTo = printer.CurrentY;
        const std::string path = dir_.file("page.pdf");
        endDocTo(printer, path);

        // pdfinfo's "Page size:" of the first page, in points.
        const std::string info = commandOutput("pdfinfo " + path);
        std::smatch size;
        ASSERT_TRUE(std::regex_search(info, size, std::regex(R"(size:\s+([0-9.]+) x ([0-9.]+) pts)"))) << info;
        const double width = std::stod(size[1]), height = std::stod(size[2]);
        EXPECT_NEAR(width, widthPoints, 0.1);
        EXPECT_DOUBLE_EQ(printer.ScaleWidth(), widthPoints * 20);
        if (paper == Paper::Roll80mm) {
            EXPECT_NEAR(height, drawnTo / 20 + 18, 1) << "as long as what was drawn, plus the margin";
        } else {
            EXPECT_NEAR(height, 841.9, 0.1);
        }
        EXPECT_EQ(commandOutput("pdftotext -layout " + path + " -"),
                  "DANFE NFC-e NF DO CONSUMIDOR ELETRONICA\n"
                  "Não permiti aproveitamento de crédito de ICMS\n"
                  "CONSUMIDOR NÃO IDENTIFICADO\n\f");
        EXPECT_NE(commandOutput("pdffonts " + path).find(expectedFont), std::string::npos);
    }
}

// The layout check finds what it is there for (the receipt tests rely on its silence): pictures past an
// A4 sheet's width and bottom, a picture over a text line, characters over characters.
TEST_F(PrinterSurfaceTest, LayoutCheckFindsDrawingsPastThePageOrOverAnother) {
    writeQrBitmap(dir_.file("qrcode.bmp"), kQrText);
    const Picture qr = loadPicture(dir_.file("qrcode.bmp"));
    const auto picture = [&](PrinterObject& p, double x, double y) { p.PaintPicture(qr, x, y, qr.widthTwips, qr.heightTwips); };
    const std::pair<std::string, std::function<void(PrinterObject&)>> rows[] = {
        {"picture passes the page's width", [&](PrinterObject& p) { picture(p, p.ScaleWidth() - 2900, 0); }},
        {"picture passes the page's bottom", [&](PrinterObject& p) { picture(p, 0, p.ScaleHeight() - 2900); }},
        {"\"SOB A FIGURA\" overlaps picture", [&](PrinterObject& p) { p.Print("SOB A FIGURA"), picture(p, 0, 0); }},
        {"\"AAAA\" is drawn over \"BBBB\"", [](PrinterObject& p) { p.Print("AAAA"), p.CurrentY -= 60, p.Print("BBBB"); }},
        // The letters wholly past the paper never reach the PDF; "LA" does, and the A passes the edge.
        {"\"LA\" passes the page's width", [](PrinterObject& p) { p.CurrentX = p.ScaleWidth() - 100, p.Print("LARGO"); }}};
    for (std::size_t n = 0; n < std::size(rows); ++n) {
        PrinterObject printer;
        printer.setPaper(Paper::A4);
        printer.CurrentY = 2000;
        rows[n].second(printer);
        const std::string pdf = dir_.file(std::to_string(n) + ".pdf");
        endDocTo(printer, pdf);
        const std::string check = commandOutput(QUORVANTI_BINARY_DIR "/quorvanti-receipt --check " + pdf + "; echo status $?");
        EXPECT_NE(check.find("\nproblem: page 1: " + rows[n].first + "\nstatus 3\n"), std::string::npos) << check;
    }
}

// A name the server does not know is the mistyped-queue fault test's; here names no queue can have.
TEST_F(PrinterSurfaceTest, UnknownPrinterIsRefusedAndTheOldOneKept) {
    PrinterObject printer;
    printer.setDefaultPrinter("file:" + dir_.file("a.pdf"));
    for (const std::string name : {"", "a/b"}) {
        const std::string fault = printerFault([&] { printer.setDefaultPrinter(name); });
        EXPECT_EQ(fault.rfind("1801 Nome de impressora inválido: \"" + name + "\"", 0), 0u) << fault;
        EXPECT_EQ(printer.DeviceName(), "file:" + dir_.file("a.pdf"));
    }
}

// The receipt printers' cups: port with the server stopped is the stopped-server fault test's; here the
// printer object, whose failed page must not ride on the next job.
TEST_F(PrinterSurfaceTest, WithoutServerThePageFailsAndIsNotCarriedOver) {
    if (haveCups()) cupsSetServer(dir_.file("no-server.sock").c_str());
    EXPECT_FALSE(cupsQueueExists("recibo"));
    EXPECT_EQ(cupsDefaultQueue(), "");
    env_.set("PRINTER", "a4");
    PrinterObject printer;
    EXPECT_EQ(printer.DeviceName(), "a4") << "the system's default comes from PRINTER";
    printer.Print("DANFE");
    const std::string fault = printerFault([&] { printer.EndDoc(); });
    EXPECT_EQ(fault.rfind("482 Impressora \"a4\": o servidor CUPS", 0), 0u) << fault;
    printer.setDefaultPrinter("file:" + dir_.file("after.pdf"));
    printer.Print("depois");
    printer.EndDoc();
    EXPECT_EQ(commandOutput("pdftotext -layout " + dir_.file("after.pdf") + " -"), "depois\n\f");
}

// Jobs the queue does not take: a disabled queue (one that rejects jobs is refused the same way, before
// the job), and one stopped by its device failing after it took the job (CUPS stops a queue whose back end
// fails). Each is a failure naming the
// queue, leaves no job behind to print twice after the reprint, and the queue prints again once fixed.
// (Jobs that the queues take, raw bytes and pages, are the fault tests' reprints through the stopped
// server and the mistyped queue.)
TEST_F(PrinterSurfaceTest, AJobIsDeliveredOnlyWhenTheQueueTakesIt) {
    QUORVANTI_NEEDS(haveCups(), "QUORVANTI_TEST_CUPS_SERVER / QUORVANTI_TEST_CUPS_OUTPUT are not set: start a server "
                                "with scripts/cups-test-server.sh start DIR (as root; scripts/test.sh does)");
    EXPECT_EQ(PrinterObject().DeviceName(), "a4") << "the server's default queue";
    const std::string admin = "CUPS_SERVER=" + cupsServer_ + " ";
    const std::string queue = "quorvanti-parada-" + std::to_string(getpid());
    const std::string out = dir_.file("saida");
    struct Row {
        std::string fault, device, says, fix;
    };
    for (const Row& row : {Row{"cupsdisable " + queue, out, "a fila está parada no CUPS", "cupsenable " + queue},
                           Row{"true", "/proc/quorvanti-sem-saida", "o CUPS deixou o trabalho ",
                               "lpadmin -p " + queue + " -v quorvanti-out:" + out + " && cupsenable " + queue}}) {
        SCOPED_TRACE(row.fault + " " + row.device);
        ASSERT_EQ(commandOutput(admin + "lpadmin -p " + queue + " -E -v quorvanti-out:" + row.device + " 2>&1 && " +
                                admin + row.fault + " 2>&1"), "");
        const std::string problem = cupsSubmit(queue, "DANFE NFC-e", "bytes", "application/vnd.cups-raw");
        EXPECT_EQ(problem.rfind("Impressora \"" + queue + "\": " + row.says, 0), 0u) << problem;
        EXPECT_EQ(commandOutput(admin + "lpstat -o " + queue), "") << "no job left to print a second copy";
        ASSERT_EQ(commandOutput(admin + row.fix + " 2>&1"), "");
        EXPECT_EQ(cupsSubmit(queue, "DANFE NFC-e", "bytes", "application/vnd.cups-raw"), "");
        EXPECT_TRUE(awaitJob(out, [](const std::string& file) { return readFile(file) == "bytes"; }));
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        commandOutput(admin + "lpadmin -x " + queue);
    }
}

}  // namespace
}  // namespace quorvanti::printing::devices
