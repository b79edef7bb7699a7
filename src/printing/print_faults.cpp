#include "printing/print_faults.h"

#include <stdexcept>

#include "context/program_files.h"
#include "document/text/text_helpers.h"
#include "platform/clock.h"
#include "printing/devices/printer_object.h"
#include "printing/print_dispatch.h"
#include "printing/receipt_data.h"

namespace quorvanti::printing {

namespace {

constexpr std::chrono::milliseconds kPortStall{30000};

}  // namespace

std::string printerLabel(context::AppContext& ctx) {
    const std::string printer = receiptPrinterName(ctx);
    const std::string family = document::toUpperText(printer);
    if (family == "DARUMA") return "DARUMA (porta " + printerDeviceSettings(ctx).darumaPort + ")";
    if (family == "BEMATECH" || family == "EPSON") {
        std::string port = context::readGeral(ctx, "PortaBematech");
        if (port.empty()) port = family == "EPSON" ? "USB" : "não configurada";
        return family + " (porta " + port + ")";
    }
    if (family == "VOX") {
        const std::string queue = devices::Printer().DeviceName();
        return "VOX (impressora " + (queue.empty() ? std::string("padrão do sistema, nenhuma definida") : "\"" + queue + "\"") + ")";
    }
    return "A4 (impressora \"" + printer + "\")";
}

devices::DeviceSettings printerDeviceSettings(const context::AppContext& ctx) {
    devices::DeviceSettings settings = devices::readDeviceSettings(ctx.locations.programFolder);
    double scale = 1.0;
    try {
        scale = platform::timeScaleFromEnvironment();
    } catch (const std::invalid_argument&) {
        // The program refuses a bad scale at start; elsewhere the real stall applies.
    }
    settings.folders.stall = std::chrono::milliseconds(static_cast<long long>(kPortStall.count() * scale));
    return settings;
}

bool startsPrinterFailure(const std::string& printer) {
    return printModule().failingPrinters.insert(printer).second;
}

void printerRecovered(const std::string& printer) { printModule().failingPrinters.erase(printer); }

}  // namespace quorvanti::printing
