// The drawing is recorded and only rendered at EndDoc, because a receipt roll's page is as long as
// what was drawn on it, which is known only at the end. Cairo draws in points: 1 pt = 20 twips.
#include "printing/devices/printer_object.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <variant>
#include <vector>

#include "platform/text_encoding.h"
#include "printing/devices/cups_queue.h"

namespace quorvanti::printing::devices {
namespace {

constexpr double kTwipsPerPoint = 20;
constexpr double kRollWidth = 4535;  // 80 mm
constexpr double kA4Width = 11906;
constexpr double kA4Height = 16838;
constexpr double kRollBottomMargin = 360;  // paper fed past the last line, a quarter inch
constexpr double kLineWidth = 10;          // a thin rule, half a point
// PDF pages are at most 200 inches long; a longer roll is cut into pages of that length.
constexpr double kMaxPageLength = 200 * 1440;
// Positions further away than this are nowhere on paper; Cairo's fixed-point numbers end not far past.
constexpr double kFarthest = 1e7;

constexpr int kErrorPrinter = 482;
constexpr int kErrorNoPrinter = 484;
constexpr int kErrorInvalidName = 1801;

struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Context = std::unique_ptr<cairo_t, CairoDeleter>;
using SurfaceHandle = std::unique_ptr<cairo_surface_t, CairoDeleter>;

struct Font {
    std::string family;
    double size = 8;  // points
    bool bold = false;
};

struct TextItem {
    double x, baseline;  // twips
    Font font;
    std::string text;
};
struct PictureItem {
    double x, y, width, height;  // twips
    std::shared_ptr<cairo_surface_t> image;
};
struct LineItem {
    double x1, y1, x2, y2;
    bool filledBox;
};
using Item = std::variant<TextItem, PictureItem, LineItem>;

struct DrawnPage {
    std::vector<Item> items;
    double bottom = 0;  // the lowest point drawn, twips
};

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The free fonts with the metrics of the original's; anything else is drawn in the sans-serif one.
std::string familyFor(const std::string& fontName) {
    std::string name = lowerAscii(fontName);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (name == "courier new" || name == "courier") return "Liberation Mono";
    if (name == "arial narrow") return "Liberation Sans Narrow";
    if (name.rfind("liberation ", 0) == 0) return fontName;
    return "Liberation Sans";
}

// Cairo stops drawing altogether on invalid UTF-8; a stray Windows-1252 byte from the shop's data
// is drawn as the character it stands for instead.
std::string validUtf8(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = platform::utf8SequenceAt(text, at, codePoint);
        if (length == 0 || codePoint == 0) {
            if (text[at] != '\0') result += platform::windows1252ToUtf8(std::string_view(text).substr(at, 1));
            ++at;
        } else {
            result.append(text, at, length);
            at += length;
        }
    }
    return result;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

bool usable(double value) { return std::isfinite(value) && std::fabs(value) < kFarthest; }

void applyFont(cairo_t* cr, const Font& font) {
    cairo_select_font_face(cr, font.family.c_str(), CAIRO_FONT_SLANT_NORMAL,
                           font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font.size);
}

// Cairo's image surfaces hold premultiplied alpha; the picture's pixels are plain 0xAARRGGBB.
std::shared_ptr<cairo_surface_t> imageOf(const Picture& picture) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.widthPixels, picture.heightPixels);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; row < picture.heightPixels; ++row) {
        auto* target = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(row) * stride);
        const std::uint32_t* source = picture.pixels.data() + static_cast<std::size_t>(row) * picture.widthPixels;
        for (int column = 0; column < picture.widthPixels; ++column) {
            const std::uint32_t pixel = source[column];
            const std::uint32_t alpha = pixel >> 24;
            if (alpha == 255) {
                target[column] = pixel;
                continue;
            }
            auto premultiply = [alpha](std::uint32_t channel) { return (channel * alpha + 127) / 255; };
            target[column] = alpha << 24 | premultiply(pixel >> 16 & 0xFF) << 16 |
                             premultiply(pixel >> 8 & 0xFF) << 8 | premultiply(pixel & 0xFF);
        }
    }
    cairo_surface_mark_dirty(surface);
    return std::shared_ptr<cairo_surface_t>(surface, cairo_surface_destroy);
}

void drawItem(cairo_t* cr, const Item& item) {
    cairo_save(cr);
    if (const auto* text = std::get_if<TextItem>(&item)) {
        applyFont(cr, text->font);
        cairo_move_to(cr, text->x / kTwipsPerPoint, text->baseline / kTwipsPerPoint);
        cairo_show_text(cr, text->text.c_str());
    } else if (const auto* picture = std::get_if<PictureItem>(&item)) {
        const double width = cairo_image_surface_get_width(picture->image.get());
        const double height = cairo_image_surface_get_height(picture->image.get());
        cairo_translate(cr, picture->x / kTwipsPerPoint, picture->y / kTwipsPerPoint);
        cairo_scale(cr, picture->width / kTwipsPerPoint / width, picture->height / kTwipsPerPoint / height);
        cairo_set_source_surface(cr, picture->image.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_rectangle(cr, 0, 0, width, height);
        cairo_fill(cr);
    } else if (const auto* line = std::get_if<LineItem>(&item)) {
        if (line->filledBox) {
            cairo_rectangle(cr, std::min(line->x1, line->x2) / kTwipsPerPoint,
                            std::min(line->y1, line->y2) / kTwipsPerPoint,
                            std::fabs(line->x2 - line->x1) / kTwipsPerPoint,
                            std::fabs(line->y2 - line->y1) / kTwipsPerPoint);
            cairo_fill(cr);
        } else {
            cairo_set_line_width(cr, kLineWidth / kTwipsPerPoint);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
            cairo_move_to(cr, line->x1 / kTwipsPerPoint, line->y1 / kTwipsPerPoint);
            cairo_line_to(cr, line->x2 / kTwipsPerPoint, line->y2 / kTwipsPerPoint);
            cairo_stroke(cr);
        }
    }
    cairo_restore(cr);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// Writes the whole document to `path` (0640 at most); with `exclusive` only when no such file exists.
// Answers 0 or the errno.
int writeFile(const std::string& path, const std::string& bytes, bool exclusive) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC), 0640);
    if (fd < 0) return errno;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return error;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

}  // namespace

struct PrinterObject::Surface {
    Surface() {
        // Measured as the PDF will draw: unhinted outlines and metrics, in points.
        measuringImage.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
        measuring.reset(cairo_create(measuringImage.get()));
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_set_font_options(measuring.get(), options);
        cairo_font_options_destroy(options);
    }

    // Twips.
    double width(const Font& font, const std::string& line) {
        applyFont(measuring.get(), font);
        cairo_text_extents_t extents;
        cairo_text_extents(measuring.get(), line.c_str(), &extents);
        return extents.x_advance * kTwipsPerPoint;
    }
    cairo_font_extents_t metrics(const Font& font) {
        applyFont(measuring.get(), font);
        cairo_font_extents_t extents;
        cairo_font_extents(measuring.get(), &extents);
        return extents;
    }

    DrawnPage& current(Paper paper) {
        if (pages.empty()) pagePaper = paper;
        if (pages.empty()) pages.emplace_back();
        return pages.back();
    }
    void add(Paper paper, Item item, double bottom) {
        DrawnPage& page = current(paper);
        page.items.push_back(std::move(item));
        page.bottom = std::max(page.bottom, bottom);
    }

    SurfaceHandle measuringImage;
    Context measuring;
    std::vector<DrawnPage> pages;  // empty until something is drawn
    Paper pagePaper = Paper::Roll80mm;
};

PrinterObject::PrinterObject() : deviceName_(cupsDefaultQueue()), surface_(std::make_unique<Surface>()) {}

PrinterObject::~PrinterObject() = default;

namespace {

Font fontOf(const std::string& name, double size, bool bold) {
    // Sizes Cairo cannot draw (zero, negative, not a number) fall back to the object's default.
    const double points = std::isfinite(size) && size > 0 ? std::min(size, 1000.0) : 8;
    return Font{familyFor(name), points, bold};
}

}  // namespace

void PrinterObject::setPaper(Paper paper) { paper_ = paper; }

double PrinterObject::ScaleWidth() const {
    const Paper paper = surface_->pages.empty() ? paper_ : surface_->pagePaper;
    return paper == Paper::A4 ? kA4Width : kRollWidth;
}

double PrinterObject::ScaleHeight() const {
    const Paper paper = surface_->pages.empty() ? paper_ : surface_->pagePaper;
    return paper == Paper::A4 ? kA4Height : std::numeric_limits<double>::infinity();
}

void PrinterObject::NewPage() {
    if (!surface_->pages.empty() && !surface_->pages.back().items.empty()) surface_->pages.emplace_back();
    CurrentX = 0;
    CurrentY = 0;
}

void PrinterObject::Print(const std::string& text, bool endLine) {
    const Font font = fontOf(FontName, FontSize, FontBold);
    const cairo_font_extents_t metrics = surface_->metrics(font);
    const double lineHeight = metrics.height * kTwipsPerPoint;
    const std::vector<std::string> lines = splitLines(validUtf8(text));
    const Paper paper = surface_->pages.empty() ? paper_ : surface_->pagePaper;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!usable(CurrentX) || !usable(CurrentY)) CurrentX = CurrentY = 0;
        // A line that would pass the bottom of an A4 sheet goes on the next sheet, as the original's did.
        if (paper == Paper::A4 && CurrentY + lineHeight > kA4Height && !surface_->pages.empty() &&
            !surface_->pages.back().items.empty()) {
            surface_->pages.emplace_back();
            CurrentY = 0;
        }
        surface_->add(paper_, TextItem{CurrentX, CurrentY + metrics.ascent * kTwipsPerPoint, font, lines[i]},
                      CurrentY + lineHeight);
        const bool last = i + 1 == lines.size();
        if (last && !endLine) {
            CurrentX += surface_->width(font, lines[i]);
        } else {
            CurrentX = 0;
            CurrentY += lineHeight;
        }
    }
}

double PrinterObject::TextWidth(const std::string& text) const {
    const Font font = fontOf(FontName, FontSize, FontBold);
    double widest = 0;
    for (const std::string& line : splitLines(validUtf8(text))) widest = std::max(widest, surface_->width(font, line));
    return widest;
}

double PrinterObject::TextHeight(const std::string& text) const {
    const Font font = fontOf(FontName, FontSize, FontBold);
    return static_cast<double>(splitLines(text).size()) * surface_->metrics(font).height * kTwipsPerPoint;
}

void PrinterObject::PaintPicture(const Picture& picture, double x, double y, double width, double height) {
    // An empty or damaged picture draws nothing, as a blank picture box did.
    if (picture.widthPixels <= 0 || picture.heightPixels <= 0 ||
        picture.pixels.size() != static_cast<std::size_t>(picture.widthPixels) * picture.heightPixels) {
        return;
    }
    if (!usable(x) || !usable(y) || !usable(width) || !usable(height) || width <= 0 || height <= 0) return;
    std::shared_ptr<cairo_surface_t> image = imageOf(picture);
    if (!image) return;
    surface_->add(paper_, PictureItem{x, y, width, height, std::move(image)}, y + height);
}

void PrinterObject::Line(double x1, double y1, double x2, double y2, bool filledBox) {
    if (!usable(x1) || !usable(y1) || !usable(x2) || !usable(y2)) return;
    surface_->add(paper_, LineItem{x1, y1, x2, y2, filledBox}, std::max(y1, y2) + (filledBox ? 0 : kLineWidth));
    CurrentX = x2;
    CurrentY = y2;
}

void PrinterObject::EndDoc() {
    std::vector<DrawnPage> pages;
    std::swap(pages, surface_->pages);
    const Paper paper = surface_->pagePaper;
    CurrentX = 0;
    CurrentY = 0;
    if (pages.empty()) return;

    const std::string printer = deviceName_;
    if (printer.empty()) {
        throw PrinterError(kErrorNoPrinter, "Nenhuma impressora definida: nem a variável PRINTER nem o CUPS "
                                            "indicam uma impressora padrão");
    }

    // A roll longer than a PDF page may be is cut into pages of the longest length.
    struct Sheet {
        const DrawnPage* page;
        double width, height, offset;  // twips
    };
    std::vector<Sheet> sheets;
    for (const DrawnPage& page : pages) {
        if (paper == Paper::A4) {
            sheets.push_back({&page, kA4Width, kA4Height, 0});
            continue;
        }
        const double length = std::max(page.bottom, 0.0) + kRollBottomMargin;
        for (double offset = 0; offset < length; offset += kMaxPageLength) {
            sheets.push_back({&page, kRollWidth, std::min(kMaxPageLength, length - offset), offset});
        }
    }

    std::string pdf;
    cairo_surface_t* document = cairo_pdf_surface_create_for_stream(
        appendBytes, &pdf, sheets.front().width / kTwipsPerPoint, sheets.front().height / kTwipsPerPoint);
    cairo_pdf_surface_set_metadata(document, CAIRO_PDF_METADATA_TITLE, "Quorvanti");
    cairo_pdf_surface_set_metadata(document, CAIRO_PDF_METADATA_CREATOR, "Quorvanti");
    cairo_t* cr = cairo_create(document);
    for (const Sheet& sheet : sheets) {
        cairo_pdf_surface_set_size(document, sheet.width / kTwipsPerPoint, sheet.height / kTwipsPerPoint);
        cairo_save(cr);
        cairo_translate(cr, 0, -sheet.offset / kTwipsPerPoint);
        cairo_set_source_rgb(cr, 0, 0, 0);
        for (const Item& item : sheet.page->items) drawItem(cr, item);
        cairo_restore(cr);
        cairo_show_page(cr);
    }
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(document);
    const cairo_status_t finished = cairo_surface_status(document);
    cairo_surface_destroy(document);
    if (drawn != CAIRO_STATUS_SUCCESS || finished != CAIRO_STATUS_SUCCESS) {
        throw PrinterError(kErrorPrinter, "Impressora \"" + printer + "\": a página não pôde ser desenhada (" +
                                              cairo_status_to_string(drawn != CAIRO_STATUS_SUCCESS ? drawn : finished) +
                                              ")");
    }

    if (printer.rfind("file:", 0) == 0) {
        const std::string path = printer.substr(5);
        int error = 0;
        std::string target = path;
        if (!path.empty() && path.back() == '/') {
            if (::mkdir(path.c_str(), 0750) != 0 && errno != EEXIST) {
                error = errno;
            } else {
                // The first number not yet taken; O_EXCL keeps two writers from sharing one.
                error = EEXIST;
                for (int number = 1; error == EEXIST && number < 1000000; ++number) {
                    char name[32];
                    std::snprintf(name, sizeof name, "%04d.pdf", number);
                    target = path + name;
                    error = writeFile(target, pdf, true);
                }
            }
        } else {
            error = writeFile(path, pdf, false);
        }
        if (error != 0) {
            throw PrinterError(kErrorPrinter, "Impressora \"" + printer + "\": não foi possível gravar " + target +
                                                  " (" + std::strerror(error) + ")");
        }
        return;
    }
    const std::string problem = cupsSubmit(printer, "Quorvanti", pdf, "application/pdf");
    if (!problem.empty()) throw PrinterError(kErrorPrinter, problem);
}

void PrinterObject::setDefaultPrinter(const std::string& name) {
    const bool fileTarget = name.rfind("file:", 0) == 0 && name.size() > 5;
    if (!fileTarget) {
        // The reason tells a mistyped name from a server that is not there.
        if (std::string problem = cupsQueueProblem(name); !problem.empty())
            throw PrinterError(kErrorInvalidName, "Nome de impressora inválido: \"" + name + "\" (" + problem + ")");
    }
    deviceName_ = name;
}

PrinterObject& Printer() {
    static PrinterObject printer;
    return printer;
}

}  // namespace quorvanti::printing::devices
