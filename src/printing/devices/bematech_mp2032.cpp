#include "printing/devices/bematech_mp2032.h"

#include "printing/devices/escpos_commands.h"
#include "printing/devices/picture.h"

namespace quorvanti::printing::devices {
namespace {

constexpr int kModelWithoutCutter = 5;

}  // namespace

BematechMp2032::BematechMp2032(DeviceSettings settings) : settings_(std::move(settings)) {}

int BematechMp2032::FechaPorta() { return job_.close(lastProblem_); }

int BematechMp2032::ConfiguraModeloImpressora(int model) {
    lastProblem_.clear();
    if (model < 0 || model > 9) {
        lastProblem_ = "Modelo de impressora Bematech inválido: " + std::to_string(model);
        return 0;
    }
    model_ = model;
    return 1;
}

int BematechMp2032::IniciaPorta(const std::string& port) {
    return job_.open(port, settings_.folders, settings_.bematechCodePage, paperDots_, lastProblem_);
}

int BematechMp2032::AjustaLarguraPapel(int millimetres) {
    lastProblem_.clear();
    if (millimetres != 58 && millimetres != 80) {
        lastProblem_ = "Largura de papel inválida: " + std::to_string(millimetres) + " mm (58 ou 80)";
        return 0;
    }
    paperDots_ = millimetres == 58 ? kPaper58mmDots : kPaper80mmDots;
    if (job_.isOpen()) job_.escPos().setPaperDots(paperDots_);
    return 1;
}

int BematechMp2032::ComandoTX(const std::string& command, int length) {
    if (!job_.ready(lastProblem_)) return 0;
    if (length < 0 || static_cast<std::size_t>(length) > command.size()) {
        lastProblem_ = "Comprimento de comando inválido: " + std::to_string(length);
        return 0;
    }
    job_.escPos().raw(std::string_view(command).substr(0, static_cast<std::size_t>(length)));
    return 1;
}

int BematechMp2032::FormataTX(const std::string& text, int letterType, int italic, int underline, int expanded,
                              int bold) {
    return job_.formattedText(text, letterType, italic, underline, expanded, bold, std::nullopt, lastProblem_);
}

int BematechMp2032::ImprimeCodigoQRCODE(int /*errorCorrection*/, int moduleSize, int /*codeType*/, int /*qrVersion*/,
                                        int /*encoding*/, const std::string& text) {
    if (!job_.ready(lastProblem_)) return 0;
    // Level M and a symbol of at least 25 mm whatever the call asks: the DANFE NFC-e requires both.
    if (!job_.escPos().qrCode(text, moduleSize)) {
        lastProblem_ = "QR Code sem texto ou grande demais";
        return 0;
    }
    return 1;
}

int BematechMp2032::DefineDLBitmap(const std::string& path) {
    lastProblem_.clear();
    try {
        bitmap_ = loadPicture(path);
    } catch (const PictureError& e) {
        bitmap_ = {};
        lastProblem_ = e.what();
        return -1;
    }
    return 1;
}

int BematechMp2032::PrintDLBitmap(int /*mode*/) {
    if (!job_.ready(lastProblem_)) return 0;
    if (bitmap_.empty()) {
        lastProblem_ = "Nenhum bitmap carregado (DefineDLBitmap)";
        return 0;
    }
    job_.escPos().image(bitmap_);
    return 1;
}

int BematechMp2032::AcionaGuilhotina(int mode) {
    if (!job_.ready(lastProblem_)) return 0;
    if (model_ == kModelWithoutCutter) {
        lastProblem_ = "Modelo de impressora sem guilhotina";
        return 0;
    }
    if (mode != 0 && mode != 1) {
        lastProblem_ = "Modo de corte inválido: " + std::to_string(mode);
        return 0;
    }
    job_.escPos().cut(mode == 1);
    return 1;
}

}  // namespace quorvanti::printing::devices
