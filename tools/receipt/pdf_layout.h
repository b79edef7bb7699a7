// The layout check of the printer object's pages: what was drawn where, read back from the PDF as a
// viewer sees it (each text line's box, each picture's box), and what overlaps or passes the paper.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorvanti::receipt {

struct DrawnBox {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // points, from the page's top left
    bool picture = false;
    std::string text;  // a text line's characters; empty for a picture
};

struct DrawnPage {
    double width = 0, height = 0;
    std::vector<DrawnBox> boxes;
    // Each visible character's box (its text the character), with the index in `boxes` of its line.
    std::vector<std::pair<DrawnBox, std::size_t>> glyphs;
};

// Every page of `pdfPath`; raises std::runtime_error naming the file when it is not a readable PDF.
std::vector<DrawnPage> drawnPages(const std::string& pdfPath);

// What is wrong with the pages, one text each: a box past the page's width or bottom, a picture over a
// text line or another picture, a text line's characters drawn over another's. Empty when nothing is.
std::vector<std::string> layoutProblems(const std::vector<DrawnPage>& pages);

}  // namespace quorvanti::receipt
