#include "printing/devices/epson_interface.h"

#include "printing/devices/escpos_commands.h"

namespace quorvanti::printing::devices {

EpsonInterface::EpsonInterface(DeviceSettings settings) : settings_(std::move(settings)) {}

int EpsonInterface::IniciaPorta(const std::string& port) {
    return job_.open(port, settings_.folders, settings_.epsonCodePage, kPaper80mmDots, lastProblem_);
}

int EpsonInterface::ImprimeTexto(const std::string& text) {
    if (!job_.ready(lastProblem_)) return 0;
    // Plain text: left-aligned normal letters, continuing the line a previous call left open.
    job_.escPos().setAlignment(TextAlignment::Left);
    job_.escPos().setStyle({});
    job_.escPos().text(text);
    return 1;
}

int EpsonInterface::ImprimeTextoTag(const std::string& text) {
    if (!job_.ready(lastProblem_)) return 0;
    lastProblem_ = printTagMarkup(job_.escPos(), text, MarkupTags::Epson);
    return lastProblem_.empty() ? 1 : 0;
}

int EpsonInterface::FormataTX(const std::string& text, int letterType, int italic, int underline, int expanded,
                              int bold) {
    return job_.formattedText(text, letterType, italic, underline, expanded, bold, TextAlignment::Left, lastProblem_);
}

int EpsonInterface::AcionaGuilhotina(int mode) {
    if (!job_.ready(lastProblem_)) return 0;
    if (mode != 0 && mode != 1) {
        lastProblem_ = "Modo de corte inválido: " + std::to_string(mode);
        return 0;
    }
    job_.escPos().cut(mode == 1);
    return 1;
}

int EpsonInterface::FechaPorta() { return job_.close(lastProblem_); }

}  // namespace quorvanti::printing::devices
