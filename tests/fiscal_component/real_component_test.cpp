// The signer (the published example signed again, text and tree signatures alike), and sales generated
// through the real component: the official schema accepts them, xmlsec1 accepts their signatures, keys and
// QR codes follow the published rules, failures are described.
#include "fiscal_component/real_component.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <filesystem>
#include <memory>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/numeric_code.h"
#include "fiscal_component/document/qr_code.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/signing/xml_signer.h"
#include "support/error_text.h"
#include "support/shared_data.h"
#include "support/signed_nfce.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::between;
using testing::errorText;
using testing::kOfficialSchemas;
using testing::readFile;
using testing::writeFile;
using testing::xmlsecVerifies;
using testsales::Sale;
using testsales::SaleItem;

const std::string kCsc = "0123456789ABCDEF0123456789ABCDEF";

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
    // Markup to escape and, in production, a name past the layout's 60 characters to cut.
    cnpj.recipientName = "  JOSE   <&>  SILVA " + std::string(60, 'X');
    cnpj.items = {SaleItem{.description = "  CAF\u00c9 & LEITE\t<1L>  \"PREMIUM\"\r\n D'\u00c1GUA ", .total = 7.5}};
    for (int i = 0; i < 11; ++i) {
        cnpj.items.push_back(SaleItem{.code = std::to_string(100 + i), .description = "ITEM " + std::to_string(i),
                                      .csosn = i % 3 == 0 ? "500" : "102", .quantity = 0.375 * (i + 1),
                                      .total = 1.99 * (i + 1), .discount = i % 4 == 0 ? 0.10 : 0});
    }
    sales.emplace_back("CNPJ with address, twelve items, markup and runs of blanks", cnpj);
    Sale contingency = cpf;
    contingency.tpEmis = 9;
    contingency.dhCont = "2026-03-05T00:00:00-04:00";
    contingency.xJust = "Sistema WEB inoperante apresentando lentidao";
    sales.emplace_back("offline contingency", contingency);
    for (auto& named : sales) named.second.dhEmi = kDhEmi;  // the key's YYMM and the QR's day rely on it
    return sales;
}

TEST_F(RealComponentTest, SalesPassTheOfficialSchemaAndXmlsecAcceptsTheirSignatures) {
    for (int tpAmb : {2, 1}) {
        for (const auto& [name, sale] : variedSales()) {
            SCOPED_TRACE(name + (tpAmb == 1 ? " (production)" : " (homologation)"));
            const Generated generated = generate(sale, tpAmb);
            // Signed as written, without a parse.
            EXPECT_TRUE(isInWritersForm(readFile(generated.generatedPath)));
            std::string message;
            EXPECT_TRUE(component->validate(ValidationArgs{generated.signedPath}, message)) << message;
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
    EXPECT_THAT(unsignedXml, AllOf(Not(HasSubstr("Signature")),
                                   HasSubstr("<infNFe versao=\"4.00\" Id=\"NFe" + generated.key + "\">")));
    // infNFeSupl between infNFe and Signature, Signature last.
    EXPECT_THAT(signedXml, AllOf(HasSubstr("<cDV>" + generated.key.substr(43) + "</cDV><tpAmb>2</tpAmb>"),
                                 HasSubstr("</infNFe><infNFeSupl>"), HasSubstr("</infNFeSupl><Signature"),
                                 HasSubstr("</Signature></NFe>"), Not(HasSubstr(kCsc)),
                                 HasSubstr("<urlChave>http://homologacao.sefaz.mt.gov.br/nfce/consultanfce</urlChave>")));

    // The online QR code, read back from the signed file (the emission routine reads it from the authorised
    // document, which holds this NFe as signed).
    RealFiscalComponent reader(storeFolder);
    std::string qr, result;
    ASSERT_TRUE(reader.qrAddress(generated.signedPath, qr, result)) << result;
    const std::string parameters = generated.key + "|2|2|1";
    EXPECT_EQ(qr, "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + parameters + "|" +
                      sha1UpperHex(parameters + kCsc));
    EXPECT_FALSE(reader.qrAddress(documentFolder + "nada.xml", qr, result));
    EXPECT_TRUE(qr.empty());

    // The addresses of webservices.ini override the built-in ones.
    writeFile(documentFolder + "webservices.ini",
              "[MT_2]\r\nQRCode=http://127.0.0.1:18443/nfce/qrcode\r\nurlChave=http://127.0.0.1:18443/consulta\r\n");
    const Generated local = generate(Sale{});
    EXPECT_THAT(readFile(local.signedPath),
                AllOf(HasSubstr("<![CDATA[http://127.0.0.1:18443/nfce/qrcode?p=" + local.key + "|2|2|1|"),
                      HasSubstr("<urlChave>http://127.0.0.1:18443/consulta</urlChave>")));

    // "0", sent when the program's request for a numeric code failed, is replaced (the other unusable
    // codes are NumericCodeTest's).
    sale.cNF = "0";
    const Generated fresh = generate(sale);
    EXPECT_TRUE(numericCodeUsable(fresh.key.substr(35, 8), 4321)) << fresh.key;
    EXPECT_THAT(readFile(fresh.signedPath), HasSubstr("<cNF>" + fresh.key.substr(35, 8) + "</cNF>"));
}

TEST_F(RealComponentTest, OfflineQrCarriesDayValueAndDigestOfTheSignature) {
    Sale sale = variedSales().back().second;  // the offline contingency
    const Generated generated = generate(sale);
    EXPECT_EQ(generated.key[34], '9');
    const std::string signedXml = readFile(generated.signedPath);
    const std::string digest = between(signedXml, "<DigestValue>", "</DigestValue>");
    const std::string vNF = between(signedXml, "<vNF>", "</vNF>");
    ASSERT_EQ(digest.size(), 28u);
    std::string hex;
    for (unsigned char c : digest) hex += "0123456789abcdef"[c >> 4] + std::string(1, "0123456789abcdef"[c & 15]);
    const std::string parameters = generated.key + "|2|2|05|" + vNF + "|" + hex + "|1";
    EXPECT_EQ(between(signedXml, "<qrCode><![CDATA[", "]]></qrCode>"),
              "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + parameters + "|" + sha1UpperHex(parameters + kCsc));
    EXPECT_THAT(signedXml, HasSubstr("<dhCont>2026-03-05T00:00:00-04:00</dhCont>"));
    EXPECT_THAT(readFile(generated.generatedPath), Not(HasSubstr("infNFeSupl")));
}

TEST_F(RealComponentTest, ValidationMessagesNameTheElementAndTheReason) {
    const Generated generated = generate(Sale{});
    std::string xml = readFile(generated.signedPath);
    xml.replace(xml.find("<NCM>19052090</NCM>"), 19, "<NCM>1234</NCM>");
    writeFile(generated.signedPath, xml);
    // The component that generated the file validates the file as it is now, not what it wrote.
    std::string message;
    EXPECT_FALSE(component->validate(ValidationArgs{generated.signedPath}, message));
    // ":NCM" is what the emission routine looks for; the component's own schema, used without the
    // official ones, says the same.
    for (const std::string& text : {message, validateNfeText(xml, emptySchemaFolder).message})
        EXPECT_THAT(text, AllOf(HasSubstr("Elemento nfe:NCM do item 1 (linha 2): valor '1234' não corresponde ao padrão"),
                                HasSubstr("Detalhe: Element 'nfe:NCM'")));
    EXPECT_THAT(validateNfeText("<NFe><infNFe>", kOfficialSchemas).message, HasSubstr("não é um XML válido"));
    EXPECT_THAT(validateNfeFile(dir.file("ausente.xml"), kOfficialSchemas).message, HasSubstr("não encontrado"));
}

TEST_F(RealComponentTest, SaysWhetherItCanWorkAndRefusesWhatItCannotDo) {
    bool usable = false;
    RealFiscalComponent fresh(storeFolder);
    EXPECT_TRUE(fresh.statusQuery(usable) && usable);
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
}

// The example's DigestValue: it depends only on infNFe, not on the key that signed it.
const std::string kExampleDigest = "imH4BI/aUPOhSU9iLTVJXbkNQV0=";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& text) {
    return Doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "nfce.xml", nullptr, XML_PARSE_NONET));
}

std::string serialise(xmlDoc* doc) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &bytes, &size);
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    xmlFree(bytes);
    return text;
}

class XmlSignerTest : public ::testing::Test {
protected:
    void SetUp() override { QUORVANTI_SKIP_WITHOUT_SHARED(); }

    // The example without its Signature.
    static Doc unsignedExample() {
        std::string text = readFile(testing::kExampleDocument);
        const auto start = text.find("<Signature");
        text.erase(start, text.find("</Signature>") + 12 - start);
        return parse(text);
    }

    // Writes `text` to a file and asks xmlsec1 about it.
    bool verifies(const std::string& text, std::string* output = nullptr) {
        const std::string path = dir.file("assinado-" + std::to_string(++files) + ".xml");
        writeFile(path, text);
        return xmlsecVerifies(path, output);
    }

    testing::TempDir dir;
    std::shared_ptr<const LoadedCertificate> signer = testing::SignedNfceMaker(dir.path()).signer();
    int files = 0;
};

// The example signed again by the test signer: the example's digest, valid against the official schema
// as the authority receives it, and verified by xmlsec1.
TEST_F(XmlSignerTest, SignsTheExampleAsTheAuthorityExpects) {
    Doc doc = unsignedExample();
    EXPECT_EQ(signatureDigestValue(doc.get()), "");
    signNfe(doc.get(), *signer);
    EXPECT_EQ(signatureDigestValue(doc.get()), kExampleDigest);
    const std::string signedText = serialise(doc.get());
    // (The schema fixes the signature's algorithms, transforms and reference; xmlsec1 checks it with the
    // certificate it carries, issued by the test authority.)
    std::string output;
    EXPECT_TRUE(verifies(signedText, &output)) << output;
    EXPECT_TRUE(quorvanti::testing::validAgainst("nfe_v4.00.xsd", signedText, &output)) << output;

    // A changed byte inside infNFe breaks it; infNFeSupl (the offline QR code is written after
    // signing) is outside it.
    std::string tampered = signedText;
    const auto value = tampered.find("<vProd>9.00</vProd>");
    ASSERT_NE(value, std::string::npos);
    tampered[value + 10] = '1';
    EXPECT_FALSE(verifies(tampered));
    std::string newQr = signedText;
    const auto url = newQr.find("<urlChave>https://");
    ASSERT_NE(url, std::string::npos);
    newQr.replace(url + 10, 8, "http://");
    EXPECT_TRUE(verifies(newQr));

    // Signing again replaces the signature.
    signNfe(doc.get(), *signer);
    const std::string again = serialise(doc.get());
    EXPECT_EQ(again.find("</Signature>"), again.rfind("</Signature>"));
    EXPECT_TRUE(verifies(again));
    // (The digest read from an NFe inside another element is AuthorityTest's digVal.)
}

// Signing a text digests the same bytes as signing its parsed tree, whether the text is in the
// writer's form (digested as it stands) or not (parsed); xmlsec1 accepts every result. (Inclusive
// canonicalisation carries the root's unused declarations into infNFe and SignedInfo; a verifier does the
// same, so a signer that left them out would fail with another declaration on the root.)
TEST_F(XmlSignerTest, TextSignatureMatchesTheTreeSignatureInEveryForm) {
    const std::string root = "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">";
    const std::string id = "NFe35261145723174000110650020000012341837461527";
    const std::string content =
        "<ide><natOp>A &amp; B &lt;C&gt; \"D\" 'E' ação\tfim</natOp></ide><det nItem=\"1\"><prod>"
        "<xProd>linha&#xD;\nseguinte</xProd></prod></det>";
    const std::string supplement = "<infNFeSupl><qrCode><![CDATA[https://q?p=1&v=2]]></qrCode></infNFeSupl>";
    const auto nfe = [&](const std::string& start, const std::string& body, const std::string& rootStart) {
        return rootStart + start + body + "</infNFe>" + supplement + "</NFe>";
    };
    const std::string written = "<infNFe versao=\"4.00\" Id=\"" + id + "\">";
    const struct {
        const char* what;
        std::string text;
        bool writersForm;
    } cases[] = {
        {"writer's form", nfe(written, content, root), true},
        {"with declaration, attributes in canonical order",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + nfe("<infNFe Id=\"" + id + "\" versao=\"4.00\">", content, root),
         true},
        {"blanks between elements", nfe(written, "\n  " + content + "\n", root), true},
        {"another declaration on the root",
         nfe(written, content, "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" xmlns:xsi=\"urn:x\">"), false},
        // Each of these is caught by its own test of the writer's form; one missed would digest bytes
        // that are not canonical, and the authority would refuse the signature.
        {"empty-element tag", nfe(written, content + "<pag/>", root), false},
        {"escape a canonical writer does not use", nfe(written, "<ide><natOp>&quot;&#65;</natOp></ide>", root), false},
        {"literal greater-than", nfe(written, "<ide><natOp>a > b</natOp></ide>", root), false},
        {"attribute needing normalisation", nfe(written, "<det nItem=\" 1\"></det>", root), false},
        {"CDATA inside infNFe", nfe(written, "<ide><natOp><![CDATA[x]]></natOp></ide>", root), false},
        {"extra attribute on infNFe", nfe("<infNFe versao=\"4.00\" Id=\"" + id + "\" a=\"1\">", content, root), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isInWritersForm(c.text), c.writersForm);
        const NfeSignature signature = signNfeText(c.text, *signer);

        Doc tree = parse(c.text);
        ASSERT_TRUE(tree);
        signNfe(tree.get(), *signer);
        EXPECT_EQ(signature.digestValue, signatureDigestValue(tree.get()));
        std::string treeOutput;
        EXPECT_TRUE(verifies(serialise(tree.get()), &treeOutput)) << treeOutput;

        std::string signedText = c.text;
        signedText.insert(signedText.rfind("</NFe>"), signature.element);
        std::string output;
        EXPECT_TRUE(verifies(signedText, &output)) << output;
    }
    // What is not an NFe is refused, and left as it was.
    EXPECT_THROW(signNfeText("<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe>", *signer),
                 std::runtime_error);
    for (const char* text : {"<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><ide/></NFe>",
                             "<NFe><infNFe Id=\"NFe1\"/></NFe>", "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe/></NFe>"}) {
        Doc other = parse(text);
        EXPECT_THROW(signNfe(other.get(), *signer), std::runtime_error) << text;
        EXPECT_EQ(xmlChildElementCount(xmlDocGetRootElement(other.get())), 1u);
    }
}

}  // namespace
}  // namespace quorvanti::fiscal
