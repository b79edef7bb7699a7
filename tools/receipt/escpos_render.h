// The preview of a receipt printer's paper: what the reader decoded, drawn as an 80 mm thermal printer
// prints it (576 dots wide at 203 dpi), one PNG pixel per printer dot.
#pragma once

#include <string>

#include "receipt/escpos_reader.h"

namespace quorvanti::receipt {

// Draws `receipt` into the PNG file `pngPath`: Liberation Mono letters in 12 x 24 dot cells (font B
// 9 x 24), bold, italic, underline, double height and width, the lines' alignment, QR codes re-encoded
// from their payloads at the printed module size (with a quiet zone, so a scanner reads them), raster
// images, and a dashed line where the paper is cut. Answers a note when the paper was too long for one
// picture and was cut short, else "". Raises std::runtime_error naming the file when it cannot be written.
std::string renderReceiptPng(const PrintedReceipt& receipt, const std::string& pngPath);

}  // namespace quorvanti::receipt
