// The preview of the printer object's pages: each page of a PDF drawn to a PNG.
#pragma once

#include <string>
#include <vector>

namespace quorvanti::receipt {

// Renders every page of `pdfPath` at `dpi` to "<pngPrefix>-<n>.png" (n from 1). Answers the files
// written; raises std::runtime_error naming the file when it is not a readable PDF.
std::vector<std::string> renderPdfPages(const std::string& pdfPath, const std::string& pngPrefix, double dpi = 150);

}  // namespace quorvanti::receipt
