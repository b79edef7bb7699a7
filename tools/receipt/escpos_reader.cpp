#include "receipt/escpos_reader.h"

#include <cstdio>

#include "printing/devices/code_page.h"

namespace quorvanti::receipt {
namespace {

using printing::devices::CodePage;

constexpr int kPaperDots = 576;
constexpr char ESC = 0x1B, GS = 0x1D, FS = 0x1C, DLE = 0x10;

std::string hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    PrintedReceipt read() {
        while (at_ < bytes_.size()) {
            const unsigned char byte = static_cast<unsigned char>(bytes_[at_]);
            const std::size_t start = at_++;
            commandStart_ = start;
            const bool wasImage = lastWasImage_;
            lastWasImage_ = false;
            if (byte == '\n') {
                endLine();
            } else if (byte == '\r') {
                // ignored, as with automatic line feed off
            } else if (byte == '\t') {
                const int column = usedDots_ / 12;
                for (int n = 8 - column % 8; n > 0; --n) character(' ');
            } else if (byte == ESC) {
                escape(start);
            } else if (byte == GS) {
                groupSeparator(start, wasImage);
            } else if (byte == FS) {
                if (!skip(1)) break;
                problem(start, "comando FS " + hex(static_cast<unsigned char>(bytes_[at_ - 1])) + " ignorado");
            } else if (byte == DLE) {
                if (!skip(2)) break;  // real-time status requests print nothing
            } else if (byte < 0x20 || byte == 0x7F) {
                problem(start, "caractere de controle " + hex(byte) + " ignorado");
            } else {
                character(static_cast<char>(byte));
            }
        }
        if (!spans_.empty()) endLine();
        return std::move(receipt_);
    }

private:
    bool skip(std::size_t count) {
        if (bytes_.size() - at_ < count) {
            if (!truncated_) problem(commandStart_, "comando incompleto no fim dos dados");
            truncated_ = true;
            at_ = bytes_.size();
            return false;
        }
        at_ += count;
        return true;
    }

    // The next parameter byte, or -1 at the end of the data (reported).
    int parameter() {
        if (!skip(1)) return -1;
        return static_cast<unsigned char>(bytes_[at_ - 1]);
    }

    void problem(std::size_t offset, const std::string& what) {
        receipt_.problems.push_back("byte " + std::to_string(offset) + ": " + what);
    }

    void escape(std::size_t start) {
        const int command = parameter();
        if (command < 0) return;
        int n = 0;
        switch (command) {
            case '@':
                if (!spans_.empty()) endLine();
                style_ = {};
                alignment_ = Alignment::Left;
                page_ = CodePage::Cp850;
                return;
            case 't':
                if ((n = parameter()) < 0) return;
                if (n == 2) {
                    page_ = CodePage::Cp850, receipt_.codePage = "CP850";
                } else if (n == 3) {
                    page_ = CodePage::Cp860, receipt_.codePage = "CP860";
                } else if (n == 16) {
                    page_ = CodePage::Windows1252, receipt_.codePage = "WINDOWS-1252";
                } else {
                    problem(start, "página de código ESC t " + std::to_string(n) + " desconhecida");
                }
                return;
            case 'a':
                if ((n = parameter()) < 0) return;
                // Takes effect only at the start of a line, as on the printer.
                if (spans_.empty()) alignment_ = n % 48 == 1 ? Alignment::Centre : n % 48 == 2 ? Alignment::Right : Alignment::Left;
                return;
            case 'E':
            case 'G':
                if ((n = parameter()) >= 0) style_.bold = n & 1;
                return;
            case 'M':
                if ((n = parameter()) >= 0) style_.condensed = n % 48 != 0;
                return;
            case '-':
                if ((n = parameter()) >= 0) style_.underline = n % 48 != 0;
                return;
            case '4':
                style_.italic = true;
                return;
            case '5':
                style_.italic = false;
                return;
            case '!':
                if ((n = parameter()) < 0) return;
                style_.condensed = n & 0x01;
                style_.bold = n & 0x08;
                style_.doubleHeight = n & 0x10;
                style_.doubleWidth = n & 0x20;
                style_.underline = n & 0x80;
                return;
            case 'd':
                if ((n = parameter()) < 0) return;
                if (!spans_.empty() && n > 0) {
                    endLine();
                    --n;
                }
                while (n-- > 0) endLine();
                return;
            case 'J':
                if (parameter() >= 0 && !spans_.empty()) endLine();
                return;
            case '2':
                return;
            case '3': case 'R': case 'V': case ' ': case 'r':
                parameter();
                return;
            case 'p':
                skip(3);
                return;
            default:
                problem(start, "comando ESC " + hex(static_cast<unsigned char>(command)) + " desconhecido");
        }
    }

    void groupSeparator(std::size_t start, bool afterImage) {
        const int command = parameter();
        if (command < 0) return;
        int n = 0;
        switch (command) {
            case '!':
                if ((n = parameter()) < 0) return;
                style_.doubleHeight = (n & 0x07) != 0;
                style_.doubleWidth = (n & 0x70) != 0;
                return;
            case '(':
                function(start);
                return;
            case 'v':
                raster(start, afterImage);
                return;
            case 'V': {
                if ((n = parameter()) < 0) return;
                const bool withFeed = n == 65 || n == 66 || n == 97 || n == 98 || n == 103 || n == 104;
                if (withFeed && parameter() < 0) return;
                if (!withFeed && n != 0 && n != 1 && n != 48 && n != 49) {
                    problem(start, "corte GS V " + std::to_string(n) + " desconhecido");
                    return;
                }
                if (!spans_.empty()) endLine();
                PrintedLine cut;
                cut.kind = PrintedLine::Kind::Cut;
                cut.partialCut = n == 1 || n == 49 || n == 66 || n == 98 || n == 104;
                receipt_.lines.push_back(std::move(cut));
                return;
            }
            case 'B': case 'h': case 'w': case 'H': case 'f':
                parameter();
                return;
            case 'L': case 'W':
                skip(2);
                return;
            default:
                problem(start, "comando GS " + hex(static_cast<unsigned char>(command)) + " desconhecido");
        }
    }

    // GS ( k: the QR code functions; other GS ( functions are skipped by their length.
    void function(std::size_t start) {
        const int which = parameter();
        const int low = parameter();
        const int high = parameter();
        if (which < 0 || low < 0 || high < 0) return;
        const std::size_t length = static_cast<std::size_t>(low + high * 256);
        if (bytes_.size() - at_ < length) {
            skip(bytes_.size() - at_ + 1);
            return;
        }
        const std::string_view body = bytes_.substr(at_, length);
        at_ += length;
        if (which != 'k') {
            problem(start, "função GS ( " + hex(static_cast<unsigned char>(which)) + " ignorada");
            return;
        }
        if (body.size() < 2 || body[0] != '1') {
            problem(start, "GS ( k de símbolo que não é QR Code ignorado");
            return;
        }
        const char fn = body[1];
        const std::string_view data = body.substr(2);
        if (fn == 'A') {
            if (!data.empty() && data[0] != '2') problem(start, "QR Code modelo " + std::string(1, data[0]) + " (esperado 2)");
        } else if (fn == 'C' && data.size() == 1) {
            qrModuleDots_ = static_cast<unsigned char>(data[0]);
        } else if (fn == 'E' && data.size() == 1) {
            const int level = static_cast<unsigned char>(data[0]) - 48;
            if (level >= 0 && level < 4) qrLevel_ = "LMQH"[level];
            else problem(start, "nível de correção de QR Code " + hex(static_cast<unsigned char>(data[0])) + " desconhecido");
        } else if (fn == 'P' && !data.empty()) {
            qrPayload_ = std::string(data.substr(1));
        } else if (fn == 'Q') {
            if (!spans_.empty()) endLine();
            PrintedLine qr;
            qr.kind = PrintedLine::Kind::QrCode;
            qr.text = qrPayload_;
            qr.alignment = alignment_;
            qr.qrModuleDots = qrModuleDots_;
            qr.qrErrorLevel = qrLevel_;
            receipt_.lines.push_back(std::move(qr));
        } else if (fn != 'R') {
            problem(start, "função de QR Code " + hex(static_cast<unsigned char>(fn)) + " desconhecida");
        }
    }

    void raster(std::size_t start, bool afterImage) {
        const int zero = parameter();
        if (zero < 0) return;
        if (zero != '0') {
            problem(start, "comando GS v " + hex(static_cast<unsigned char>(zero)) + " desconhecido");
            return;
        }
        const int mode = parameter(), xl = parameter(), xh = parameter(), yl = parameter(), yh = parameter();
        if (mode < 0 || xl < 0 || xh < 0 || yl < 0 || yh < 0) return;
        const std::size_t rowBytes = static_cast<std::size_t>(xl + xh * 256);
        const std::size_t rows = static_cast<std::size_t>(yl + yh * 256);
        if (bytes_.size() - at_ < rowBytes * rows) {
            skip(bytes_.size() - at_ + 1);
            return;
        }
        if (mode % 48 != 0) problem(start, "imagem ampliada (modo " + std::to_string(mode) + ") mostrada no tamanho normal");
        const std::string_view bits = bytes_.substr(at_, rowBytes * rows);
        at_ += bits.size();
        if (!spans_.empty()) endLine();
        const int width = static_cast<int>(rowBytes * 8);
        // Bands sent one after the other make one picture.
        if (afterImage && !receipt_.lines.empty() && receipt_.lines.back().kind == PrintedLine::Kind::Image &&
            receipt_.lines.back().imageWidthDots == width) {
            PrintedLine& image = receipt_.lines.back();
            image.imageBits.insert(image.imageBits.end(), bits.begin(), bits.end());
            image.imageHeightDots += static_cast<int>(rows);
        } else {
            PrintedLine image;
            image.kind = PrintedLine::Kind::Image;
            image.alignment = alignment_;
            image.imageWidthDots = width;
            image.imageHeightDots = static_cast<int>(rows);
            image.imageBits.assign(bits.begin(), bits.end());
            receipt_.lines.push_back(std::move(image));
        }
        lastWasImage_ = true;
    }

    void character(char byte) {
        const int dots = (style_.condensed ? 9 : 12) * (style_.doubleWidth ? 2 : 1);
        if (usedDots_ + dots > kPaperDots && !spans_.empty()) endLine(true);  // the printer wraps
        if (spans_.empty()) lineAlignment_ = alignment_;
        const std::string text = printing::devices::decodeText(std::string_view(&byte, 1), page_);
        if (spans_.empty() || !spans_.back().sameEffects(style_)) {
            PrintedSpan span = style_;
            span.text.clear();
            spans_.push_back(std::move(span));
        }
        spans_.back().text += text;
        usedDots_ += dots;
    }

    void endLine(bool atEdge = false) {
        PrintedLine line;
        line.kind = PrintedLine::Kind::Text;
        line.brokenAtEdge = atEdge;
        line.alignment = spans_.empty() ? alignment_ : lineAlignment_;
        if (!spans_.empty()) {
            const PrintedSpan& first = spans_.front();
            line.bold = first.bold;
            line.italic = first.italic;
            line.underline = first.underline;
            line.doubleHeight = first.doubleHeight;
            line.doubleWidth = first.doubleWidth;
            line.condensed = first.condensed;
        }
        for (const PrintedSpan& span : spans_) line.text += span.text;
        line.spans = std::move(spans_);
        spans_.clear();
        usedDots_ = 0;
        receipt_.lines.push_back(std::move(line));
    }

    std::string_view bytes_;
    std::size_t at_ = 0;
    PrintedReceipt receipt_;
    CodePage page_ = CodePage::Cp850;
    PrintedSpan style_;
    Alignment alignment_ = Alignment::Left;
    Alignment lineAlignment_ = Alignment::Left;
    std::vector<PrintedSpan> spans_;
    int usedDots_ = 0;
    int qrModuleDots_ = 3;
    char qrLevel_ = 'L';
    std::string qrPayload_;
    bool lastWasImage_ = false;
    bool truncated_ = false;
    std::size_t commandStart_ = 0;
};

char alignmentLetter(Alignment alignment) {
    return alignment == Alignment::Centre ? 'C' : alignment == Alignment::Right ? 'R' : 'L';
}

std::string effects(const PrintedSpan& span) {
    std::string out;
    auto add = [&out](bool on, const char* name) {
        if (!on) return;
        if (!out.empty()) out += ' ';
        out += name;
    };
    add(span.bold, "B");
    add(span.italic, "I");
    add(span.underline, "U");
    add(span.doubleHeight, "DH");
    add(span.doubleWidth, "DW");
    add(span.condensed, "CD");
    return out;
}

}  // namespace

bool PrintedSpan::sameEffects(const PrintedSpan& other) const {
    return bold == other.bold && italic == other.italic && underline == other.underline &&
           doubleHeight == other.doubleHeight && doubleWidth == other.doubleWidth && condensed == other.condensed;
}

PrintedReceipt readEscPos(std::string_view bytes) { return Reader(bytes).read(); }

std::string goldenText(const PrintedReceipt& receipt) {
    std::string out;
    for (const PrintedLine& line : receipt.lines) {
        const char align = alignmentLetter(line.alignment);
        switch (line.kind) {
            case PrintedLine::Kind::Text: {
                out += '[';
                out += align;
                if (line.spans.empty()) {
                    out += "]\n";
                    break;
                }
                const std::string first = effects(line.spans.front());
                if (!first.empty()) out += ' ' + first;
                out += "] ";
                for (std::size_t i = 0; i < line.spans.size(); ++i) {
                    if (i > 0) {
                        const std::string changed = effects(line.spans[i]);
                        out += '{' + (changed.empty() ? std::string("-") : changed) + '}';
                    }
                    out += line.spans[i].text;
                }
                if (out.back() == ' ') out += '|';
                out += '\n';
                break;
            }
            case PrintedLine::Kind::QrCode:
                out += "[QR " + std::string(1, line.qrErrorLevel) + ' ' + std::to_string(line.qrModuleDots) + ' ' +
                       align + "] " + line.text + '\n';
                break;
            case PrintedLine::Kind::Image:
                out += "[IMAGE " + std::to_string(line.imageWidthDots) + 'x' + std::to_string(line.imageHeightDots) +
                       ' ' + align + "]\n";
                break;
            case PrintedLine::Kind::Cut:
                out += line.partialCut ? "[CUT PARTIAL]\n" : "[CUT]\n";
                break;
        }
    }
    for (const std::string& problem : receipt.problems) out += "[?] " + problem + '\n';
    return out;
}

}  // namespace quorvanti::receipt
