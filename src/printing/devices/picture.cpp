#include "printing/devices/picture.h"

#include <cairo.h>
#include <qrencode.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

namespace quorvanti::printing::devices {
namespace {

constexpr double kTwipsPerInch = 1440;
constexpr double kDefaultDpi = 96;
constexpr double kInchesPerMetre = 1 / 0.0254;
// Far beyond any logo or QR code; keeps a corrupt header from asking for gigabytes.
constexpr long long kMaxPixels = 64LL * 1024 * 1024;

struct NotAPicture {
    std::string why;
};

std::uint32_t le16(std::string_view b, std::size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
std::uint32_t le32(std::string_view b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}
std::uint32_t be32(std::string_view b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
           static_cast<unsigned char>(b[at + 1]) << 16 | static_cast<unsigned char>(b[at + 2]) << 8 |
           static_cast<unsigned char>(b[at + 3]);
}

void setSize(Picture& picture, double dpiX, double dpiY) {
    if (!(dpiX > 1)) dpiX = kDefaultDpi;
    if (!(dpiY > 1)) dpiY = kDefaultDpi;
    picture.widthTwips = picture.widthPixels * kTwipsPerInch / dpiX;
    picture.heightTwips = picture.heightPixels * kTwipsPerInch / dpiY;
}

void checkDimensions(long long width, long long height) {
    if (width <= 0 || height <= 0 || width * height > kMaxPixels) throw NotAPicture{"tamanho de imagem inválido"};
}

// The value of `pixel` under a BITFIELDS mask, scaled to 0-255.
std::uint32_t channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const std::uint64_t max = mask >> shift;
    return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / max);
}

Picture decodeBmp(std::string_view b) {
    if (b.size() < 26) throw NotAPicture{"BMP truncado"};
    const std::uint32_t dataOffset = le32(b, 10);
    const std::uint32_t headerSize = le32(b, 14);
    if (headerSize < 12 || 14 + std::size_t{headerSize} > b.size()) throw NotAPicture{"cabeçalho BMP inválido"};
    long long width = 0, height = 0;
    std::uint32_t bits = 0, compression = 0, colours = 0;
    double dpiX = 0, dpiY = 0;
    std::size_t paletteEntry = 4;
    if (headerSize == 12) {  // the old OS/2 header
        width = le16(b, 18);
        height = static_cast<std::int16_t>(le16(b, 20));
        bits = le16(b, 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40) throw NotAPicture{"cabeçalho BMP inválido"};
        width = static_cast<std::int32_t>(le32(b, 18));
        height = static_cast<std::int32_t>(le32(b, 22));
        bits = le16(b, 28);
        compression = le32(b, 30);
        dpiX = static_cast<std::int32_t>(le32(b, 38)) / kInchesPerMetre;
        dpiY = static_cast<std::int32_t>(le32(b, 42)) / kInchesPerMetre;
        colours = le32(b, 46);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    checkDimensions(width, height);
    if (bits != 1 && bits != 8 && bits != 24 && bits != 32) throw NotAPicture{"BMP de " + std::to_string(bits) + " bits"};

    // Masks of 32-bit pictures: BI_RGB is 8 bits each with the fourth byte unused (opaque);
    // BI_BITFIELDS gives them after the 40-byte header, or inside a V4/V5 header.
    std::uint32_t red = 0x00FF0000, green = 0x0000FF00, blue = 0x000000FF, alpha = 0;
    if (compression == 3 && bits == 32) {
        if (b.size() < 14 + 40 + 12) throw NotAPicture{"BMP truncado"};
        red = le32(b, 54);
        green = le32(b, 58);
        blue = le32(b, 62);
        if (headerSize >= 56) alpha = le32(b, 66);
    } else if (compression != 0) {
        throw NotAPicture{"BMP comprimido"};
    }

    std::vector<std::uint32_t> palette;
    if (bits <= 8) {
        const std::size_t count = colours != 0 && colours <= (1u << bits) ? colours : (1u << bits);
        const std::size_t start = 14 + std::size_t{headerSize};
        if (start + count * paletteEntry > b.size()) throw NotAPicture{"paleta BMP truncada"};
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = start + i * paletteEntry;
            palette.push_back(0xFF000000u | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                              static_cast<unsigned char>(b[at + 1]) << 8 | static_cast<unsigned char>(b[at]));
        }
    }

    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    if (dataOffset > b.size() || rowBytes * static_cast<std::size_t>(height) > b.size() - dataOffset) {
        throw NotAPicture{"dados BMP truncados"};
    }
    Picture picture;
    picture.widthPixels = static_cast<int>(width);
    picture.heightPixels = static_cast<int>(height);
    picture.pixels.resize(static_cast<std::size_t>(width * height));
    for (long long y = 0; y < height; ++y) {
        const std::size_t row = dataOffset + rowBytes * static_cast<std::size_t>(topDown ? y : height - 1 - y);
        std::uint32_t* out = &picture.pixels[static_cast<std::size_t>(y * width)];
        for (long long x = 0; x < width; ++x) {
            std::uint32_t argb = 0;
            if (bits <= 8) {
                std::size_t index = bits == 8 ? static_cast<unsigned char>(b[row + x])
                                              : (static_cast<unsigned char>(b[row + x / 8]) >> (7 - x % 8)) & 1;
                argb = index < palette.size() ? palette[index] : 0xFF000000u;
            } else if (bits == 24) {
                const std::size_t at = row + static_cast<std::size_t>(x) * 3;
                argb = 0xFF000000u | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                       static_cast<unsigned char>(b[at + 1]) << 8 | static_cast<unsigned char>(b[at]);
            } else {
                const std::uint32_t pixel = le32(b, row + static_cast<std::size_t>(x) * 4);
                const std::uint32_t a = alpha != 0 ? channel(pixel, alpha) : 0xFF;
                argb = a << 24 | channel(pixel, red) << 16 | channel(pixel, green) << 8 | channel(pixel, blue);
            }
            out[x] = argb;
        }
    }
    setSize(picture, dpiX, dpiY);
    return picture;
}

struct PngSource {
    std::string_view bytes;
    std::size_t at = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
    auto* source = static_cast<PngSource*>(closure);
    if (source->bytes.size() - source->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, source->bytes.data() + source->at, length);
    source->at += length;
    return CAIRO_STATUS_SUCCESS;
}

// The resolution a PNG's pHYs chunk gives in dots per inch (0 when none or not in metres).
void pngResolution(std::string_view b, double& dpiX, double& dpiY) {
    for (std::size_t at = 8; at + 12 <= b.size();) {
        const std::uint32_t length = be32(b, at);
        const std::string_view type = b.substr(at + 4, 4);
        if (type == "pHYs" && length == 9 && at + 17 <= b.size()) {
            if (b[at + 16] == 1) {
                dpiX = be32(b, at + 8) / kInchesPerMetre;
                dpiY = be32(b, at + 12) / kInchesPerMetre;
            }
            return;
        }
        if (type == "IDAT" || length > b.size()) return;  // pHYs comes before the image data
        at += 12 + std::size_t{length};
    }
}

Picture decodePng(std::string_view b) {
    PngSource source{b};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &source);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> owner(surface, cairo_surface_destroy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw NotAPicture{"PNG ilegível"};
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    checkDimensions(width, height);
    const int stride = cairo_image_surface_get_stride(surface);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    Picture picture;
    picture.widthPixels = width;
    picture.heightPixels = height;
    picture.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel = row[x];
            if (format == CAIRO_FORMAT_ARGB32) {
                // Cairo keeps colours multiplied by alpha; the picture keeps them straight.
                const std::uint32_t a = pixel >> 24;
                auto straight = [a](std::uint32_t c) { return a == 0 ? 0u : std::min(255u, (c * 255 + a / 2) / a); };
                pixel = a << 24 | straight((pixel >> 16) & 0xFF) << 16 | straight((pixel >> 8) & 0xFF) << 8 |
                        straight(pixel & 0xFF);
            } else {
                pixel |= 0xFF000000u;
            }
            picture.pixels[static_cast<std::size_t>(y) * width + x] = pixel;
        }
    }
    double dpiX = 0, dpiY = 0;
    pngResolution(b, dpiX, dpiY);
    setSize(picture, dpiX, dpiY);
    return picture;
}

Picture decode(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "BM") return decodeBmp(bytes);
    if (bytes.size() >= 8 && bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n") return decodePng(bytes);
    throw NotAPicture{"não é BMP nem PNG"};
}

void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

Picture decodePicture(const std::string& fileBytes) {
    try {
        return decode(fileBytes);
    } catch (const NotAPicture& e) {
        throw PictureError("Imagem inválida: " + e.why);
    }
}

Picture loadPicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PictureError("Imagem não encontrada: " + path);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
        return decode(bytes);
    } catch (const NotAPicture& e) {
        throw PictureError("Imagem inválida (" + e.why + "): " + path);
    }
}

void writeQrBitmap(const std::string& path, const std::string& text, int modulePixels) {
    if (modulePixels < 1 || modulePixels > 64) throw PictureError("Tamanho de módulo do QR Code inválido");
    QRcode* code = text.empty() ? nullptr : QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (code == nullptr) throw PictureError("Texto não cabe num QR Code: " + std::to_string(text.size()) + " bytes");
    std::unique_ptr<QRcode, decltype(&QRcode_free)> owner(code, QRcode_free);

    constexpr int kQuietModules = 4;
    const int side = (code->width + 2 * kQuietModules) * modulePixels;
    const std::uint32_t rowBytes = ((static_cast<std::uint32_t>(side) + 31) / 32) * 4;
    const std::uint32_t dataOffset = 14 + 40 + 8;
    std::string file;
    file.reserve(dataOffset + rowBytes * side);
    file += "BM";
    put32(file, dataOffset + rowBytes * side);
    put32(file, 0);
    put32(file, dataOffset);
    put32(file, 40);
    put32(file, side);
    put32(file, side);  // bottom-up, as most readers expect
    put16(file, 1);
    put16(file, 1);
    put32(file, 0);
    put32(file, rowBytes * side);
    put32(file, 3780);  // 96 dpi
    put32(file, 3780);
    put32(file, 2);
    put32(file, 2);
    put32(file, 0x00000000);  // index 0 black
    put32(file, 0x00FFFFFF);  // index 1 white
    for (int y = side - 1; y >= 0; --y) {
        std::string row(rowBytes, '\0');
        for (int x = 0; x < side; ++x) {
            const int mx = x / modulePixels - kQuietModules, my = y / modulePixels - kQuietModules;
            const bool dark = mx >= 0 && my >= 0 && mx < code->width && my < code->width &&
                              (code->data[my * code->width + mx] & 1) != 0;
            if (!dark) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        file += row;
    }

    // Written beside and renamed, so a reader never loads half a bitmap.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw PictureError("Não foi possível gravar " + path);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(temporary.c_str());
        throw PictureError("Não foi possível gravar " + path + ": " + why);
    }
}

}  // namespace quorvanti::printing::devices
