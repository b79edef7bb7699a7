#include "receipt/pdf_preview.h"

#include <cairo.h>
#include <glib.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace quorvanti::receipt {
namespace {

template <typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};

}  // namespace

std::vector<std::string> renderPdfPages(const std::string& pdfPath, const std::string& pngPrefix, double dpi) {
    if (!(dpi > 0 && dpi <= 2400)) throw std::runtime_error("Resolução inválida para " + pdfPath);
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(pdfPath.c_str(), nullptr, &error);
    if (uri == nullptr && !g_path_is_absolute(pdfPath.c_str())) {
        g_clear_error(&error);
        gchar* absolute = g_canonicalize_filename(pdfPath.c_str(), nullptr);
        uri = g_filename_to_uri(absolute, nullptr, &error);
        g_free(absolute);
    }
    if (uri == nullptr) {
        std::string reason = error != nullptr ? error->message : "caminho inválido";
        g_clear_error(&error);
        throw std::runtime_error("Não foi possível ler o PDF " + pdfPath + ": " + reason);
    }
    std::unique_ptr<PopplerDocument, GObjectDeleter<PopplerDocument>> document(
        poppler_document_new_from_file(uri, nullptr, &error));
    g_free(uri);
    if (!document) {
        std::string reason = error != nullptr ? error->message : "documento ilegível";
        g_clear_error(&error);
        throw std::runtime_error("Não foi possível ler o PDF " + pdfPath + ": " + reason);
    }

    std::vector<std::string> written;
    const int pages = poppler_document_get_n_pages(document.get());
    const double scale = dpi / 72.0;
    for (int index = 0; index < pages; ++index) {
        std::unique_ptr<PopplerPage, GObjectDeleter<PopplerPage>> page(
            poppler_document_get_page(document.get(), index));
        if (!page) {
            throw std::runtime_error("Não foi possível ler a página " + std::to_string(index + 1) + " de " + pdfPath);
        }
        double width = 0, height = 0;
        poppler_page_get_size(page.get(), &width, &height);
        const int pixelsWide = std::max(1, static_cast<int>(std::ceil(width * scale)));
        const int pixelsHigh = std::max(1, static_cast<int>(std::ceil(height * scale)));
        cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pixelsWide, pixelsHigh);
        cairo_t* cr = cairo_create(image);
        // Paper is white; the page only draws what is printed on it.
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, scale, scale);
        poppler_page_render_for_printing(page.get(), cr);
        const cairo_status_t drawn = cairo_status(cr);
        cairo_destroy(cr);
        const std::string png = pngPrefix + "-" + std::to_string(index + 1) + ".png";
        const cairo_status_t saved =
            drawn == CAIRO_STATUS_SUCCESS ? cairo_surface_write_to_png(image, png.c_str()) : drawn;
        cairo_surface_destroy(image);
        if (saved != CAIRO_STATUS_SUCCESS) {
            throw std::runtime_error("Não foi possível desenhar a página " + std::to_string(index + 1) + " de " +
                                     pdfPath + " em " + png + ": " + cairo_status_to_string(saved));
        }
        written.push_back(png);
    }
    return written;
}

}  // namespace quorvanti::receipt
