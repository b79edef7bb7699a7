#include "printing/devices/device_settings.h"

#include "platform/folders.h"
#include "platform/ini_file.h"

namespace quorvanti::printing::devices {
namespace {

void readCodePage(const std::string& path, const char* section, CodePage& page, std::string* problem) {
    const std::string name = platform::iniRead(path, section, "CodePage");
    if (name.empty()) return;
    if (const auto found = codePageNamed(name)) {
        page = *found;
    } else if (problem != nullptr) {
        if (!problem->empty()) *problem += "; ";
        *problem += std::string(kDeviceSettingsFile) + " [" + section + "] CodePage=" + name +
                    ": página de código desconhecida (CP850, CP860 ou WINDOWS-1252)";
    }
}

}  // namespace

DeviceSettings readDeviceSettings(const std::string& programFolder, std::string* problem) {
    if (problem != nullptr) problem->clear();
    const std::string path = platform::withTrailingSlash(programFolder) + kDeviceSettingsFile;
    DeviceSettings settings;
    if (std::string port = platform::iniRead(path, "DARUMA", "Port"); !port.empty()) settings.darumaPort = port;
    readCodePage(path, "DARUMA", settings.darumaCodePage, problem);
    readCodePage(path, "BEMATECH", settings.bematechCodePage, problem);
    readCodePage(path, "EPSON", settings.epsonCodePage, problem);
    return settings;
}

}  // namespace quorvanti::printing::devices
