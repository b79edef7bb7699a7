#include "receipt/pdf_layout.h"

#include <glib.h>
#include <poppler.h>

#include <algorithm>
#include <memory>
#include <set>
#include <stdexcept>

namespace quorvanti::receipt {
namespace {

// Glyph boxes carry the font's ascent and descent: touching lines overlap by a hair.
constexpr double kTolerance = 0.5;

struct DocumentDeleter {
    void operator()(PopplerDocument* document) const { g_object_unref(document); }
};

bool overlaps(const DrawnBox& a, const DrawnBox& b) {
    return a.x0 < b.x1 - kTolerance && b.x0 < a.x1 - kTolerance && a.y0 < b.y1 - kTolerance && b.y0 < a.y1 - kTolerance;
}

// One box per text line, from the boxes of its visible characters.
void addTextLines(PopplerPage* page, DrawnPage& out) {
    // Read beyond the page on every side: the text a layout drew past the paper is what is looked for.
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    PopplerRectangle around{-width, -height, 2 * width, 2 * height};
    char* text = poppler_page_get_text_for_area(page, &around);
    PopplerRectangle* rects = nullptr;
    guint count = 0;
    if (text != nullptr && poppler_page_get_text_layout_for_area(page, &around, &rects, &count)) {
        DrawnBox line;
        bool open = false;
        guint index = 0;
        for (const char* at = text; *at != '\0' && index < count; at = g_utf8_next_char(at), ++index) {
            const gunichar c = g_utf8_get_char(at);
            if (c == '\n') {
                if (open) out.boxes.push_back(line);
                line = DrawnBox{};
                open = false;
                continue;
            }
            line.text.append(at, static_cast<std::size_t>(g_utf8_next_char(at) - at));
            if (g_unichar_isspace(c)) continue;
            const PopplerRectangle& r = rects[index];
            out.glyphs.push_back({{r.x1, r.y1, r.x2, r.y2, false, std::string(at, static_cast<std::size_t>(g_utf8_next_char(at) - at))}, out.boxes.size()});
            if (!open) line.x0 = r.x1, line.y0 = r.y1, line.x1 = r.x2, line.y1 = r.y2;
            line.x0 = std::min(line.x0, r.x1), line.y0 = std::min(line.y0, r.y1);
            line.x1 = std::max(line.x1, r.x2), line.y1 = std::max(line.y1, r.y2);
            open = true;
        }
        if (open) out.boxes.push_back(line);
    }
    g_free(rects);
    g_free(text);
}

}  // namespace

std::vector<DrawnPage> drawnPages(const std::string& pdfPath) {
    GError* error = nullptr;
    gchar* absolute = g_canonicalize_filename(pdfPath.c_str(), nullptr);
    gchar* uri = g_filename_to_uri(absolute, nullptr, &error);
    g_free(absolute);
    std::unique_ptr<PopplerDocument, DocumentDeleter> document(
        uri != nullptr ? poppler_document_new_from_file(uri, nullptr, &error) : nullptr);
    g_free(uri);
    if (!document) {
        const std::string reason = error != nullptr ? error->message : "caminho inválido";
        g_clear_error(&error);
        throw std::runtime_error("Não foi possível ler o PDF " + pdfPath + ": " + reason);
    }
    std::vector<DrawnPage> pages;
    for (int n = 0; n < poppler_document_get_n_pages(document.get()); ++n) {
        PopplerPage* page = poppler_document_get_page(document.get(), n);
        DrawnPage drawn;
        poppler_page_get_size(page, &drawn.width, &drawn.height);
        addTextLines(page, drawn);
        GList* images = poppler_page_get_image_mapping(page);
        for (GList* at = images; at != nullptr; at = at->next) {
            const PopplerRectangle& area = static_cast<PopplerImageMapping*>(at->data)->area;
            drawn.boxes.push_back({area.x1, area.y1, area.x2, area.y2, true, {}});
        }
        poppler_page_free_image_mapping(images);
        g_object_unref(page);
        pages.push_back(std::move(drawn));
    }
    return pages;
}

std::vector<std::string> layoutProblems(const std::vector<DrawnPage>& pages) {
    std::vector<std::string> problems;
    const auto name = [](const DrawnBox& box) { return box.picture ? std::string("picture") : "\"" + box.text + "\""; };
    for (std::size_t n = 0; n < pages.size(); ++n) {
        const DrawnPage& page = pages[n];
        const std::string where = "page " + std::to_string(n + 1) + ": ";
        for (std::size_t i = 0; i < page.boxes.size(); ++i) {
            const DrawnBox& box = page.boxes[i];
            if (box.x0 < -kTolerance || box.x1 > page.width + kTolerance)
                problems.push_back(where + name(box) + " passes the page's width");
            if (box.y0 < -kTolerance || box.y1 > page.height + kTolerance)
                problems.push_back(where + name(box) + " passes the page's bottom");
            for (std::size_t j = i + 1; j < page.boxes.size(); ++j) {
                if ((box.picture || page.boxes[j].picture) && overlaps(box, page.boxes[j]))
                    problems.push_back(where + name(box) + " overlaps " + name(page.boxes[j]));
            }
        }
        // Characters over characters: glyphs sorted by their left edge, each compared with those that
        // start before it ends. Told once per pair of lines.
        std::vector<std::pair<DrawnBox, std::size_t>> glyphs = page.glyphs;
        std::sort(glyphs.begin(), glyphs.end(), [](const auto& a, const auto& b) { return a.first.x0 < b.first.x0; });
        std::set<std::pair<std::size_t, std::size_t>> told;
        for (std::size_t i = 0; i < glyphs.size(); ++i) {
            for (std::size_t j = i + 1; j < glyphs.size() && glyphs[j].first.x0 < glyphs[i].first.x1 - kTolerance; ++j) {
                if (!overlaps(glyphs[i].first, glyphs[j].first)) continue;
                const auto lines = std::minmax(glyphs[i].second, glyphs[j].second);
                if (told.insert(lines).second)
                    problems.push_back(where + name(page.boxes[lines.first]) + " is drawn over " +
                                       (lines.first == lines.second ? "itself" : name(page.boxes[lines.second])));
            }
        }
    }
    return problems;
}

}  // namespace quorvanti::receipt
