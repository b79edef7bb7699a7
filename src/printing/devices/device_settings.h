// How the receipt-printer layers are set up on this machine: what the vendor libraries kept in their
// own configuration. One small INI in the program folder, "printers.ini":
//   [DARUMA]   Port=USB          the Daruma framework's port (its calls take none)
//              CodePage=CP850
//   [BEMATECH] CodePage=CP850    the port comes with each IniciaPorta call
//   [EPSON]    CodePage=CP850
// A missing file or key gives the defaults below. Device paths can be redirected for tests.
#pragma once

#include <chrono>
#include <string>

#include "printing/devices/code_page.h"

namespace quorvanti::printing::devices {

// How ports are reached: where the port texts "USB" and "COMn" look for devices ("/dev" on a real
// machine), and how long a device or socket may take no byte before the job is a failure (a printer
// that is off or never reads must cost a message, not a hung monitor or a lost receipt).
struct DeviceFolders {
    std::string dev = "/dev";
    std::chrono::milliseconds stall{30000};
};

struct DeviceSettings {
    std::string darumaPort = "USB";
    CodePage darumaCodePage = CodePage::Cp850;
    CodePage bematechCodePage = CodePage::Cp850;
    CodePage epsonCodePage = CodePage::Cp850;
    DeviceFolders folders;
};

inline constexpr const char* kDeviceSettingsFile = "printers.ini";

// Reads "printers.ini" of `programFolder`. An unknown code page name keeps the default and is reported
// in `problem` (empty when every value was understood), so start-up can say which line is wrong.
DeviceSettings readDeviceSettings(const std::string& programFolder, std::string* problem = nullptr);

}  // namespace quorvanti::printing::devices
