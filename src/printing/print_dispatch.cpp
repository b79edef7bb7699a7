#include "printing/print_dispatch.h"

#include <fstream>
#include <sstream>

#include "context/program_files.h"

namespace quorvanti::printing {

void ImprimeNFCe(context::AppContext& ctx, const std::string& skipMarker, const std::string& saleCode,
                 const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                 const std::string& qrText, const std::string& contingency) {
    (void)saleCode, (void)number, (void)accessKey, (void)qrText, (void)contingency;
    {
        std::ifstream in(xmlPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        ctx.mainWindow.rtfb = text.str();
    }
    const std::string printingOff = context::readGeral(ctx, "ImprimiNFCESistema");
    ctx.settings.PrintingOff = printingOff;
    if (skipMarker == "1") return;
    if (printingOff == "1") {
        ctx.status("ENVIADA COM SUCESSO - IMPRESSÃO DESATIVADA");
        return;
    }
    ctx.status("Capturando porta ");
    ctx.doEvents();
    ctx.status("EXECUTANDO IMPRESSÃO SELECIONADA ");
    ctx.status("Impressão do DANFE NFC-e ainda não disponível nesta versão");
}

}  // namespace quorvanti::printing
