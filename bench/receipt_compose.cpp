// Cost of one receipt for each receipt-printer family: the common start (settings, the 10-item block
// from the stored document), the layout, and the layer's encoding into ESC/POS bytes, sent to a file:
// port on /dev/null so that the device costs nothing. The document is the tax authority's published
// example with its items repeated to ten. CPU time of the thread per receipt; the goal is under 1 ms.
//
// Run: build/release/bench/quorvanti_bench_receipt_compose
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "context/app_context.h"
#include "fiscal_component/unavailable_component.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/registry_store.h"
#include "platform/shell.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/scripted_frontend.h"
#include "printing/receipt_data.h"
#include "printing/receipt_text.h"
#include "printing/thermal_layout.h"

namespace {

using namespace quorvanti;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The example's two items repeated to ten, numbered 1 to 10.
std::string tenItemDocument() {
    const std::string example = readAll(QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml");
    const std::size_t first = example.find("<det nItem=\"1\">"), end = example.find("<total>");
    if (first == std::string::npos || end == std::string::npos) throw std::runtime_error("example not found");
    const std::string items = example.substr(first, end - first);
    std::string repeated;
    for (int i = 0; i < 5; ++i) repeated += items;
    int n = 0;
    for (std::size_t at = repeated.find("<det nItem=\""); at != std::string::npos; at = repeated.find("<det nItem=\"", at + 1)) {
        const std::size_t close = repeated.find('"', at + 12);
        repeated.replace(at + 12, close - at - 12, std::to_string(++n));
    }
    return example.substr(0, first) + repeated + example.substr(end);
}

struct World {
    std::string folder;
    platform::VirtualClock clock;
    platform::ScriptedFrontend frontend;
    platform::EventLoop loop{clock};
    platform::RegistryStore registry;
    platform::RecordingShell shell;
    fiscal::UnavailableComponentFactory components;
    context::AppContext ctx;

    explicit World(const std::string& dir)
        : folder(dir),
          registry(dir + "/registry.ini"),
          ctx(context::Services{clock, frontend, loop, registry, shell, components},
              context::Locations{.programFolder = dir, .desktopFolder = dir, .devSettingsPath = ""}) {
        const std::string settings = dir + "/ConfigINI.ini";
        platform::iniWrite(settings, "Geral", "incluioperacao", "1");
        platform::iniWrite(settings, "Geral", "PortaBematech", "file:/dev/null");
        platform::iniWrite(dir + "/printers.ini", "DARUMA", "Port", "file:/dev/null");
        std::ofstream(dir + "/nfce.xml", std::ios::binary) << tenItemDocument();
        ctx.settings.SettingsPath = settings;
        printing::ReceiptData& r = printing::receiptData();
        r.SettingsPath = settings;
        r.XmlPath = dir + "/nfce.xml";
        r.MainWindow = &ctx.mainWindow;
        r.PrinterPort = "file:/dev/null";
        r.IncludeItems = "1";
        r.ItemCount = 10;
        r.AccessKey = "35261145723174000110650020000012341837461527";
        r.QrText = "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=35261145723174000110650020000012341837461527|2|2|1|"
                   "8DC38D2D87FAE9C2B5093105D16BE253F544B32B";
        r.TradeName = "PADARIA EXEMPLO";
        r.Street = "RUA DO EXEMPLO";
        r.EmitterCnpj = "45.723.174/0001-10";
        r.StateRegistration = "11.004.249.011-4";
        r.ProtocolLine = "2026-11-20T09:15:05-03:00 135260000000001";
        r.ConsumerDocument = "52998224725";
        r.ConsumerName = "MARIA DA SILVA";
        r.TotalValue = "95.00";
        r.DiscountValue = "5.00";
        r.SaleCode = "000123-01";
    }
};

World& world() {
    static const std::string dir = [] {
        const char* base = std::getenv("QUORVANTI_BENCH_DIR");
        std::string d = std::string(base ? base : "/tmp") + "/quorvanti-receipt-bench";
        std::filesystem::remove_all(d);
        std::filesystem::create_directories(d);
        return d;
    }();
    static World w(dir);
    return w;
}

void Receipt(benchmark::State& state, const char* family) {
    World& w = world();
    w.ctx.settings.ReceiptPrinter = family;
    for (auto _ : state) {
        printing::receiptData().DocumentNumber = "1234";
        printing::ImprimeTermica(w.ctx, printing::receiptData().AccessKey, "", "000123-01");
    }
    if (!w.frontend.messages().empty()) state.SkipWithError(w.frontend.messages().back().text.c_str());
}

}  // namespace

BENCHMARK_CAPTURE(Receipt, Daruma, "DARUMA")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Receipt, Bematech, "BEMATECH")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Receipt, Epson, "EPSON")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
