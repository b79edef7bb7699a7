// Pictures the printer object draws (the QR code bitmap, the shop's logo) and the QR bitmap writer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvanti::printing::devices {

// An image in memory: rows of 0xAARRGGBB pixels, top row first. Its size on paper follows the file's
// resolution (96 dpi when the file gives none), in twips (1440 per inch) as the printer object measures.
struct Picture {
    int widthPixels = 0;
    int heightPixels = 0;
    std::vector<std::uint32_t> pixels;
    double widthTwips = 0;
    double heightTwips = 0;
    bool empty() const { return pixels.empty(); }
};

struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads a BMP (1, 8, 24 or 32 bits, uncompressed) or PNG file. Raises PictureError naming the file
// when it is missing or not such a picture.
Picture loadPicture(const std::string& path);
// The same from the bytes of such a file (the main window keeps its picture as file bytes).
Picture decodePicture(const std::string& fileBytes);

// Writes a QR code of `text` (error-correction level M, 4-module quiet zone) as a 1-bit BMP at `path`,
// `modulePixels` pixels per module. Raises PictureError when the text cannot be encoded or the file
// not written.
void writeQrBitmap(const std::string& path, const std::string& text, int modulePixels = 4);

}  // namespace quorvanti::printing::devices
