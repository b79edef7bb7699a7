// The Bematech MP-2032 library's calls that the receipt layouts make, producing ESC/POS bytes for the
// port given to IniciaPorta. Text arguments are UTF-8; they leave in the configured code page.
// Every call answers a whole number: 1 done, 0 or less not done (no open port, bad argument).
#pragma once

#include <string>

#include "printing/devices/device_settings.h"
#include "printing/devices/picture.h"
#include "printing/devices/escpos_commands.h"

namespace quorvanti::printing::devices {

class BematechMp2032 {
public:
    explicit BematechMp2032(DeviceSettings settings);

    // Closes the port, sending what was printed since IniciaPorta. 1 also when no port was open.
    int FechaPorta();
    // The printer model (0 to 9; 5 has no cutter, so AcionaGuilhotina answers 0 for it).
    int ConfiguraModeloImpressora(int model);
    // Opens the port text (see printer_port.h). 1 when open, else the opening's code (0 or less).
    int IniciaPorta(const std::string& port);
    // Paper width in millimetres (58 or 80).
    int AjustaLarguraPapel(int millimetres);
    // Sends `command` raw (its first `length` bytes).
    int ComandoTX(const std::string& command, int length);
    // Prints `text` with letter type 1 (condensed), 2 (normal) or 3 (elite) and the effects (1 = on).
    int FormataTX(const std::string& text, int letterType, int italic, int underline, int expanded, int bold);
    // Prints a QR code of `text` with the printer's own QR command, always at level M and at least 25 mm
    // wide (`moduleSize` dots per module, enlarged when needed); the other numbers are accepted as given.
    int ImprimeCodigoQRCODE(int errorCorrection, int moduleSize, int codeType, int qrVersion, int encoding,
                            const std::string& text);
    // Loads a bitmap file (BMP or PNG, one pixel per printer dot) for PrintDLBitmap; 0 or less when it
    // cannot be read.
    int DefineDLBitmap(const std::string& path);
    // Prints the loaded bitmap as a raster image.
    int PrintDLBitmap(int mode);
    // Cuts the paper (1 partial, 0 full).
    int AcionaGuilhotina(int mode);

    // Why the last call answered 0 or less; empty after a success.
    const std::string& lastProblem() const { return lastProblem_; }

private:
    DeviceSettings settings_;
    PortJob job_{"Bematech"};
    int model_ = 0;
    int paperDots_ = 576;
    Picture bitmap_;
    std::string lastProblem_;
};

}  // namespace quorvanti::printing::devices
