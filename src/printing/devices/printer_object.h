// The Windows printer object as the VOX and A4 layouts use it: one page drawn in twips (1440 per inch)
// with the properties and methods of the original, rendered with Cairo into a PDF that EndDoc submits
// through CUPS to the printer the object addresses. "Courier New" and "Arial Narrow" are drawn with
// their metric-compatible free fonts (Liberation Mono, Liberation Sans Narrow).
//
// Printer names: a CUPS queue name, or "file:PATH" (the PDF is written to PATH; a folder PATH/ gets one
// file per job, 0001.pdf, 0002.pdf, ..., never overwritten), which tests and the demo use. The object's
// printer starts as the system's default (the LPDEST or PRINTER variable, else CUPS's default
// destination); `setDefaultPrinter` changes it for this process only: the system's default is never
// touched.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "printing/devices/picture.h"

namespace quorvanti::printing::devices {

enum class Paper {
    Roll80mm,  // a receipt roll: 80 mm wide, as long as what was drawn
    A4,
};

// A failure of the printer object, with the number and description the original's error had.
struct PrinterError : std::runtime_error {
    PrinterError(int number, const std::string& description) : std::runtime_error(description), number(number) {}
    int number;
};

class PrinterObject {
public:
    PrinterObject();
    ~PrinterObject();
    PrinterObject(const PrinterObject&) = delete;
    PrinterObject& operator=(const PrinterObject&) = delete;

    std::string FontName = "Courier New";
    double FontSize = 8;   // points
    bool FontBold = false;
    double CurrentX = 0;   // twips from the left edge
    double CurrentY = 0;   // twips from the top edge

    // The page the next drawing starts; takes effect for a page not yet begun.
    void setPaper(Paper paper);
    // The printable width of the page in twips.
    double ScaleWidth() const;
    // The height of an A4 sheet in twips; a roll has no end (infinity).
    double ScaleHeight() const;
    // Ends the sheet being drawn: what is drawn next goes on a new one (CurrentX and CurrentY 0). Does
    // nothing before anything is drawn, so no blank sheet is ever sent.
    void NewPage();
    // Prints `text` at CurrentX, CurrentY (the top of the line). With `endLine` the position moves to
    // the start of the next line (CurrentX 0, CurrentY + the line's height); without it CurrentX moves
    // past the text. Line breaks inside `text` start new lines; on A4 a line that would pass the
    // bottom of the page starts a new page.
    void Print(const std::string& text, bool endLine = true);
    // The width of the widest line of `text`, and the height of its lines, in the current font.
    double TextWidth(const std::string& text) const;
    double TextHeight(const std::string& text = "Ag") const;
    // Draws `picture` stretched to width x height twips, each pixel a sharp square (QR modules).
    void PaintPicture(const Picture& picture, double x, double y, double width, double height);
    // A line from (x1, y1) to (x2, y2); with `filledBox` the rectangle they span, filled. The
    // position moves to (x2, y2).
    void Line(double x1, double y1, double x2, double y2, bool filledBox = false);
    // Ends the page and sends it to the addressed printer; the object is ready for a new page, even
    // when sending failed (a failed receipt never rides along with the next one). Nothing is sent
    // when nothing was drawn. Raises PrinterError naming the printer when it cannot be reached or the
    // job is refused (482), or when no printer is addressed at all (484).
    void EndDoc();

    // The printer the next EndDoc sends to.
    const std::string& DeviceName() const { return deviceName_; }
    // Addresses `name` from now on. Raises PrinterError (number 1801, "Nome de impressora inválido: ",
    // the name in quotes and, in brackets, whether the queue or the server is missing) for a name that
    // is neither a CUPS queue nor a "file:" target, and keeps the printer it had.
    void setDefaultPrinter(const std::string& name);

private:
    struct Surface;
    std::string deviceName_;
    Paper paper_ = Paper::Roll80mm;
    std::unique_ptr<Surface> surface_;
};

// The process's printer object, as the original had one per program.
PrinterObject& Printer();

}  // namespace quorvanti::printing::devices
