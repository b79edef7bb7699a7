#include "printing/devices/escpos_commands.h"

#include <qrencode.h>

#include <algorithm>
#include <memory>

namespace quorvanti::printing::devices {
namespace {

constexpr char ESC = 0x1B;
constexpr char GS = 0x1D;
// Some printers refuse raster images taller than this in one command.
constexpr int kRasterBandRows = 1024;

std::string qrFunction(char function, std::string_view parameters) {
    const std::size_t length = parameters.size() + 2;
    std::string out{GS, '(', 'k', static_cast<char>(length & 0xFF), static_cast<char>(length >> 8), '1', function};
    out += parameters;
    return out;
}

bool isDark(std::uint32_t argb) {
    const std::uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return a >= 128 && (r * 299 + g * 587 + b * 114) < 128 * 1000;
}

}  // namespace

int characterDots(const TextStyle& style) { return (style.condensed ? 9 : 12) * (style.doubleWidth ? 2 : 1); }

int qrSymbolModules(std::string_view payload) {
    if (payload.empty() || payload.find('\0') != std::string_view::npos) return 0;
    const std::string text(payload);
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (code == nullptr) return 0;
    const int width = code->width;
    QRcode_free(code);
    return width;
}

int qrModuleDots(int modules, int requested, int paperDots) {
    int dots = std::clamp(requested, 1, 16);
    if (modules <= 0) return dots;
    while (dots < 16 && dots * modules < kMinQrWidthDots) ++dots;
    while (dots > 1 && dots * modules > paperDots) --dots;
    return dots;
}

std::optional<TextStyle> vendorTextStyle(int letterType, int italic, int underline, int expanded, int bold) {
    auto flag = [](int value) { return value == 0 || value == 1; };
    if (letterType < 1 || letterType > 3 || !flag(italic) || !flag(underline) || !flag(expanded) || !flag(bold)) {
        return std::nullopt;
    }
    TextStyle style;
    style.condensed = letterType == 1;
    style.italic = italic == 1;
    style.underline = underline == 1;
    style.doubleWidth = expanded == 1;
    style.bold = bold == 1;
    return style;
}

EscPosJob::EscPosJob(CodePage page, int paperDots) : page_(page), paperDots_(paperDots) {}

void EscPosJob::start() {
    bytes_ += std::string{ESC, '@'};
    bytes_ += selectCodePage(page_);
    style_ = {};
    alignment_ = TextAlignment::Left;
    styleKnown_ = alignmentKnown_ = true;
    atLineStart_ = true;
}

void EscPosJob::raw(std::string_view bytes) {
    bytes_ += bytes;
    styleKnown_ = alignmentKnown_ = false;
    // A command (ESC a 1) leaves the line where it was; text moves it.
    if (!bytes.empty() && bytes[0] != ESC && bytes[0] != GS) atLineStart_ = bytes.back() == '\n';
}

void EscPosJob::text(std::string_view utf8) {
    if (utf8.empty()) return;
    bytes_ += encodeText(utf8, page_);
    atLineStart_ = utf8.back() == '\n';
}

void EscPosJob::lineFeed() {
    bytes_ += '\n';
    atLineStart_ = true;
}

void EscPosJob::setAlignment(TextAlignment alignment) {
    if (!atLineStart_ || (alignmentKnown_ && alignment == alignment_)) return;
    bytes_ += std::string{ESC, 'a', static_cast<char>(alignment == TextAlignment::Left ? 0
                                                      : alignment == TextAlignment::Centre ? 1 : 2)};
    alignment_ = alignment;
    alignmentKnown_ = true;
}

void EscPosJob::setStyle(const TextStyle& style) { sendStyle(style, !styleKnown_); }

void EscPosJob::sendStyle(const TextStyle& style, bool all) {
    if (all || style.bold != style_.bold) bytes_ += std::string{ESC, 'E', static_cast<char>(style.bold)};
    if (all || style.italic != style_.italic) bytes_ += std::string{ESC, style.italic ? '4' : '5'};
    if (all || style.underline != style_.underline) bytes_ += std::string{ESC, '-', static_cast<char>(style.underline)};
    if (all || style.condensed != style_.condensed) bytes_ += std::string{ESC, 'M', static_cast<char>(style.condensed)};
    if (all || style.doubleHeight != style_.doubleHeight || style.doubleWidth != style_.doubleWidth) {
        bytes_ += std::string{GS, '!', static_cast<char>((style.doubleWidth ? 0x10 : 0) | (style.doubleHeight ? 0x01 : 0))};
    }
    style_ = style;
    styleKnown_ = true;
}

bool EscPosJob::qrCode(std::string_view payload, int requestedModuleDots) {
    const int modules = qrSymbolModules(payload);
    if (modules == 0) return false;
    if (!atLineStart_) lineFeed();
    const int dots = qrModuleDots(modules, requestedModuleDots, paperDots_);
    bytes_ += qrFunction('A', std::string{'2', '\0'});             // model 2
    bytes_ += qrFunction('C', std::string(1, static_cast<char>(dots)));  // module size
    bytes_ += qrFunction('E', "1");                                 // level M
    bytes_ += qrFunction('P', "0" + std::string(payload));          // store the data
    bytes_ += qrFunction('Q', "0");                                 // print the symbol
    atLineStart_ = true;
    return true;
}

void EscPosJob::image(const Picture& picture) {
    if (picture.empty()) return;
    if (!atLineStart_) lineFeed();
    const int width = std::min(picture.widthPixels, paperDots_);
    const int height = static_cast<int>(static_cast<long long>(picture.heightPixels) * width / picture.widthPixels);
    if (height <= 0) return;
    const int rowBytes = (width + 7) / 8;
    for (int top = 0; top < height; top += kRasterBandRows) {
        const int rows = std::min(kRasterBandRows, height - top);
        bytes_ += std::string{GS, 'v', '0', '\0', static_cast<char>(rowBytes & 0xFF), static_cast<char>(rowBytes >> 8),
                              static_cast<char>(rows & 0xFF), static_cast<char>(rows >> 8)};
        for (int y = top; y < top + rows; ++y) {
            // Nearest pixel of the source when the picture was narrowed to the paper.
            const long long sourceY = static_cast<long long>(y) * picture.heightPixels / height;
            std::string row(static_cast<std::size_t>(rowBytes), '\0');
            for (int x = 0; x < width; ++x) {
                const long long sourceX = static_cast<long long>(x) * picture.widthPixels / width;
                if (isDark(picture.pixels[static_cast<std::size_t>(sourceY * picture.widthPixels + sourceX)])) {
                    row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
                }
            }
            bytes_ += row;
        }
    }
    atLineStart_ = true;
}

void EscPosJob::cut(bool partial) {
    if (!atLineStart_) lineFeed();
    bytes_ += std::string{GS, 'V', partial ? 'B' : 'A', '\0'};
    atLineStart_ = true;
}

std::string EscPosJob::takeBytes() {
    std::string out;
    out.swap(bytes_);
    return out;
}

}  // namespace quorvanti::printing::devices
