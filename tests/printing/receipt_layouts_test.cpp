// Whole receipts as the paper shows them: the receipt libraries' bytes read back from file: ports, the
// printer object's pages read with pdftotext, and every QR code decoded back to the NFC-e's QR text.
#include <gtest/gtest.h>

#include "printing/devices/printer_object.h"
#include "printing/qr_image.h"
#include "printing_world.h"

namespace quorvanti::printing {
namespace {

using testing::readFile;
using testing::writeFile;

// Golden texts: the QR payload and the access key vary with the test signer's document, so they are
// replaced by markers before the comparison.
class LayoutTest : public PrintingTest {
protected:
    std::string golden(const std::string& file) {
        std::string text = printed(file);
        for (const auto& [from, to] : {std::pair{qrText(), std::string("<QR>")},
                                       {accessKeyGroupsOf(key()), std::string("<KEY>")}})
            for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
                text.replace(at, from.size(), to);
        return text;
    }
    static std::string accessKeyGroupsOf(const std::string& key) {
        std::string out;
        for (std::size_t i = 0; i < key.size(); i += 4) out += (i ? " " : "") + key.substr(i, 4);
        return out;
    }
    // Renders `input` (ESC/POS bytes or a PDF) with the preview tool and answers what zbarimg reads.
    std::string decodedQr(const std::string& input) {
        const std::string png = folder.path() + "/preview.png";
        const bool pdf = input.size() > 4 && input.substr(input.size() - 4) == ".pdf";
        run(QUORVANTI_BINARY_DIR "/quorvanti-receipt " + input + " " + png);
        return run("zbarimg -q --raw " + (pdf ? folder.path() + "/preview-1.png" : png));
    }
};

TEST_F(LayoutTest, DarumaReceipt) {
    const std::string out = usePrinter("DARUMA");
    print(store(Consumer::Named));
    EXPECT_EQ(golden(out), R"([C B DH] AREA DE DOCUMENTO FISCAL
[C B I DH] LOJA TESTE
[C] RUA DAS FLORES
[C] CNPJ:11.222.333/0001-81 IE:13.123.456-7
[C] Fone: (65) 3322-1100
[L] ________________________________________________
[L] COD_PROD   DESCRITIVO
[L]        QUT       UNIT       DES            VALOR
[L] 0000000055 PAO FRANCES
[L]     0.4500      20.00         0                9
[L] 0000000077 REFRIGERANTE 2L
[L]     2.0000       5.50      1,00               10
[L] 7891000100103 CAFE TORRADO
[L]     1.0000      15.90         0             15,9
[L] VALOR TOTAL:                               34,90
[L] ________________________________________________
[C] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[C] www.nfe.fazenda.gov.br NFc-e N: 000000001234
[C] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[C CD] NFC-e não permiti aproveitamento de crédito de ICMS
[L] ________________________________________________
[C] CHAVE DE ACESSO
[QR M 5 C] <QR>
[C CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L] ________________________________________________
[C] CONSUMIDOR
[L] CNPJ/CPF: 52998224725
[L] NOME: MARIA DA SILVA
[C] ________________________________________________
[L] COD/INTERNO:                           000123-01
[L] VALOR TOTAL R$:                            34,90
[L] VALOR DESCONTOS R$:                         1,00
[L] FORMA PAGAMENTO:                        DINHEIRO
[L] VALOR PAGO R$:                             33,90
[L] Trib. Aprox. Lei 12.741/2012: 1,29
[C] ________________________________________________
[L]
[CUT]
)");
}

TEST_F(LayoutTest, BematechReceipt) {
    const std::string out = usePrinter("BEMATECH");
    print(store(Consumer::Anonymous));
    EXPECT_EQ(golden(out), R"([C B] LOJA TESTE
[C] RUA DAS FLORES
[C] CNPJ:11.222.333/0001-81 IE:13.123.456-7
[C] Fone:(65) 3322-1100
[L] ------------------------------------------------
[L] COD_PROD   DESCRITIVO
[L]        QUT       UNIT       DES            VALOR
[L] 0000000055 PAO FRANCES
[L]     0.4500      20.00         0                9
[L] 0000000077 REFRIGERANTE 2L
[L]     2.0000       5.50      1,00               10
[L] 7891000100103 CAFE TORRADO
[L]     1.0000      15.90         0             15,9
[L] VALOR TOTAL:                               34,90
[L] ------------------------------------------------
[L] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[L]   Não permiti aproveitamento de crédito de ICMS |
[L]  |
[L]   www.nfe.fazenda.gov.br NFCe n: 000000001234  |
[L] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[L] ------------------------------------------------
[C]                 CHAVE DE ACESSO                |
[QR M 5 C] <QR>
[C CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L]             CONSUMIDOR NAO DEFINIDO            |
[L] ------------------------------------------------
[L] COD_VND(INTERNO): 000123-01
[L] VALOR TOTAL R$:..................... R$    34,90
[L] VALOR DESCONTOS R$:................. R$     1,00
[L] FORMA PAGAMENTO R$:................. R$ DINHEIRO
[L] VALOR PAGO R$ R$:................... R$    34,90
[L] Trib. Aprox. Lei 12.741/2012........ R$     1,29
[L] ------------------------------------------------
[L]
[CUT PARTIAL]
)");
    EXPECT_EQ(decodedQr(out), qrText() + "\n");
}

TEST_F(LayoutTest, EpsonReceipt) {
    const std::string out = usePrinter("EPSON");
    print(store(Consumer::Cnpj));
    EXPECT_EQ(golden(out), R"([L]   {B}LOJA TESTE
[L] RUA DAS FLORES
[L]     CNPJ:11.222.333/0001-81 IE:13.123.456-7     |
[L]              Fone:(65) 3322-1100              |
[L] ------------------------------------------------
[L B] COD_PROD   DESCRITIVO
[L B]        QUT       UNIT       DES            VALOR
[L B] 0000000055 PAO FRANCES
[L B]     0.4500      20.00         0                9
[L B] 0000000077 REFRIGERANTE 2L
[L B]     2.0000       5.50      1,00               10
[L B] 7891000100103 CAFE TORRADO
[L B]     1.0000      15.90         0             15,9
[L B] VALOR TOTAL:                               34,90
[L] ------------------------------------------------
[L]
[C B CD] DANFE NFC-e NOTA FISCAL DO CONSUMIDOR ELETRONICA
[L]   Não permiti aproveitamento de crédito de ICMS |
[L]    www.nfe.fazenda.gov.br NFCe n: 000000001234  |
[L] PROT: 2026-03-05T14:07:12-04:00 151260000000123
[L] ------------------------------------------------
[L]
[L]                 CHAVE DE ACESSO                |
[QR M 5 C] <QR>
[L B I U CD]  |
[C B CD] <KEY>
[C] Consulte pela Chave de Acesso em:
[C] http://www.sefaz.mt.gov.br/nfce/consultanfce
[L] ------------------------------------------------
[L] CONSUMIDOR: PADARIA EXEMPLO LTDA
[L] CNPJ/CPF: 45723174000110
[L] ------------------------------------------------
[L] VALOR TOTAL R$:..................... R$    34,90
[L] VALOR DESCONTOS R$:................. R$     1,00
[L] FORMA PAGAMENTO R$:................. R$ DINHEIRO
[L] VALOR PAGO R$ R$:................... R$    33,90
[L] Trib. Aprox. Lei 12.741/2012........ R$     1,29
[L] ------------------------------------------------
[L]
[CUT]
)");
}

TEST_F(LayoutTest, ShortHeaderAndContingencyLeaveOutTheAddressAndTotals) {
    for (const char* family : {"DARUMA", "BEMATECH", "EPSON"}) {
        for (bool contingency : {false, true}) {
            const std::string out = usePrinter(family);
            std::filesystem::remove(out);
            folder.setSetting("OmitirCabecalho", contingency ? "" : "1");
            folder.setSetting("incluioperacao", "0");
            print(contingency ? storeContingency() : store(Consumer::CpfOnly), contingency ? "1" : "0");
            const std::string text = printed(out);
            SCOPED_TRACE(std::string(family) + (contingency ? " contingency" : " short header") + "\n" + text);
            EXPECT_EQ(text.find("RUA DAS FLORES"), std::string::npos);
            EXPECT_EQ(text.find("VALOR TOTAL"), std::string::npos);
            EXPECT_EQ(text.find("PAO FRANCES"), std::string::npos);
            EXPECT_NE(text.find("Trib. Aprox. Lei 12.741/2012"), std::string::npos);
            if (contingency) {
                EXPECT_NE(text.find("PROT: NFC-e emitida em contig"), std::string::npos);
            } else {
                EXPECT_NE(text.find("CNPJ/CPF: 52998224725"), std::string::npos);
                EXPECT_EQ(text.find("CONSUMIDOR\n"), std::string::npos);  // CPF alone: no title
            }
        }
    }
}

TEST_F(LayoutTest, BematechModelsSevenAndFive) {
    const std::string out = usePrinter("BEMATECH");
    folder.setSetting("ModeloBematech", "7 MP-4200");
    print(store());
    std::string text = printed(out);
    // The QR code is a downloaded bitmap, without the "CHAVE DE ACESSO" title.
    EXPECT_EQ(text.find("CHAVE DE ACESSO"), std::string::npos) << text;
    EXPECT_NE(text.find("[IMAGE"), std::string::npos) << text;
    EXPECT_EQ(text.find("[QR"), std::string::npos) << text;
    EXPECT_EQ(decodedQr(out), qrText() + "\n");
    EXPECT_TRUE(std::filesystem::exists(qrImagePath(ctx())));
    EXPECT_TRUE(monitor.captioned("Qrcode4"));

    std::filesystem::remove(out);
    folder.setSetting("ModeloBematech", "5");
    print(store());
    text = printed(out);
    EXPECT_EQ(text.find("[CUT"), std::string::npos) << text;
    EXPECT_NE(text.find("CHAVE DE ACESSO"), std::string::npos);
}

TEST_F(LayoutTest, VoxReceiptIsAnEightyMillimetrePage) {
    usePrinter("VOX");
    const std::string pdf = folder.path() + "/vox.pdf";
    devices::Printer().setDefaultPrinter("file:" + pdf);
    print(store(Consumer::Anonymous));
    const std::string text = run("pdftotext -layout " + pdf + " -");
    for (const char* line : {"LOJA TESTE", "DANFE NFC-e NF DO CONSUMIDOR ELETRONICA", "Não permiti aproveitamento de crédito",
                             "CONSUMIDOR NAO IDENTIFICADO", "VALOR TOTAL R$:.............. R$    34,90",
                             "Trib. Aprox. Lei 12.741/2012. R$     1,29", "REFRIGERANTE 2L"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(decodedQr(pdf), qrText() + "\n");
}

TEST_F(LayoutTest, A4PageOnTheNamedPrinter) {
    usePrinter("file:" + folder.path() + "/a4.pdf");
    const std::string logo = folder.path() + "/logo.bmp";
    folder.setSetting("LOGONFCE", folder.path() + "/missing-logo.bmp");  // a missing logo is left out
    print(store(Consumer::Named));
    const std::string pdf = folder.path() + "/a4.pdf";
    const std::string text = run("pdftotext -layout " + pdf + " -");
    for (const char* line : {"Razão Social:", "LOJA TESTE", "11.222.333/0001-81 - 13.123.456-7",
                             "RUA DAS FLORES, CENTRO", "CUIABA, CEP: 78.005-000, FONE: (65) 3322-1100",
                             "Procotolo: 2026-03-05T14:07:12-04:00 151260000000123",
                             "CHAVE DE ACESSO - NFC-e Nº 000.001.234 VIA CONSUMIDOR", "NOME: MARIA DA SILVA",
                             "QUIRANTO SISTEMAS", "www.nfe.fazenda.gov.br - 05-mar-26"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(decodedQr(pdf), qrText() + "\n");
    EXPECT_TRUE(monitor.captioned("impressao dos itens realizado"));
}

TEST_F(LayoutTest, QrImageFailureIsShownAndTheStaleBitmapIsGone) {
    ctx().status("x");
    const std::string path = qrImagePath(ctx());
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, "stale");
    ctx().mainWindow.ImgNFCE.fileBytes = "previous";
    GeraImagemQRCode(ctx(), std::string(8000, 'x'));  // beyond any QR symbol
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ctx().mainWindow.ImgNFCE.fileBytes, "previous");
    ASSERT_EQ(monitor.messageTexts().size(), 1u);
    EXPECT_EQ(monitor.messageTexts()[0].rfind("Erro ao gerar Imagem QRCODE ", 0), 0u);
}

}  // namespace
}  // namespace quorvanti::printing
