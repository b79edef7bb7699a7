// Reads back what a receipt printer was sent: ESC/POS bytes turned into the lines the paper shows, with
// their attributes, and the QR codes, images and cuts between them. Used by the preview tool and by the
// tests, which compare whole receipts with golden texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvanti::receipt {

enum class Alignment { Left, Centre, Right };

struct PrintedLine {
    enum class Kind { Text, QrCode, Image, Cut };
    Kind kind = Kind::Text;
    std::string text;          // UTF-8 (decoded with the code page the job selected); QR: its payload
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
};

struct PrintedReceipt {
    std::vector<PrintedLine> lines;
    std::string codePage;                 // "CP850", "CP860", "WINDOWS-1252" as selected by ESC t; "" none
    std::vector<std::string> problems;    // bytes the reader did not understand, described
};

// Decodes one or more jobs. Never throws: what it cannot read is listed in `problems`.
PrintedReceipt readEscPos(std::string_view bytes);

// The receipt as text for golden comparisons: one line per printed line, prefixed with its attributes
// between brackets ("[C B DH] AREA DE DOCUMENTO FISCAL", "[QR M 4] https://…", "[CUT]"), blanks at the
// end of a line kept visible by the line itself.
std::string goldenText(const PrintedReceipt& receipt);

}  // namespace quorvanti::receipt
