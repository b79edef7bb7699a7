// What a receipt printer is called when it fails, and how often the operator hears of it. Every failed
// receipt is logged; the operator is told once per printer failure, not once per sale: a printer that
// stays off during a busy hour would otherwise bury the panel (and the journal) in identical boxes,
// while the log keeps one line per receipt to reprint. A receipt that reaches the printer ends its
// failure, so the next one is told again.
#pragma once

#include <string>

#include "context/app_context.h"
#include "printing/devices/device_settings.h"

namespace quorvanti::printing {

// The printer the receipt setting routes to, as the operator knows it: the family and its port
// ("EPSON (porta 192.168.0.50:9100)"), or the A4 queue's name.
std::string printerLabel(context::AppContext& ctx);

// The receipt layers' settings (printers.ini) with the port stall: 30 s, shortened by the process's time
// scale as every other wait of a time-scaled run is.
devices::DeviceSettings printerDeviceSettings(const context::AppContext& ctx);

// Records that `printer` failed; true when this is the start of its failure (tell the operator).
bool startsPrinterFailure(const std::string& printer);
// `printer` printed: its next failure is a new one.
void printerRecovered(const std::string& printer);

}  // namespace quorvanti::printing
