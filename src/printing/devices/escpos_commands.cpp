#include "printing/devices/escpos_commands.h"


#include <algorithm>
#include <iterator>
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

// Data codewords of the versions 1-40 at level M (ISO/IEC 18004 table 7).
constexpr int kDataCodewordsM[40] = {16,   28,   44,   64,   86,   108,  124,  154,  182,  216,  254,  290,  334,  365,
                                     415,  453,  507,  563,  627,  669,  714,  782,  860,  914,  1000, 1062, 1128, 1193,
                                     1267, 1373, 1455, 1541, 1631, 1725, 1812, 1914, 1992, 2102, 2216, 2334};

bool isAlphanumeric(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == ' ' || c == '$' || c == '%' || c == '*' ||
           c == '+' || c == '-' || c == '.' || c == '/' || c == ':';
}

// The fewest bits (times 6, so a digit's 10/3 and a letter's 11/2 stay whole) of the payload split into
// numeric, alphanumeric and byte segments, with the character-count lengths of one version class.
long long leastBits(std::string_view payload, int versionClass) {
    constexpr int kCountBits[3][3] = {{10, 9, 8}, {12, 11, 16}, {14, 13, 16}};  // numeric, alphanumeric, byte
    constexpr int kCharacterCost[3] = {20, 33, 48};
    constexpr long long kNone = 1LL << 60;
    long long cost[3] = {kNone, kNone, kNone};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(payload[i]);
        const bool allowed[3] = {c >= '0' && c <= '9', isAlphanumeric(c), true};
        long long next[3];
        for (int mode = 0; mode < 3; ++mode) {
            if (!allowed[mode]) {
                next[mode] = kNone;
                continue;
            }
            const long long header = 6LL * (4 + kCountBits[versionClass][mode]);
            long long best = i == 0 ? header : kNone;
            for (int previous = 0; previous < 3; ++previous) {
                if (cost[previous] >= kNone) continue;
                best = std::min(best, cost[previous] + (previous == mode ? 0 : header));
            }
            next[mode] = best + kCharacterCost[mode];
        }
        std::copy(std::begin(next), std::end(next), std::begin(cost));
    }
    return *std::min_element(std::begin(cost), std::end(cost));
}

}  // namespace

int characterDots(const TextStyle& style) { return (style.condensed ? 9 : 12) * (style.doubleWidth ? 2 : 1); }

// The smallest version the payload fits at level M, by the bit count of its best segmentation: what a
// printer's encoder can do at best, so a module size chosen from it never gives a symbol under 25 mm.
// (libqrencode would give the same count, but its mask selection costs a millisecond per receipt.)
int qrSymbolModules(std::string_view payload) {
    if (payload.empty()) return 0;
    constexpr int kClassEnd[3] = {9, 26, 40};
    int version = 1;
    for (int versionClass = 0; versionClass < 3; ++versionClass) {
        const long long bits = (leastBits(payload, versionClass) + 5) / 6;
        for (; version <= kClassEnd[versionClass]; ++version) {
            if (bits <= 8LL * kDataCodewordsM[version - 1]) return 17 + 4 * version;
        }
    }
    return 0;
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

PortJob::~PortJob() {
    std::string ignored;
    close(ignored);
}

int PortJob::open(const std::string& portText, const DeviceFolders& folders, CodePage page, int paperDots,
                  std::string& problem) {
    close(problem);
    problem.clear();
    PortOpening opening = openPort(portText, folders);
    if (!opening.port) {
        problem = opening.problem;
        return opening.code;
    }
    port_ = std::move(opening.port);
    escPos_.emplace(page, paperDots);
    escPos_->start();
    return 1;
}

int PortJob::close(std::string& problem) {
    problem.clear();
    if (!port_) return 1;
    std::unique_ptr<PrinterPort> port = std::move(port_);
    port->write(escPos_->bytes());
    escPos_.reset();
    problem = port->close();
    return problem.empty() ? 1 : 0;
}

bool PortJob::ready(std::string& problem) const {
    problem.clear();
    if (port_) return true;
    problem = "Porta da impressora " + vendor_ + " não aberta (IniciaPorta)";
    return false;
}

int PortJob::formattedText(const std::string& text, int letterType, int italic, int underline, int expanded,
                           int bold, std::optional<TextAlignment> alignment, std::string& problem) {
    if (!ready(problem)) return 0;
    const auto style = vendorTextStyle(letterType, italic, underline, expanded, bold);
    if (!style) {
        problem = "Formatação de texto inválida";
        return 0;
    }
    if (alignment) escPos_->setAlignment(*alignment);
    escPos_->setStyle(*style);
    escPos_->text(text);
    escPos_->setStyle({});
    return 1;
}

}  // namespace quorvanti::printing::devices
