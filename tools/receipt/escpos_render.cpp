#include "receipt/escpos_render.h"

#include <cairo.h>
#include <qrencode.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace quorvanti::receipt {
namespace {

constexpr int kPaperDots = 576;
constexpr int kMargin = 24;
constexpr int kLineDots = 30;       // the printers' default line spacing (24-dot letters, 6 dots apart)
constexpr int kLetterDots = 24;
constexpr int kCutDots = 40;
constexpr int kQuietModules = 4;
constexpr int kMaxHeight = 32000;   // what one Cairo image holds
// Liberation Mono advances 0.6 of its size per letter.
constexpr double kAdvancePerSize = 0.6;

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

struct Qr {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code{nullptr, QRcode_free};
    int modules() const { return code ? code->width : 21; }
};

Qr encode(const PrintedLine& line) {
    QRecLevel level = QR_ECLEVEL_M;
    switch (line.qrErrorLevel) {
        case 'L': level = QR_ECLEVEL_L; break;
        case 'Q': level = QR_ECLEVEL_Q; break;
        case 'H': level = QR_ECLEVEL_H; break;
        default: break;
    }
    Qr qr;
    if (!line.text.empty()) qr.code.reset(QRcode_encodeString(line.text.c_str(), 0, level, QR_MODE_8, 1));
    return qr;
}

int codePoints(const std::string& utf8) {
    int count = 0;
    for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

int letterDots(const PrintedSpan& span) { return (span.condensed ? 9 : 12) * (span.doubleWidth ? 2 : 1); }

int lineHeight(const PrintedLine& line) {
    switch (line.kind) {
        case PrintedLine::Kind::Text: {
            const bool tall = std::any_of(line.spans.begin(), line.spans.end(),
                                          [](const PrintedSpan& s) { return s.doubleHeight; });
            return tall ? kLineDots + kLetterDots : kLineDots;
        }
        case PrintedLine::Kind::QrCode: {
            const int dots = std::max(1, line.qrModuleDots);
            return (encode(line).modules() + 2 * kQuietModules) * dots;
        }
        case PrintedLine::Kind::Image:
            return line.imageHeightDots;
        case PrintedLine::Kind::Cut:
            return kCutDots;
    }
    return 0;
}

double leftFor(Alignment alignment, double width) {
    if (alignment == Alignment::Centre) return std::max(0.0, (kPaperDots - width) / 2);
    if (alignment == Alignment::Right) return std::max(0.0, kPaperDots - width);
    return 0;
}

void drawText(cairo_t* cr, const PrintedLine& line, double top, int height) {
    double width = 0;
    for (const PrintedSpan& span : line.spans) width += codePoints(span.text) * letterDots(span);
    double x = leftFor(line.alignment, width);
    // One baseline for the line, near the bottom of its letter cells, so tall and short letters stand on it.
    const double baseline = top + height - (kLineDots - kLetterDots) - 5;
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (const PrintedSpan& span : line.spans) {
        const double size = (span.condensed ? 9 : 12) / kAdvancePerSize;
        cairo_select_font_face(cr, "Liberation Mono", span.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                               span.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, size);
        const int step = letterDots(span);
        const double spanStart = x;
        for (std::size_t at = 0; at < span.text.size();) {
            std::size_t length = 1;
            while (at + length < span.text.size() && (static_cast<unsigned char>(span.text[at + length]) & 0xC0) == 0x80) {
                ++length;
            }
            const std::string letter = span.text.substr(at, length);
            at += length;
            // Letter by letter at the printer's pitch, so a glyph from a fallback font cannot shift the rest.
            cairo_save(cr);
            cairo_translate(cr, x, baseline);
            cairo_scale(cr, span.doubleWidth ? 2 : 1, span.doubleHeight ? 2 : 1);
            cairo_move_to(cr, 0, 0);
            cairo_show_text(cr, letter.c_str());
            cairo_restore(cr);
            x += step;
        }
        if (span.underline) {
            cairo_rectangle(cr, spanStart, baseline + 2, x - spanStart, span.doubleHeight ? 3 : 2);
            cairo_fill(cr);
        }
    }
}

void drawQr(cairo_t* cr, const PrintedLine& line, double top) {
    const Qr qr = encode(line);
    const int dots = std::max(1, line.qrModuleDots);
    const int side = qr.modules() * dots;
    const double left = leftFor(line.alignment, side);
    const double symbolTop = top + kQuietModules * dots;
    if (!qr.code) {
        // A payload no QR code can hold: a grey box where the printer would print nothing readable.
        cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
        cairo_rectangle(cr, left, symbolTop, side, side);
        cairo_fill(cr);
        return;
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int y = 0; y < qr.code->width; ++y) {
        for (int x = 0; x < qr.code->width; ++x) {
            if (qr.code->data[y * qr.code->width + x] & 1) {
                cairo_rectangle(cr, left + x * dots, symbolTop + y * dots, dots, dots);
            }
        }
    }
    cairo_fill(cr);
}

void drawImage(cairo_t* cr, const PrintedLine& line, double top) {
    const int width = line.imageWidthDots, height = line.imageHeightDots;
    if (width <= 0 || height <= 0) return;
    Surface picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), cairo_surface_destroy);
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) return;  // larger than Cairo draws
    cairo_surface_flush(picture.get());
    unsigned char* data = cairo_image_surface_get_data(picture.get());
    const int stride = cairo_image_surface_get_stride(picture.get());
    const std::size_t rowBytes = static_cast<std::size_t>(width / 8);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x / 8);
            const bool black = at < line.imageBits.size() && (line.imageBits[at] & (0x80 >> (x % 8)));
            row[x] = black ? 0xFF000000u : 0x00000000u;
        }
    }
    cairo_surface_mark_dirty(picture.get());
    cairo_set_source_surface(cr, picture.get(), leftFor(line.alignment, width), top);
    cairo_paint(cr);
}

void drawCut(cairo_t* cr, double top) {
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
    const double dash[] = {8, 6};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, 0, top + kCutDots / 2.0);
    cairo_line_to(cr, kPaperDots, top + kCutDots / 2.0);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

}  // namespace

std::string renderReceiptPng(const PrintedReceipt& receipt, const std::string& pngPath) {
    std::vector<int> heights;
    long long total = 2 * kMargin;
    for (const PrintedLine& line : receipt.lines) {
        heights.push_back(lineHeight(line));
        total += heights.back();
    }
    std::string note;
    if (total > kMaxHeight) {
        note = "papel longo demais para uma imagem: cortado em " + std::to_string(kMaxHeight) + " pontos";
        total = kMaxHeight;
    }
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPaperDots, static_cast<int>(total)),
                    cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()), cairo_destroy);
    cairo_t* cr = context.get();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    // Letters drawn on a thermal head's grid: no sub-pixel positioning that would blur them.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);

    double top = kMargin;
    for (std::size_t i = 0; i < receipt.lines.size() && top < total; ++i) {
        const PrintedLine& line = receipt.lines[i];
        switch (line.kind) {
            case PrintedLine::Kind::Text: drawText(cr, line, top, heights[i]); break;
            case PrintedLine::Kind::QrCode: drawQr(cr, line, top); break;
            case PrintedLine::Kind::Image: drawImage(cr, line, top); break;
            case PrintedLine::Kind::Cut: drawCut(cr, top); break;
        }
        top += heights[i];
    }
    cairo_surface_flush(surface.get());
    if (cairo_surface_write_to_png(surface.get(), pngPath.c_str()) != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error("Não foi possível gravar " + pngPath);
    }
    return note;
}

}  // namespace quorvanti::receipt
