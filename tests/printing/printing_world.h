// The world of the layout tests: a program folder with its settings, database and monitor context, and
// authorised documents made by the real fiscal component (signed with the test signer, wrapped in an
// nfeProc with a protocol), stored where the emission stores them. Printers are file: ports and file:
// printer names, read back with the ESC/POS reader, pdftotext and zbarimg.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fiscal_component/unavailable_component.h"
#include "printing/print_dispatch.h"
#include "printing/receipt_data.h"
#include "receipt/escpos_reader.h"
#include "support/program_folder.h"
#include "support/signed_nfce.h"

namespace quorvanti::printing {

// Consumers the receipts show, written into the stored document's <dest>.
enum class Consumer { Named, CpfOnly, Anonymous, Cnpj };

class PrintingTest : public ::testing::Test {
protected:
    // The signed document, made once for the suite: three items (the first without a discount element,
    // the second with 1.00 off, the third with a 13-digit code and a unit price of ten decimals), consumer
    // by CPF with a name, paid with change.
    static void SetUpTestSuite() {
        documents_ = std::make_unique<testing::TempDir>();
        testing::SignedNfceMaker maker(documents_->path());
        fiscal::testsales::Sale sale;
        sale.dhEmi = "2026-03-05T14:07:09-04:00";
        sale.cpf = "52998224725";
        sale.recipientName = "MARIA DA SILVA";
        sale.items = {{.code = "55", .description = "PAO FRANCES", .quantity = 0.45, .total = 9, .unit = "KG"},
                      {.code = "77", .description = "REFRIGERANTE 2L", .quantity = 2, .total = 10, .discount = 1},
                      {.code = "7891000100103", .description = "CAFE TORRADO", .quantity = 3, .total = 27.97}};
        sale.extraPaid = 5.1;
        signed_ = std::make_unique<testing::SignedNfce>(maker.make(sale, 1));
    }

    PrintingTest() {
        ctx().settings.SettingsPath = folder.settingsPath();
        ctx().settings.LogPath = folder.logPath();
        ctx().settings.TimeZone = "-04:00";
        folder.setSetting("ImprimiNFCESistema", "0");
        folder.setSetting("incluioperacao", "1");
        printModule() = PrintModule{};
    }

    context::AppContext& ctx() { return monitor.ctx; }
    static const std::string& key() { return signed_->key; }

    // The receipt printer family and, for the receipt libraries, a file: port.
    std::string usePrinter(const std::string& setting) {
        folder.setSetting("PathImpressoraNFCE", setting);
        ctx().settings.ReceiptPrinter = setting;
        const std::string out = folder.path() + "/receipt.bin";
        folder.setSetting("PortaBematech", "file:" + out);
        testing::writeFile(folder.path() + "/printers.ini", "[DARUMA]\r\nPort=file:" + out + "\r\n");
        return out;
    }

    // The signed document after `edits` (each text replaced by another, once).
    using Edits = std::vector<std::pair<std::string, std::string>>;
    static std::string edited(const Edits& edits) {
        std::string nfe = signed_->xml;
        for (const auto& [from, to] : edits) nfe.replace(nfe.find(from), from.size(), to);
        return nfe;
    }
    // The stored procNFe with the given consumer, after `edits`; answers its path.
    std::string store(Consumer consumer = Consumer::Named, const Edits& edits = {}) {
        std::string nfe = edited(edits);
        const std::size_t from = nfe.find("<dest>"), to = nfe.find("</dest>") + 7;
        const char* dest = consumer == Consumer::Named     ? nullptr
                           : consumer == Consumer::CpfOnly ? "<dest><CPF>52998224725</CPF><indIEDest>9</indIEDest></dest>"
                           : consumer == Consumer::Cnpj
                               ? "<dest><CNPJ>45723174000110</CNPJ><xNome>PADARIA EXEMPLO LTDA</xNome><indIEDest>9</indIEDest></dest>"
                               : "";
        if (dest) nfe.replace(from, to - from, dest);
        const std::string folderPath = folder.path() + "/nfe/arquivos/procNFe";
        std::filesystem::create_directories(folderPath);
        const std::string path = folderPath + "/" + key() + "-procNFe.xml";
        testing::writeFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<nfeProc versao=\"4.00\" "
                                 "xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + nfe +
                                 "<protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><verAplic>SEFAZ-TESTE</verAplic>"
                                 "<chNFe>" + key() + "</chNFe><dhRecbto>2026-03-05T14:07:12-04:00</dhRecbto>"
                                 "<nProt>151260000000123</nProt><digVal>x</digVal><cStat>100</cStat>"
                                 "<xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>\r\n");
        return path;
    }
    // The signed file as the contingency mode keeps it (no protocol), after `edits`.
    std::string storeContingency(const Edits& edits = {}) {
        const std::string path = folder.path() + "/nfe/arquivos/assinado/NFe" + key() + "-assinado.xml";
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testing::writeFile(path, edited(edits));
        return path;
    }
    static std::string xml() { return signed_->xml; }
    static std::string qrText() { return testing::between(signed_->xml, "<qrCode><![CDATA[", "]]>"); }

    // Prints as the completion does: sale "000123-01", number 1234.
    void print(const std::string& path, const std::string& contingency = "0", const std::string& skip = "0") {
        ImprimeNFCe(ctx(), skip, "000123-01", "1234", path, key(), qrText(), contingency);
    }

    // What reached a file: port, as golden text.
    static std::string printed(const std::string& file) {
        return receipt::goldenText(receipt::readEscPos(testing::readFile(file)));
    }
    static std::string run(const std::string& command) { return testing::commandOutput(command); }

    testing::ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
    testing::TestMonitor monitor{folder, components};

    static inline std::unique_ptr<testing::TempDir> documents_;
    static inline std::unique_ptr<testing::SignedNfce> signed_;
};

}  // namespace quorvanti::printing
