#include "printing/qr_image.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "printing/devices/daruma_framework.h"
#include "printing/devices/device_settings.h"
#include "printing/devices/escpos_commands.h"
#include "printing/receipt_data.h"

namespace quorvanti::printing {

std::string qrImagePath(const context::AppContext& ctx) {
    return (std::filesystem::path(ctx.locations.programFolder) / "qrcode" / "qrcode.bmp").string();
}

devices::Picture GeraImagemQRCode(context::AppContext& ctx, const std::string& qrText) {
    namespace fs = std::filesystem;
    PrintModule& module = printModule();
    windows::frmEmitirNFCe& window = module.data.MainWindow ? *module.data.MainWindow : ctx.mainWindow;
    const std::string path = qrImagePath(ctx);
    try {
        ctx.status("Qrcode1");
        // Whatever happens next, the window no longer shows the previous document's QR code.
        window.ImgNFCE.fileBytes.clear();
        std::error_code ignored;
        fs::create_directories(fs::path(path).parent_path(), ignored);
        if (fs::exists(path)) fs::remove(path);
        ctx.status("Qrcode2");
        devices::DarumaFramework daruma(devices::readDeviceSettings(ctx.locations.programFolder));
        module.lastResult = daruma.eGerarQrCodeArquivo_DUAL_DarumaFramework(path, qrText);
        ctx.status("Qrcode3");
        module.imagePath = path;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw std::runtime_error(daruma.lastProblem().empty() ? "arquivo não gerado: " + path
                                                                  : daruma.lastProblem());
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        devices::Picture picture = devices::decodePicture(bytes.str());  // a file that is no picture is not loaded
        window.ImgNFCE.fileBytes = bytes.str();
        ctx.status("Qrcode4");
        return picture;
    } catch (const std::exception& error) {
        throw PrintFailure(std::string("Erro ao gerar Imagem QRCODE ") + error.what());
    }
}

void requirePrintableQr(const std::string& qrText) {
    if (devices::qrSymbolModules(qrText) == 0)
        throw PrintFailure("o QR Code da NFC-e não pode ser gerado (texto vazio ou grande demais)");
}

}  // namespace quorvanti::printing
