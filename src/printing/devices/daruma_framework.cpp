#include "printing/devices/daruma_framework.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "printing/devices/escpos_commands.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_port.h"

namespace quorvanti::printing::devices {
namespace {

constexpr int kDefaultQrModuleDots = 4;

std::size_t codePoints(std::string_view utf8) {
    std::size_t count = 0;
    for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// The first `count` characters of `utf8`.
std::string_view firstCharacters(std::string_view utf8, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < utf8.size(); ++at) {
        if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80 && seen++ == count) break;
    }
    return utf8.substr(0, at);
}

std::string lower(std::string_view text) {
    std::string out;
    for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

class MarkupPrinter {
public:
    MarkupPrinter(EscPosJob& job, MarkupTags tags) : job_(job), daruma_(tags == MarkupTags::Daruma) {}

    std::string print(std::string_view markup) {
        for (std::size_t at = 0; at < markup.size();) {
            const char c = markup[at];
            if (c == '<') {
                at = tag(markup, at);
            } else if (c == '\n') {
                endLine();
                ++at;
            } else if (c == '\r') {
                ++at;  // CR LF ends a line at its LF; a lone CR moves nothing on a receipt printer
            } else {
                add(markup.substr(at, 1));
                ++at;
            }
        }
        // What follows the last line break prints unless it is only blanks (the blank after a cut).
        bool visible = false;
        for (const Segment& segment : line_) {
            visible = visible || segment.text.find_first_not_of(' ') != std::string::npos;
        }
        if (visible) endLine();
        job_.setStyle({});
        return problem_;
    }

private:
    struct Segment {
        TextStyle style;
        bool pushedRight = false;
        std::string text;
    };

    // Handles the tag at `at`; answers where reading goes on.
    std::size_t tag(std::string_view markup, std::size_t at) {
        // A "<" that no ">" closes before the next "<" or line break is a plain character ("3 < 4").
        const std::size_t close = markup.find_first_of("<>\r\n", at + 1);
        if (close == std::string_view::npos || markup[close] != '>') {
            add("<");
            return at + 1;
        }
        const std::string_view written = markup.substr(at, close + 1 - at);
        const std::string name = lower(written.substr(1, written.size() - 2));
        const std::size_t next = close + 1;
        if (name == "ce") {
            alignment_ = TextAlignment::Centre;
        } else if (name == "/ce") {
            if (alignment_ == TextAlignment::Centre) alignment_ = TextAlignment::Left;
        } else if (name == "b" || name == "/b") {
            toggle(style_.bold, name);
        } else if (name == "c" || name == "/c") {
            toggle(style_.condensed, name);
        } else if (name == "qrcode") {
            return qrCode(markup, next, written);
        } else if (daruma_ && (name == "i" || name == "/i")) {
            toggle(style_.italic, name);
        } else if (daruma_ && (name == "da" || name == "/da")) {
            toggle(style_.doubleHeight, name);
        } else if (daruma_ && name == "n") {
            if (!inNormal_) saved_ = style_;
            inNormal_ = true;
            style_ = {};
        } else if (daruma_ && name == "/n") {
            if (inNormal_) style_ = saved_;
            inNormal_ = false;
        } else if (daruma_ && name == "ad") {
            pushedRight_ = true;
        } else if (daruma_ && name == "/ad") {
            pushedRight_ = false;
        } else if (daruma_ && name == "tc") {
            const std::size_t end = markup.find("</tc>", next);
            if (end == std::string_view::npos) {
                add(written);
                return next;
            }
            std::string_view fill = markup.substr(next, end - next);
            if (fill.empty()) fill = "-";
            std::string run;
            while (codePoints(run) < static_cast<std::size_t>(kColumns)) run += fill;
            add(firstCharacters(run, kColumns));
            return end + 5;
        } else if (daruma_ && name == "gui") {
            if (!line_.empty()) endLine();
            job_.cut(false);
        } else if (daruma_ && name == "/gui") {
            // the cut was made at <gui>
        } else {
            add(written);
        }
        return next;
    }

    void toggle(bool& effect, const std::string& name) { effect = name[0] == '/' ? false : !effect; }

    std::size_t qrCode(std::string_view markup, std::size_t from, std::string_view written) {
        const std::size_t end = lower(markup.substr(from)).find("</qrcode>");
        if (end == std::string_view::npos) {
            add(written);
            return from;
        }
        std::string payload(markup.substr(from, end));
        int moduleDots = kDefaultQrModuleDots;
        const std::string folded = lower(payload);
        if (const std::size_t open = folded.find("<lmodulo>"); open != std::string::npos) {
            const std::size_t shut = folded.find("</lmodulo>", open);
            if (shut != std::string::npos) {
                const std::string number = payload.substr(open + 9, shut - open - 9);
                if (!number.empty() && number.size() < 3 &&
                    number.find_first_not_of("0123456789") == std::string::npos) {
                    moduleDots = std::stoi(number);
                }
                payload.erase(open, shut + 10 - open);
            }
        }
        if (!line_.empty()) endLine();
        job_.setAlignment(alignment_);
        if (!job_.qrCode(payload, moduleDots)) problem_ = "QR Code sem texto ou grande demais";
        return from + end + 9;
    }

    void add(std::string_view text) {
        const bool pushed = daruma_ && pushedRight_;
        if (line_.empty()) lineAlignment_ = pushed ? TextAlignment::Right : alignment_;
        if (line_.empty() || line_.back().style != style_ || line_.back().pushedRight != pushed) {
            line_.push_back({style_, pushed, {}});
        }
        line_.back().text += text;
    }

    void endLine() {
        job_.setAlignment(line_.empty() ? alignment_ : lineAlignment_);
        int usedDots = 0;
        for (std::size_t i = 0; i < line_.size(); ++i) {
            Segment& segment = line_[i];
            const int dots = characterDots(segment.style);
            const int width = static_cast<int>(codePoints(segment.text)) * dots;
            if (segment.pushedRight && i > 0 && lineAlignment_ == TextAlignment::Left) {
                const int blanks = (job_.paperDots() - usedDots - width) / dots;
                if (blanks > 0) {
                    segment.text.insert(0, static_cast<std::size_t>(blanks), ' ');
                    usedDots += blanks * dots;
                }
            }
            usedDots += width;
            job_.setStyle(segment.style);
            job_.text(segment.text);
        }
        job_.lineFeed();
        line_.clear();
    }

    EscPosJob& job_;
    bool daruma_;
    TextStyle style_;
    TextStyle saved_;
    bool inNormal_ = false;
    bool pushedRight_ = false;
    TextAlignment alignment_ = TextAlignment::Left;
    TextAlignment lineAlignment_ = TextAlignment::Left;
    std::vector<Segment> line_;
    std::string problem_;
};

}  // namespace

std::string printTagMarkup(EscPosJob& job, std::string_view markup, MarkupTags tags) {
    return MarkupPrinter(job, tags).print(markup);
}

DarumaFramework::DarumaFramework(DeviceSettings settings) : settings_(std::move(settings)) {}

int DarumaFramework::iImprimirTexto_DUAL_DarumaFramework(const std::string& markup, int /*lines*/) {
    lastProblem_.clear();
    PortOpening opening = openPort(settings_.darumaPort, settings_.folders);
    if (!opening.port) {
        lastProblem_ = opening.problem;
        return opening.code;
    }
    EscPosJob job(settings_.darumaCodePage);
    job.start();
    const std::string markupProblem = printTagMarkup(job, markup, MarkupTags::Daruma);
    opening.port->write(job.bytes());
    if (std::string problem = opening.port->close(); !problem.empty()) {
        lastProblem_ = problem;
        return -1;
    }
    lastProblem_ = markupProblem;
    return 1;
}

int DarumaFramework::eGerarQrCodeArquivo_DUAL_DarumaFramework(const std::string& bitmapPath, const std::string& text) {
    lastProblem_.clear();
    const int modules = qrSymbolModules(text);
    if (modules == 0) {
        lastProblem_ = "QR Code sem texto ou grande demais";
        return 0;
    }
    // One pixel per printer dot: at least 25 mm wide when printed as a downloaded bitmap.
    const int modulePixels = std::max(4, (kMinQrWidthDots + modules - 1) / modules);
    try {
        writeQrBitmap(bitmapPath, text, modulePixels);
    } catch (const PictureError& e) {
        lastProblem_ = e.what();
        return -1;
    }
    return 1;
}

}  // namespace quorvanti::printing::devices
