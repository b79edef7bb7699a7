// A queued sale through the poll and the emission routine, on a real database with the real component
// and the test certificate, up to the validated, signed document.
#include "authorisation/emission_routine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fiscal_component/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "monitor/poll_cycle.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"
#include "support/test_certificates.h"

namespace quorvanti::authorisation {
namespace {

using database::DbKind;
using testing::ProgramFolder;
using testing::TestMonitor;

// Answers every item query with no rows, as a sale whose items vanished between the two reads.
class WithoutItems final : public database::DbConnection {
public:
    explicit WithoutItems(std::unique_ptr<database::DbConnection> inner) : inner_(std::move(inner)) {}
    database::DbKind kind() const override { return inner_->kind(); }
    void execute(const std::string& sql) override { inner_->execute(sql); }
    database::Recordset open(const std::string& sql) override {
        if (sql.find("left outer JOIN Estoque") != std::string::npos) return database::Recordset({"coditem"}, {});
        return inner_->open(sql);
    }

private:
    std::unique_ptr<database::DbConnection> inner_;
};

class EmissionTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<ProgramFolder>(GetParam());
        const std::string store = folder->path() + "/certificados";
        testing::installTestCertificate(store);
        folder->setSetting("CertificadoSerie", fiscal::CertificateStore(store).list().at(0).serialNumber);
        // The official schema package, placed where a shop would put it.
        const std::string schemas = folder->path() + "/nfe/schemas";
        std::filesystem::create_directories(schemas);
        for (const auto& file : std::filesystem::directory_iterator(QUORVANTI_SHARED_DIR "/nfe-schemas"))
            std::filesystem::copy_file(file.path(), schemas + "/" + file.path().filename().string());
        folder->execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                        "(101, 'ARROZ', '5102', '102', '10063021'), (103, 'REFRIGERANTE', '5405', '500', '22021000'), "
                        "(105, 'CAVALO', '5102', '102', '01012011')");
        components = std::make_unique<fiscal::RealComponentFactory>(store, frontendForComponents);
        monitor = std::make_unique<TestMonitor>(*folder, *components);
        monitor->clock.set({2026, 3, 5, 14, 7, 9});
        startup::SubMain(monitor->ctx);
    }

    void sale(const std::string& code, int item, const std::string& description, double quantity, double total,
              double discount = 0) {
        folder->execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, "
                        "Quantidade, ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES ('" + code +
                        "', '2026-03-05', '', " + std::to_string(item) + ", '" + description + "', " +
                        std::to_string(quantity) + ", 0, " + std::to_string(total) + ", " + std::to_string(discount) +
                        ", 'UN')");
    }
    void queue(const std::string& code) {
        folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES ('" + code +
                        "', 'enviar', '2026-03-05', 'x')");
    }
    bool queued(const std::string& code) {
        return folder->connect()->open("select * from TabNCEAEnviar where codvenda = '" + code + "'").recordCount() > 0;
    }
    std::optional<ExitStatus> tick() {
        try {
            monitor::Timer1_Timer(monitor->ctx, EmiteNFCeVenda);
            return std::nullopt;
        } catch (const ProgramExit& exit) {
            return exit.status;
        }
    }
    bool shown(const std::string& text) {
        for (const auto& m : monitor->frontend.messages())
            if (m.text == text) return true;
        return false;
    }
    bool captioned(const std::string& text) {
        const auto captions = monitor->frontend.captionsOf("Label1");
        return std::find(captions.begin(), captions.end(), text) != captions.end();
    }

    platform::ScriptedFrontend frontendForComponents;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<fiscal::RealComponentFactory> components;
    std::unique_ptr<TestMonitor> monitor;
};

TEST_P(EmissionTest, AQueuedSaleBecomesASignedSchemaValidDocument) {
    sale("500-01", 101, "Arroz tipo 1", 2, 55.80, 0.80);
    sale("500-01", 103, "Refrigerante", 1, 9.50);
    queue("500-01");
    ASSERT_EQ(tick(), std::nullopt);

    const std::string key = monitor->ctx.emission.CurrentAccessKey;
    ASSERT_EQ(key.size(), 44u) << ::testing::PrintToString(monitor->frontend.captionsOf("Label1"));
    EXPECT_EQ(key.substr(0, 2), "51");
    EXPECT_EQ(key.substr(2, 4), "2603");
    EXPECT_EQ(key.substr(6, 14), "11222333000181");
    EXPECT_EQ(key.substr(20, 2), "65");
    EXPECT_EQ(key.substr(25, 9), "000000001");
    const std::string signedPath = folder->path() + "/nfe/arquivos/assinado/NFe" + key + "-assinado.xml";
    ASSERT_TRUE(std::filesystem::exists(signedPath));
    EXPECT_TRUE(std::filesystem::exists(folder->path() + "/nfe/arquivos/gerados/NFe" + key + ".xml"));
    std::string verifierOutput;
    EXPECT_TRUE(testing::xmlsecVerifies(signedPath, &verifierOutput)) << verifierOutput;
    EXPECT_TRUE(monitor->ctx.emission.ValidationStatus) << monitor->ctx.emission.OperationMessage;
    EXPECT_TRUE(captioned("Validado"));
    EXPECT_TRUE(captioned("Gerando lote"));
    EXPECT_EQ(platform::iniRead(folder->path() + "/NFCe.ini", "500-01-05/03/2026", "ChaveNFCe"), key);

    // The pauses of the routine ran on the virtual clock: 1 + 2 + 1 + 3 + 1 + 1 + 1 + 1 + 1 seconds.
    EXPECT_GE(monitor->clock.slept(), std::chrono::milliseconds(12000));
}

TEST_P(EmissionTest, SalesThatCannotBeEmittedAreDroppedAsTheShopExpects) {
    queue("600-01");                                    // no sale at all
    sale("601-01", 101, "Bala", 1, 0.10);               // not above 0,10
    queue("601-01");
    sale("602-01", 105, "Cavalo", 1, 50);               // placeholder NCM
    queue("602-01");
    folder->setSetting("LimiteNfce", "40,00");
    sale("603-01", 101, "Arroz", 1, 40.01);             // one cent above the limit
    queue("603-01");
    sale("604-01", 101, "Arroz", 1, 40.00);             // exactly the limit: emitted
    queue("604-01");
    ASSERT_EQ(tick(), std::nullopt);

    EXPECT_FALSE(queued("600-01"));
    EXPECT_TRUE(captioned("Operação não encontrada"));
    EXPECT_FALSE(queued("601-01"));
    EXPECT_FALSE(queued("602-01"));
    EXPECT_TRUE(shown("NCM invalido: 01012011"));
    EXPECT_FALSE(queued("603-01"));
    EXPECT_TRUE(shown("Operação excede o valor, altere em configurações caso deseje. Será omitida esta operação"));
    EXPECT_EQ(monitor->ctx.emission.SaleCode, "604-01");
    EXPECT_TRUE(captioned("Gerando lote"));
}

TEST_P(EmissionTest, ASaleOfTenThousandStopsTheProgramAndStaysQueued) {
    folder->setSetting("LimiteNfce", "99999,00");
    sale("700-01", 101, "Arroz", 1000, 9999.99);
    sale("701-01", 101, "Arroz", 1000, 9999.995);
    queue("700-01");
    queue("701-01");
    EXPECT_EQ(tick(), ExitStatus::SaleValueTooHigh);
    EXPECT_TRUE(shown("O Valor é superior o permitido, R$ 10.000,00, sem dados do destinatário"));
    EXPECT_TRUE(queued("701-01"));
    EXPECT_TRUE(captioned("Gerando lote"));  // 9.999,99 was emitted before
}

TEST_P(EmissionTest, DoubleBlanksInADescriptionDropTheSaleOutsideHomologation) {
    folder->setSetting("ambienteNFCE", "1");
    monitor->ctx.settings.Environment = "1";
    sale("800-01", 101, "Arroz     tipo 1", 1, 20);
    queue("800-01");
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_FALSE(queued("800-01"));
    ASSERT_FALSE(monitor->frontend.messages().empty());
    EXPECT_NE(monitor->frontend.messages()[0].text.find("contem DOIS espaços"), std::string::npos);
}

TEST_P(EmissionTest, ASaleWhoseItemsVanishedIsOmittedWithItsMessage) {
    sale("900-01", 101, "Arroz", 1, 20);
    queue("900-01");
    monitor->ctx.db = std::make_unique<WithoutItems>(std::move(monitor->ctx.db));
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(shown("Operação de venda não encontrada. Será omitida esta operação"));
    EXPECT_FALSE(queued("900-01"));
}

INSTANTIATE_TEST_SUITE_P(Backends, EmissionTest, testing::bothBackends(), testing::backendName);

TEST(StoredDocumentTest, RecognisesAContingencyDocumentByItsSignedPathAndText) {
    const std::string key = "51260311222333000181650010000000011123456785";
    EXPECT_EQ(storedDocumentKey("C:\\loja\\nfe\\arquivos\\assinado\\NFe" + key + "-assinado.xml",
                                "<NFe><infNFe Id=\"NFe" + key + "\"/></NFe>"),
              key);
    EXPECT_EQ(storedDocumentKey("/loja/nfe/arquivos/assinado/NFe" + key + "-assinado.xml", "<NFe Id=\"NFe" + key + "\"/>"),
              key);
    EXPECT_EQ(storedDocumentKey("1", "<NFe/>"), "");
    EXPECT_EQ(storedDocumentKey("/loja/nfe/arquivos/assinado/NFe" + key + "-assinado.xml", "x"), "");
    EXPECT_EQ(storedDocumentKey("/loja/assinado/NFe123-assinado.xml", "<NFe Id=\"NFe123\"/>"), "");
}

TEST(GravaArqTest, FixesOldDocumentsOnlyWhereTheirCfopAllows) {
    testing::TempDir dir;
    const std::string quote = "\"";
    GravaArq("<?xml version=" + quote + "2.0" + quote + "?><dhEmi>1016-01-01</dhEmi><CFOP>5102</CFOP>"
             "<ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>",
             dir.file("a.xml"));
    EXPECT_EQ(testing::readFile(dir.file("a.xml")),
              "<?xml version=\"1.0\"?><dhEmi>2016-01-01</dhEmi><CFOP>5102</CFOP><ICMSSN102><CSOSN>102</CSOSN>"
              "</ICMSSN102>\r\n");
    GravaArq("<CFOP>5405</CFOP><ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>", dir.file("b.xml"));
    EXPECT_EQ(testing::readFile(dir.file("b.xml")), "<CFOP>5405</CFOP><ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>\r\n");
}

}  // namespace
}  // namespace quorvanti::authorisation
