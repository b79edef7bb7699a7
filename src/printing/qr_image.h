// `GeraImagemQRCode`: the NFC-e's QR code as a picture for the layouts that cannot draw one from text
// (the Bematech bitmap path, VOX and A4): a bitmap at a fixed path under the program folder, made by
// the Daruma layer, loaded into the main window's ImgNFCE.
#pragma once

#include <string>

#include "context/app_context.h"

namespace quorvanti::printing {

// "<program folder>/qrcode/qrcode.bmp".
std::string qrImagePath(const context::AppContext& ctx);

// Makes the bitmap of `qrText` and loads it into ImgNFCE. Any failure shows "Erro ao gerar Imagem
// QRCODE " with its description and leaves ImgNFCE as it was; the stale bitmap is deleted first, so a
// failed run never loads the previous receipt's file.
void GeraImagemQRCode(context::AppContext& ctx, const std::string& qrText);

}  // namespace quorvanti::printing
