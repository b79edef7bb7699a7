// The Epson receipt library's calls that the receipt layouts make, producing ESC/POS bytes for the port
// given to IniciaPorta. Text arguments are UTF-8; they leave in the configured code page.
// ImprimeTextoTag understands <ce> centre, <b> bold, <c> condensed, <qrcode>TEXT<lmodulo>N</lmodulo></qrcode>
// (a QR code with modules of N dots); other tags are printed as written.
#pragma once

#include <string>

#include "printing/devices/device_settings.h"
#include "printing/devices/escpos_commands.h"

namespace quorvanti::printing::devices {

class EpsonInterface {
public:
    explicit EpsonInterface(DeviceSettings settings);

    // 1 when the port opened; below 1 when not (the opening's code).
    int IniciaPorta(const std::string& port);
    // Plain text, left-aligned in normal letters (a text without a line break leaves the line open).
    int ImprimeTexto(const std::string& text);
    // Text with the tags above; 0 when a QR code in it could not be printed.
    int ImprimeTextoTag(const std::string& text);
    // letterType 1 condensed, 2 normal, 3 elite; effects 1 = on.
    int FormataTX(const std::string& text, int letterType, int italic, int underline, int expanded, int bold);
    // Cuts the paper (0 full, 1 partial).
    int AcionaGuilhotina(int mode);
    // Sends the job and closes the port; 1 also when no port was open, 0 when the job was not delivered.
    int FechaPorta();

    const std::string& lastProblem() const { return lastProblem_; }

private:
    DeviceSettings settings_;
    PortJob job_{"Epson"};
    std::string lastProblem_;
};

}  // namespace quorvanti::printing::devices
