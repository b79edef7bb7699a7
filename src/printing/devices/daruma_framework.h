// The Daruma framework's calls that the receipt layouts make. The whole receipt arrives as one text in
// the Daruma tag markup and leaves as ESC/POS bytes for the port of the layer's configuration
// ("printers.ini", section DARUMA). Tags: <ce> centre, <b> bold, <i> italic, <da> double height,
// <c> condensed, <n> normal, <ad> right-aligned, <tc>X</tc> a separator line of X, <qrcode>…</qrcode>
// a QR code, <gui></gui> paper cut; any other text between "<" and ">" is printed as written.
#pragma once

#include <string>

#include "printing/devices/device_settings.h"

namespace quorvanti::printing::devices {

class DarumaFramework {
public:
    explicit DarumaFramework(DeviceSettings settings);

    // Prints `markup` (UTF-8) on the configured port. Answers 1 when sent; 0 or less when the port
    // could not be opened or the job not delivered (`lastProblem` says why). `lines` is kept for the
    // call's shape and not used (0 = the whole text).
    int iImprimirTexto_DUAL_DarumaFramework(const std::string& markup, int lines);

    // Writes a QR code of `text` as a monochrome bitmap file at `bitmapPath`. Answers 1, or 0 or less
    // when the text cannot be encoded or the file not written.
    int eGerarQrCodeArquivo_DUAL_DarumaFramework(const std::string& bitmapPath, const std::string& text);

    const std::string& lastProblem() const { return lastProblem_; }

private:
    DeviceSettings settings_;
    std::string lastProblem_;
};

}  // namespace quorvanti::printing::devices
