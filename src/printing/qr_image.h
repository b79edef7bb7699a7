// `GeraImagemQRCode`: the NFC-e's QR code as a picture for the layouts that cannot draw one from text
// (the Bematech bitmap path, VOX and A4): a bitmap at a fixed path under the program folder, made by
// the Daruma layer, loaded into the main window's ImgNFCE.
#pragma once

#include <string>

#include "context/app_context.h"
#include "printing/devices/picture.h"

namespace quorvanti::printing {

// "<program folder>/qrcode/qrcode.bmp".
std::string qrImagePath(const context::AppContext& ctx);

// Makes the bitmap of `qrText`, loads it into ImgNFCE and answers the picture. A picture that cannot be
// made is a failure of this receipt: PrintFailure ("Erro ao gerar Imagem QRCODE " and the reason), with
// the stale bitmap deleted and ImgNFCE emptied, so no layout and no panel ever shows another
// document's QR code. Layouts call it before they print anything.
devices::Picture GeraImagemQRCode(context::AppContext& ctx, const std::string& qrText);

// Raises PrintFailure when `qrText` cannot be a QR code (empty, or beyond the largest symbol): the
// receipt-printer layouts check it before the port opens, since a receipt without its QR code is not
// this document's DANFE.
void requirePrintableQr(const std::string& qrText);

}  // namespace quorvanti::printing
