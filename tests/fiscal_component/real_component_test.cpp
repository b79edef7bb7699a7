// Sales generated through the real component: both schemas accept them, xmlsec1 accepts their
// signatures, keys and QR codes follow the published rules, failures are described.
#include "fiscal_component/real_component.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <filesystem>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/signing/xml_signer.h"
#include "support/error_text.h"
#include "support/shared_data.h"
#include "support/signed_nfce.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::between;
using testing::errorText;
using testing::kOfficialSchemas;
using testing::readFile;
using testing::writeFile;
using testsales::Sale;
using testsales::SaleItem;

const std::string kCsc = "0123456789ABCDEF0123456789ABCDEF";

std::string sha1Hex(const std::string& text) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    char hex[2 * SHA_DIGEST_LENGTH + 1];
    for (int i = 0; i < SHA_DIGEST_LENGTH; ++i) std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    return hex;
}

struct Generated {
    std::string key;  // 44 digits
    std::string generatedPath;
    std::string signedPath;
};

class RealComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_SHARED();
        std::filesystem::create_directories(emptySchemaFolder);
    }

    // Generates with a fresh component, kept in `component` for what follows.
    Generated generate(const Sale& sale, int tpAmb = 2, const std::string& schemaFolder = kOfficialSchemas) {
        component = std::make_unique<RealFiscalComponent>(storeFolder);
        component->configure(maker.configuration(tpAmb, schemaFolder));
        testsales::sendSale(*component, sale);
        std::string key;
        GenerationArgs args;
        SharedTexts shared;
        EXPECT_TRUE(component->generate(key, args, shared));
        EXPECT_EQ(key.substr(0, 3), "NFe");
        return Generated{key.substr(3), args.generatedXmlPath, args.signedXmlPath};
    }

    testing::TempDir dir;
    testing::SignedNfceMaker maker{dir.path()};
    std::string storeFolder = maker.storeFolder();
    std::string documentFolder = dir.file("nfe") + "/";
    std::string emptySchemaFolder = dir.file("nfe/schemas");
    std::unique_ptr<RealFiscalComponent> component;
};

constexpr const char* kDhEmi = "2026-03-05T14:07:09-04:00";

std::vector<std::pair<std::string, Sale>> variedSales() {
    std::vector<std::pair<std::string, Sale>> sales;
    sales.emplace_back("one item, no recipient", Sale{});
    Sale cpf;
    cpf.cpf = "52998224725";
    cpf.items = {SaleItem{.quantity = 3, .total = 27, .discount = 3},
                 SaleItem{.code = "77", .description = "REFRIGERANTE 2L", .ncm = "22021000", .cfop = 5405,
                          .csosn = "500", .quantity = 2, .total = 11, .unit = "UND"}};
    cpf.extraPaid = 2.5;
    sales.emplace_back("CPF, CSOSN 102 and 500, discount, change", cpf);
    Sale cnpj;
    cnpj.cnpj = "11444777000161";
    cnpj.recipientAddress = true;
    cnpj.items = {SaleItem{.description = "CAF\u00c9 & LEITE <1L> \"PREMIUM\" D'\u00c1GUA", .total = 7.5}};
    for (int i = 0; i < 11; ++i) {
        cnpj.items.push_back(SaleItem{.code = std::to_string(100 + i), .description = "ITEM " + std::to_string(i),
                                      .csosn = i % 3 == 0 ? "500" : "102", .quantity = 0.375 * (i + 1),
                                      .total = 1.99 * (i + 1), .discount = i % 4 == 0 ? 0.10 : 0});
    }
    sales.emplace_back("CNPJ with address, twelve items, markup characters", cnpj);
    Sale contingency = cpf;
    contingency.tpEmis = 9;
    contingency.dhCont = "2026-03-05T00:00:00-04:00";
    contingency.xJust = "Sistema WEB inoperante apresentando lentidao";
    sales.emplace_back("offline contingency", contingency);
    for (auto& named : sales) named.second.dhEmi = kDhEmi;  // the key's YYMM and the QR's day rely on it
    return sales;
}

TEST_F(RealComponentTest, SalesPassBothSchemasAndXmlsecAcceptsTheirSignatures) {
    for (int tpAmb : {2, 1}) {
        for (const auto& [name, sale] : variedSales()) {
            SCOPED_TRACE(name + (tpAmb == 1 ? " (production)" : " (homologation)"));
            const Generated generated = generate(sale, tpAmb);
            // Signed as written, without a parse.
            EXPECT_TRUE(isInWritersForm(readFile(generated.generatedPath)));
            std::string message;
            EXPECT_TRUE(component->validate(ValidationArgs{generated.signedPath}, message)) << message;
            const SchemaVerdict official = validateNfeFile(generated.signedPath, kOfficialSchemas);
            EXPECT_TRUE(official.valid) << official.message;
            const SchemaVerdict own = validateNfeFile(generated.signedPath, emptySchemaFolder);
            EXPECT_TRUE(own.valid) << own.message;
            const SchemaVerdict ownText = validateNfeText(readFile(generated.signedPath), emptySchemaFolder);
            EXPECT_TRUE(ownText.valid) << ownText.message;
            std::string output;
            EXPECT_TRUE(testing::xmlsecVerifies(generated.signedPath, &output)) << output;
        }
    }
}

TEST_F(RealComponentTest, KeyFilesAndQrCodeFollowTheDocumentLayoutAndThePublishedRules) {
    Sale sale;
    sale.number = 4321;
    sale.series = 7;
    sale.dhEmi = kDhEmi;
    const Generated generated = generate(sale);
    EXPECT_TRUE(accessKeyValid(generated.key));
    EXPECT_EQ(generated.key.substr(0, 35), std::string("512603") + testsales::kEmitterCnpj + "65007000004321" + "1");
    EXPECT_EQ(generated.key.substr(35, 8), "83746152");
    EXPECT_EQ(generated.generatedPath, documentFolder + "arquivos/gerados/NFe" + generated.key + ".xml");
    EXPECT_EQ(generated.signedPath, documentFolder + "arquivos/assinado/NFe" + generated.key + "-assinado.xml");
    const std::string unsignedXml = readFile(generated.generatedPath);
    const std::string signedXml = readFile(generated.signedPath);
    EXPECT_THAT(unsignedXml, Not(HasSubstr("Signature")));
    EXPECT_THAT(unsignedXml, HasSubstr("<infNFe versao=\"4.00\" Id=\"NFe" + generated.key + "\">"));
    EXPECT_THAT(signedXml, HasSubstr("<cDV>" + generated.key.substr(43) + "</cDV><tpAmb>2</tpAmb>"));
    // infNFeSupl between infNFe and Signature, Signature last.
    EXPECT_THAT(signedXml, HasSubstr("</infNFe><infNFeSupl>"));
    EXPECT_THAT(signedXml, HasSubstr("</infNFeSupl><Signature"));
    EXPECT_THAT(signedXml, HasSubstr("</Signature></NFe>"));
    EXPECT_THAT(signedXml, Not(HasSubstr(kCsc)));
    EXPECT_THAT(signedXml, HasSubstr("<urlChave>http://homologacao.sefaz.mt.gov.br/nfce/consultanfce</urlChave>"));

    // The online QR code, read back from the signed file and from the authorised one alike.
    RealFiscalComponent reader(storeFolder);
    std::string qr, fromProc, result;
    ASSERT_TRUE(reader.qrAddress(generated.signedPath, qr, result)) << result;
    const std::string parameters = generated.key + "|2|2|1";
    EXPECT_EQ(qr, "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + parameters + "|" +
                      sha1Hex(parameters + kCsc));
    const std::string proc = documentFolder + "arquivos/procNFe/" + generated.key + "-procNFe.xml";
    writeFile(proc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"4.00\" "
                    "xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + signedXml.substr(signedXml.find("<NFe")) +
                    "<protNFe versao=\"4.00\"><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>");
    ASSERT_TRUE(reader.qrAddress(proc, fromProc, result)) << result;
    EXPECT_EQ(fromProc, qr);
    EXPECT_FALSE(reader.qrAddress(documentFolder + "nada.xml", fromProc, result));
    EXPECT_TRUE(fromProc.empty());
    EXPECT_THAT(result, HasSubstr("não encontrado"));
    writeFile(proc, "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe/></NFe>");
    EXPECT_FALSE(reader.qrAddress(proc, fromProc, result));
    EXPECT_THAT(result, HasSubstr("não tem QR Code"));

    // The addresses of webservices.ini override the built-in ones.
    writeFile(documentFolder + "webservices.ini",
              "[MT_2]\r\nQRCode=http://127.0.0.1:18443/nfce/qrcode\r\nurlChave=http://127.0.0.1:18443/consulta\r\n");
    const Generated local = generate(Sale{});
    const std::string localXml = readFile(local.signedPath);
    EXPECT_THAT(localXml, HasSubstr("<![CDATA[http://127.0.0.1:18443/nfce/qrcode?p=" + local.key + "|2|2|1|"));
    EXPECT_THAT(localXml, HasSubstr("<urlChave>http://127.0.0.1:18443/consulta</urlChave>"));
}

TEST_F(RealComponentTest, OfflineQrCarriesDayValueAndDigestOfTheSignature) {
    Sale sale = variedSales()[3].second;
    const Generated generated = generate(sale);
    EXPECT_EQ(generated.key[34], '9');
    const std::string signedXml = readFile(generated.signedPath);
    const std::string digest = between(signedXml, "<DigestValue>", "</DigestValue>");
    const std::string vNF = between(signedXml, "<vNF>", "</vNF>");
    ASSERT_EQ(digest.size(), 28u);
    std::string hex;
    for (unsigned char c : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    const std::string parameters = generated.key + "|2|2|05|" + vNF + "|" + hex + "|1";
    EXPECT_EQ(between(signedXml, "<qrCode><![CDATA[", "]]></qrCode>"),
              "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + parameters + "|" + sha1Hex(parameters + kCsc));
    EXPECT_THAT(signedXml, HasSubstr("<dhCont>2026-03-05T00:00:00-04:00</dhCont>"));
    EXPECT_THAT(readFile(generated.generatedPath), Not(HasSubstr("infNFeSupl")));
}

TEST_F(RealComponentTest, UnusableNumericCodeIsReplacedByAFreshOne) {
    Sale sale;
    sale.cNF = "0";  // what the program sends when its numeric-code request failed
    const Generated first = generate(sale);
    sale.cNF = "1234";  // the number itself
    const Generated second = generate(sale);
    for (const Generated& generated : {first, second}) {
        const std::string cNF = generated.key.substr(35, 8);
        EXPECT_NE(cNF, "00000000");
        EXPECT_NE(cNF, "00001234");
        EXPECT_THAT(readFile(generated.signedPath), HasSubstr("<cNF>" + cNF + "</cNF>"));
        EXPECT_TRUE(testing::xmlsecVerifies(generated.signedPath));
    }
}

TEST_F(RealComponentTest, ValidationMessagesNameTheElementAndTheReason) {
    const Generated generated = generate(Sale{});
    const std::string original = readFile(generated.signedPath);
    std::string xml = original;
    xml.replace(xml.find("<NCM>19052090</NCM>"), 19, "<NCM>1234</NCM>");
    const std::string broken = dir.file("quebrado.xml");
    writeFile(broken, xml);
    for (const std::string& folder : {kOfficialSchemas, emptySchemaFolder}) {
        SCOPED_TRACE(folder);
        // A component that generated the file validates the file as it is now, not what it wrote.
        const Generated changed = generate(Sale{}, 2, folder);
        writeFile(changed.signedPath, xml);
        std::string message;
        EXPECT_FALSE(component->validate(ValidationArgs{changed.signedPath}, message));
        EXPECT_FALSE(component->validate(ValidationArgs{broken}, message));
        for (const std::string& text : {message, validateNfeText(xml, folder).message}) {
            EXPECT_THAT(text, HasSubstr("Elemento nfe:NCM do item 1 (linha 2): valor '1234' não corresponde ao padrão"));
            EXPECT_THAT(text, HasSubstr(":NCM"));  // what the emission routine looks for
            EXPECT_THAT(text, HasSubstr("Detalhe: Element 'nfe:NCM'"));
        }
        EXPECT_THAT(validateNfeText("<NFe><infNFe>", folder).message, HasSubstr("não é um XML válido"));
    }
    std::string signature = original;
    signature.replace(signature.find("rsa-sha1"), 8, "rsa-sha256");
    writeFile(broken, signature);
    for (const SchemaVerdict& own : {validateNfeFile(broken, emptySchemaFolder), validateNfeText(signature, emptySchemaFolder)}) {
        EXPECT_FALSE(own.valid);
        EXPECT_THAT(own.message, HasSubstr("Atributo 'Algorithm' do elemento ds:SignatureMethod"));
    }
    writeFile(broken, "<NFe><infNFe>");
    EXPECT_THAT(validateNfeFile(broken, emptySchemaFolder).message, HasSubstr("não é um XML válido"));
    EXPECT_THAT(validateNfeFile(dir.file("ausente.xml"), emptySchemaFolder).message, HasSubstr("não encontrado"));
}

TEST_F(RealComponentTest, SaysWhetherItCanWorkAndRefusesWhatItCannotDo) {
    bool usable = false;
    RealFiscalComponent fresh(storeFolder);
    EXPECT_TRUE(fresh.statusQuery(usable));
    EXPECT_TRUE(usable);
    std::string key;
    GenerationArgs args;
    SharedTexts shared;
    EXPECT_THROW(fresh.generate(key, args, shared), ComponentError);  // not configured
    EXPECT_EQ(errorText([&] { fresh.serviceStatus(); }), "Componente fiscal não configurado");
    ConfigurationArgs config = maker.configuration();
    config.csc = "";
    fresh.configure(config);
    testsales::sendSale(fresh, Sale{});
    EXPECT_THAT(errorText<ComponentError>([&] { fresh.generate(key, args, shared); }), HasSubstr("CSC"));
    config = maker.configuration();
    config.uf = "XX";
    EXPECT_THROW(fresh.configure(config), ComponentError);
    EXPECT_THROW(fresh.send(SendArgs{}), ComponentError);  // nothing generated to send

    RealFiscalComponent noStore(dir.file("sem-certificados"));
    EXPECT_TRUE(noStore.statusQuery(usable));
    EXPECT_FALSE(usable);
    EXPECT_FALSE(noStore.statusProblem().empty());

    const std::string expiredStore = dir.file("vencidos");
    testing::installTestCertificate(expiredStore, testing::TestCertificate::Expired);
    RealFiscalComponent expired(expiredStore);
    config = maker.configuration();
    config.certificateSerial = CertificateStore(expiredStore).list().at(0).serialNumber;
    EXPECT_TRUE(expired.configure(config));  // the set-up goes on; the problem is reported below
    EXPECT_TRUE(expired.statusQuery(usable));
    EXPECT_FALSE(usable);
    testsales::sendSale(expired, Sale{});
    EXPECT_EQ(errorText<ComponentError>([&] { expired.generate(key, args, shared); }), expired.statusProblem());
    EXPECT_FALSE(expired.statusProblem().empty());
    EXPECT_FALSE(std::filesystem::exists(documentFolder + "arquivos/assinado"));
}

}  // namespace
}  // namespace quorvanti::fiscal
