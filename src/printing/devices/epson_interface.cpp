#include "printing/devices/epson_interface.h"

#include "printing/devices/escpos_commands.h"

namespace quorvanti::printing::devices {

struct EpsonInterface::Job {
    std::unique_ptr<PrinterPort> port;
    EscPosJob escPos;
};

EpsonInterface::EpsonInterface(DeviceSettings settings) : settings_(std::move(settings)) {}

EpsonInterface::~EpsonInterface() {
    if (job_) FechaPorta();
}

int EpsonInterface::IniciaPorta(const std::string& port) {
    if (job_) FechaPorta();
    lastProblem_.clear();
    PortOpening opening = openPort(port, settings_.folders);
    if (!opening.port) {
        lastProblem_ = opening.problem;
        return opening.code;
    }
    job_ = std::make_unique<Job>(Job{std::move(opening.port), EscPosJob(settings_.epsonCodePage)});
    job_->escPos.start();
    return 1;
}

bool EpsonInterface::portOpen() {
    lastProblem_.clear();
    if (job_) return true;
    lastProblem_ = "Porta da impressora Epson não aberta (IniciaPorta)";
    return false;
}

int EpsonInterface::ImprimeTexto(const std::string& text) {
    if (!portOpen()) return 0;
    // Plain text: left-aligned normal letters, continuing the line a previous call left open.
    job_->escPos.setAlignment(TextAlignment::Left);
    job_->escPos.setStyle({});
    job_->escPos.text(text);
    return 1;
}

int EpsonInterface::ImprimeTextoTag(const std::string& text) {
    if (!portOpen()) return 0;
    lastProblem_ = printTagMarkup(job_->escPos, text, MarkupTags::Epson);
    return lastProblem_.empty() ? 1 : 0;
}

int EpsonInterface::FormataTX(const std::string& text, int letterType, int italic, int underline, int expanded,
                              int bold) {
    if (!portOpen()) return 0;
    const auto style = vendorTextStyle(letterType, italic, underline, expanded, bold);
    if (!style) {
        lastProblem_ = "Formatação de texto inválida";
        return 0;
    }
    job_->escPos.setAlignment(TextAlignment::Left);
    job_->escPos.setStyle(*style);
    job_->escPos.text(text);
    job_->escPos.setStyle({});
    return 1;
}

int EpsonInterface::AcionaGuilhotina(int mode) {
    if (!portOpen()) return 0;
    if (mode != 0 && mode != 1) {
        lastProblem_ = "Modo de corte inválido: " + std::to_string(mode);
        return 0;
    }
    job_->escPos.cut(mode == 1);
    return 1;
}

int EpsonInterface::FechaPorta() {
    lastProblem_.clear();
    if (!job_) return 1;
    std::unique_ptr<Job> job = std::move(job_);
    job->port->write(job->escPos.bytes());
    lastProblem_ = job->port->close();
    return lastProblem_.empty() ? 1 : 0;
}

}  // namespace quorvanti::printing::devices
