// The Daruma framework's calls that the receipt layouts make. The whole receipt arrives as one text in
// the Daruma tag markup and leaves as ESC/POS bytes for the port of the layer's configuration
// ("printers.ini", section DARUMA). Tags: <ce> centre, <b> bold, <i> italic, <da> double height,
// <c> condensed, <n> normal, <ad> right-aligned, <tc>X</tc> a separator line of X, <qrcode>…</qrcode>
// a QR code, <gui></gui> paper cut; any other text between "<" and ">" is printed as written. How the
// tags combine (toggling, <n>, <ad> within a line) is told at printTagMarkup (escpos_commands.h).
#pragma once

#include <string>

#include "printing/devices/device_settings.h"

namespace quorvanti::printing::devices {

class DarumaFramework {
public:
    explicit DarumaFramework(DeviceSettings settings);

    // Prints `markup` (UTF-8) on the configured port. Answers 1 when sent; the opening's code (0 or
    // less) when the port could not be opened, -1 when the job was not delivered (`lastProblem` says
    // why). `lines` is kept for the call's shape and not used (0 = the whole text).
    int iImprimirTexto_DUAL_DarumaFramework(const std::string& markup, int lines);

    // Writes a QR code of `text` as a monochrome bitmap file at `bitmapPath` (level M, one pixel per
    // printer dot, at least 200 pixels = 25 mm across the symbol). Answers 1, 0 when the text cannot be
    // encoded, -1 when the file cannot be written.
    int eGerarQrCodeArquivo_DUAL_DarumaFramework(const std::string& bitmapPath, const std::string& text);

    const std::string& lastProblem() const { return lastProblem_; }

private:
    DeviceSettings settings_;
    std::string lastProblem_;
};

}  // namespace quorvanti::printing::devices
