// Reads back what a receipt printer was sent: ESC/POS bytes turned into the lines the paper shows, with
// their attributes, and the QR codes, images and cuts between them. Used by the preview tool and by the
// tests, which compare whole receipts with golden texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvanti::receipt {

enum class Alignment { Left, Centre, Right };

// A run of characters printed with the same effects.
struct PrintedSpan {
    std::string text;  // UTF-8
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool doubleHeight = false;
    bool doubleWidth = false;
    bool condensed = false;
    bool sameEffects(const PrintedSpan& other) const;
};

struct PrintedLine {
    enum class Kind { Text, QrCode, Image, Cut };
    Kind kind = Kind::Text;
    std::string text;          // UTF-8 (decoded with the code page the job selected); QR: its payload
    std::vector<PrintedSpan> spans;  // Text: the line's runs; the effects below are the first run's
    Alignment alignment = Alignment::Left;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool doubleHeight = false;
    bool doubleWidth = false;
    bool condensed = false;    // font B
    int qrModuleDots = 0;      // QR: dots per module
    char qrErrorLevel = 0;     // QR: 'L', 'M', 'Q' or 'H'
    int imageWidthDots = 0;    // Image: raster size
    int imageHeightDots = 0;
    std::vector<unsigned char> imageBits;  // Image: rows of packed bits, 1 = black, as sent
    bool partialCut = false;   // Cut: partial (a tab left) rather than full
    bool brokenAtEdge = false; // Text: the printer broke the line at the paper's edge, the text sent
                               // goes on in the next line (it was longer than the printable columns)
};

struct PrintedReceipt {
    std::vector<PrintedLine> lines;
    std::string codePage;                 // "CP850", "CP860", "WINDOWS-1252" as selected by ESC t; "" none
    std::vector<std::string> problems;    // bytes the reader did not understand, described
};

// Decodes one or more jobs as an 80 mm printer prints them (576 dots: 48 characters of font A, 64 of
// font B): text past the edge wraps onto a new line, an alignment command takes effect at the next line
// start, raster bands of one image following each other make one image. Never throws: what it cannot
// read is listed in `problems`.
PrintedReceipt readEscPos(std::string_view bytes);

// The receipt as text for golden comparisons, one line per printed line:
//   [L] text / [C B DH] text    alignment L, C or R, then B bold, I italic, U underline, DH double height,
//                               DW double width, CD condensed; a change of effects inside the line is
//                               marked where it happens: "VALOR:{B}12,00", "{-}" back to plain letters
//   text ending in blanks|      a "|" after trailing blanks, so no editor strips them
//   [QR M 4 C] payload          error level, dots per module, alignment
//   [IMAGE 264x264 C]           raster width x height in dots
//   [CUT] / [CUT PARTIAL]
//   [?] description             the reader's problems, after the lines
std::string goldenText(const PrintedReceipt& receipt);

}  // namespace quorvanti::receipt
