// The ESC/POS commands the receipt layers send, and a job that keeps track of the printer's state so a
// style is sent only when it changes. Shared by the Daruma, Bematech and Epson layers; the receipt reader
// (tools/receipt) decodes exactly these.
//
// Italic has no standard ESC/POS command: ESC 4 / ESC 5 (italic on / off in Epson's ESC/P, accepted by
// several receipt printers and ignored by the others) carry it, and the reader shows it.
// "Condensed" is font B (ESC M 1): 64 columns of 9 dots on an 80 mm roll instead of 48 of 12.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/devices/code_page.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_port.h"

namespace quorvanti::printing::devices {

inline constexpr int kDotsPerMillimetre = 8;       // 203 dpi thermal heads
inline constexpr int kPaper80mmDots = 576;         // printable width of an 80 mm roll
inline constexpr int kPaper58mmDots = 384;
inline constexpr int kColumns = 48;                // font A columns on an 80 mm roll
inline constexpr int kMinQrWidthDots = 25 * kDotsPerMillimetre;  // the DANFE NFC-e's smallest QR code

enum class TextAlignment { Left, Centre, Right };

struct TextStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool doubleHeight = false;
    bool doubleWidth = false;
    bool condensed = false;
    bool operator==(const TextStyle&) const = default;
};

// Width in dots of one character in `style` (font A 12, font B 9, doubled for double width).
int characterDots(const TextStyle& style);

// Modules on a side of the QR code of `payload` at level M (libqrencode's smallest version); 0 when the
// payload cannot be encoded.
int qrSymbolModules(std::string_view payload);
// Dots per module for a QR code of `modules` on a side: at least `requested`, enlarged so the symbol is at
// least 25 mm wide, and reduced when it would not fit `paperDots`. Within 1-16 (what GS ( k accepts).
int qrModuleDots(int modules, int requested, int paperDots = kPaper80mmDots);

// The style of the vendor libraries' FormataTX: letter type 1 condensed, 2 normal, 3 elite (font A, as
// 48 columns is what an 80 mm roll has), effects 1 = on (expanded = double width). Nothing for values
// outside those.
std::optional<TextStyle> vendorTextStyle(int letterType, int italic, int underline, int expanded, int bold);

class EscPosJob;

// The tag markup of the Daruma framework, printed into `job` (implemented beside the Daruma layer).
// Daruma: <ce> <b> <i> <da> <c> <n> <ad> <tc>X</tc> <qrcode>…</qrcode> <gui></gui>. Epson's
// ImprimeTextoTag: <ce> <b> <c> <qrcode>TEXT<lmodulo>N</lmodulo></qrcode>. Other tags are printed as
// written. An effect's opening tag while the effect is on switches it off (a line closed with a second
// <c> ends condensed there); <n> prints normal text until </n> brings the effects back; <ad> text on a
// line after other text is pushed to the right edge, a line that starts with it is right-aligned.
// Effects end with the markup. Answers what could not be printed (an empty QR code), or "".
enum class MarkupTags { Daruma, Epson };
std::string printTagMarkup(EscPosJob& job, std::string_view markup, MarkupTags tags);

class EscPosJob {
public:
    explicit EscPosJob(CodePage page, int paperDots = kPaper80mmDots);

    // ESC @ and ESC t: the start of every job, so the printer's state is known.
    void start();
    // Bytes sent as given; the printer's state is unknown afterwards, so the next style is sent whole.
    void raw(std::string_view bytes);
    // UTF-8 text in the job's code page; "\n" ends a line.
    void text(std::string_view utf8);
    void lineFeed();
    // Takes effect at the start of a line (as on the printer); ignored in the middle of one.
    void setAlignment(TextAlignment alignment);
    void setStyle(const TextStyle& style);
    // A QR code at level M with the printer's own command (GS ( k), `requestedModuleDots` adjusted by
    // qrModuleDots. The payload's bytes go as given (an NFC-e QR text is ASCII). False (nothing sent)
    // for a payload that cannot be encoded.
    bool qrCode(std::string_view payload, int requestedModuleDots);
    // A raster image (GS v 0) of the picture, dark pixels black, scaled down to the paper when wider.
    void image(const Picture& picture);
    // Feeds to the cutter and cuts (GS V 65/66).
    void cut(bool partial);

    bool atLineStart() const { return atLineStart_; }
    int paperDots() const { return paperDots_; }
    void setPaperDots(int dots) { paperDots_ = dots; }
    CodePage codePage() const { return page_; }
    const std::string& bytes() const { return bytes_; }
    std::string takeBytes();

private:
    void sendStyle(const TextStyle& style, bool all);

    CodePage page_;
    int paperDots_;
    std::string bytes_;
    TextStyle style_;
    TextAlignment alignment_ = TextAlignment::Left;
    bool styleKnown_ = false;
    bool alignmentKnown_ = false;
    bool atLineStart_ = true;
};

// The job the Bematech and Epson libraries keep between IniciaPorta and FechaPorta: ESC/POS bytes for
// an open port, leaving in one piece when it closes. Each call sets `problem` (empty after a success).
class PortJob {
public:
    // `vendor` names the printer in the problem of a call made without an open port.
    explicit PortJob(std::string vendor) : vendor_(std::move(vendor)) {}
    // A port left open still delivers what was printed, as closing the program would.
    ~PortJob();
    PortJob(const PortJob&) = delete;
    PortJob& operator=(const PortJob&) = delete;

    // IniciaPorta: closes a job still open, opens `portText` and starts a job. 1 when open, else the
    // opening's code (0 or less).
    int open(const std::string& portText, const DeviceFolders& folders, CodePage page, int paperDots,
             std::string& problem);
    // FechaPorta: sends the job and closes the port; 1 also when no port was open, 0 when the job was
    // not delivered.
    int close(std::string& problem);
    // Clears `problem` and answers whether a port is open; when not, `problem` says so.
    bool ready(std::string& problem) const;
    bool isOpen() const { return port_ != nullptr; }
    // The open port's job (only while isOpen()).
    EscPosJob& escPos() { return *escPos_; }
    // FormataTX on the open port: `text` in the vendorTextStyle of the numbers (after `alignment`, when
    // given), the style reset after it. 0 with `problem` set when no port is open or the numbers are not
    // a style.
    int formattedText(const std::string& text, int letterType, int italic, int underline, int expanded, int bold,
                      std::optional<TextAlignment> alignment, std::string& problem);

private:
    std::string vendor_;
    std::unique_ptr<PrinterPort> port_;
    std::optional<EscPosJob> escPos_;
};

}  // namespace quorvanti::printing::devices
