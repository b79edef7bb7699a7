// quorvanti-receipt: what a receipt printer would print, as a picture. ESC/POS bytes (what a "file:"
// printer port collected) become one PNG of the paper; the printer object's PDF pages one PNG each.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "receipt/escpos_reader.h"
#include "receipt/escpos_render.h"
#include "receipt/pdf_layout.h"
#include "receipt/pdf_preview.h"

namespace {

constexpr int kWritten = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kLayoutProblem = 3;

void usage(std::ostream& out) {
    out << "Usage: quorvanti-receipt INPUT OUTPUT.png\n"
           "       quorvanti-receipt --check PAGES.pdf\n"
           "\n"
           "Draws what a receipt printer would print.\n"
           "  INPUT         ESC/POS bytes as sent to the printer (for example the file of a \"file:PATH\"\n"
           "                printer port), drawn as 80 mm paper, 576 dots wide at 203 dpi, into OUTPUT.png;\n"
           "                or a PDF of the printer object (INPUT ending in .pdf), each page drawn at\n"
           "                150 dpi into OUTPUT-1.png, OUTPUT-2.png, ... (OUTPUT without its .png).\n"
           "  --check       lists every picture and text line drawn on the PDF's pages, then what passes\n"
           "                the page's width or bottom or lies over another (a picture over a text line\n"
           "                or a picture, characters over characters); exit status 3 when anything does.\n"
           "  --help        this text.\n"
           "\n"
           "Bytes the reader does not understand are listed on standard error; the picture is made anyway.\n"
           "\n"
           "Exit status:\n"
           "  0  the picture(s) were written\n"
           "  1  INPUT could not be read (or is not a readable PDF), or OUTPUT could not be written\n"
           "  2  wrong usage\n"
           "  3  --check found a drawing past the page or over another\n";
}

// Cairo's and fontconfig's caches released at exit, so a leak checker sees only real leaks.
struct FontCaches {
    ~FontCaches() {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

bool endsWith(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quorvanti::receipt;
    const FontCaches fontCaches;
    if (argc == 2 && std::string(argv[1]) == "--help") {
        usage(std::cout);
        return kWritten;
    }
    if (argc == 3 && std::string(argv[1]) == "--check") {
        try {
            const std::vector<DrawnPage> pages = drawnPages(argv[2]);
            for (const DrawnPage& page : pages) {
                std::cout << "page " << page.width << " x " << page.height << '\n';
                for (const DrawnBox& box : page.boxes)
                    std::cout << (box.picture ? "picture " : "text ") << box.x0 << ' ' << box.y0 << ' ' << box.x1 << ' '
                              << box.y1 << (box.picture ? "" : " " + box.text) << '\n';
            }
            const std::vector<std::string> problems = layoutProblems(pages);
            for (const std::string& problem : problems) std::cout << "problem: " << problem << '\n';
            return problems.empty() ? kWritten : kLayoutProblem;
        } catch (const std::exception& e) {
            std::cerr << "quorvanti-receipt: " << e.what() << '\n';
            return kFailed;
        }
    }
    if (argc != 3) {
        std::cerr << "quorvanti-receipt: expected INPUT and OUTPUT.png\n\n";
        usage(std::cerr);
        return kUsage;
    }
    const std::string input = argv[1], output = argv[2];
    try {
        if (endsWith(input, ".pdf")) {
            const std::string prefix = endsWith(output, ".png") ? output.substr(0, output.size() - 4) : output;
            for (const std::string& page : renderPdfPages(input, prefix)) std::cout << page << '\n';
            return kWritten;
        }
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::cerr << "quorvanti-receipt: cannot read " << input << '\n';
            return kFailed;
        }
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const PrintedReceipt receipt = readEscPos(bytes);
        for (const std::string& problem : receipt.problems) {
            std::cerr << "quorvanti-receipt: " << input << ": " << problem << '\n';
        }
        const std::string note = renderReceiptPng(receipt, output);
        if (!note.empty()) std::cerr << "quorvanti-receipt: " << note << '\n';
        std::cout << output << '\n';
        return kWritten;
    } catch (const std::exception& e) {
        std::cerr << "quorvanti-receipt: " << e.what() << '\n';
        return kFailed;
    }
}
