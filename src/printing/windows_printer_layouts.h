// The layouts drawn on the printer object (twips) instead of sent to a receipt library: the VOX branch
// of `ImprimeTermica` (80 mm roll, 40 columns of Courier New 8) and `ImprimeA4` for any other printer
// name, which the dispatch has made the object's printer for the job.
#pragma once

#include <string>

#include "context/app_context.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_object.h"
#include "printing/thermal_layout.h"

namespace quorvanti::printing {

// The VOX receipt on the printer object's current printer. EndDoc's PrinterError reaches the caller.
void printVox(context::AppContext& ctx, const ThermalValues& v);

// The A4 DANFE NFC-e of the document at `xmlPath` on the printer object's current printer: as many
// sheets as its items need, every value wrapped inside its column.
void ImprimeA4(context::AppContext& ctx, const std::string& xmlPath);

// `ImprimeAlinhado`: "C" centres the text on the page, "E" starts it at 500 twips, "D" ends it 500
// twips before the right edge; then prints it (ending the line). A text wider than the page between
// its margins (120 twips for "C", 500 otherwise) is wrapped, each line aligned alike.
void ImprimeAlinhado(devices::PrinterObject& printer, const std::string& text, char alignment);

// `Regua`: a rule of `height` twips across the page at the current y, from 120 twips after the left
// edge to 120 before the right one; the next line starts below it. A rule that would pass the bottom
// of an A4 sheet starts the next sheet.
void Regua(devices::PrinterObject& printer, double height);

// `ImprimeFigura`: the picture at (x, y) scaled by `scale`.
void ImprimeFigura(devices::PrinterObject& printer, const devices::Picture& picture, double x, double y,
                   double scale = 1);

}  // namespace quorvanti::printing
