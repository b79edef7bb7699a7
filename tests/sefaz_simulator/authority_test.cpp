// The local authority's rules driven directly: real documents signed by the real component go in as
// the component sends them, and every answer must be what the authority answers and valid against the
// official answer schema. (Its scenario file is exercised by every suite that replaces it between
// tries; the process over HTTPS, by the web service suite.)
#include "sefaz_simulator/authority.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "fiscal_component/document/access_key.h"
#include "simulator_test_support.h"

namespace quorvanti::sefaz {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using namespace testsupport;
using fiscal::testsales::Sale;
using testing::readFile;

std::string digestValueOf(const std::string& xml) { return between(xml, "<DigestValue>", "</DigestValue>"); }

// The sound path itself is every end-to-end suite's; here what they do not look at: the answer's digest
// and the kept nfeProc (schema and signature), and protocol numbers that go on after a restart.
// (A key never sent is answered 217 in crash_recovery_test's KeyWrittenNotSent.)
TEST_F(AuthorityTest, AuthorisesASoundDocumentKeepsItAndFindsItAfterARestart) {
    const SignedDocument document = maker.make(Sale{});
    XmlDocument answer = send(document.xml);
    ASSERT_TRUE(answer);
    EXPECT_EQ(texts(answer.get(), {{"cStat"}, prot("cStat"), prot("chNFe"), prot("digVal")}),
              "104|100|" + document.key + "|" + digestValueOf(document.xml));
    const std::string nProt = field(answer.get(), prot("nProt"));

    // The kept nfeProc is the signed document as sent, followed by the same protocol.
    const std::string procPath = stateFolder + "/autorizadas/" + document.key + ".xml";
    const std::string nfeProc = readFile(procPath);
    std::string problem;
    EXPECT_TRUE(validAgainst("procNFe_v4.00.xsd", nfeProc, &problem)) << problem;
    EXPECT_THAT(nfeProc, HasSubstr(document.xml.substr(document.xml.find("<infNFe"), 200)));
    EXPECT_THAT(nfeProc, HasSubstr("<nProt>" + nProt + "</nProt>"));
    std::string output;
    EXPECT_TRUE(testing::xmlsecVerifies(procPath, &output)) << output;

    // After a restart, without a schema package (the component's own serves), the document is still
    // found and protocol numbers go on from where they were.
    settings.schemaFolder.clear();
    restart();
    EXPECT_EQ(texts(consult(document.key).get(), {{"cStat"}, prot("nProt")}), "100|" + nProt);
    Sale next;
    next.number = 1235;
    XmlDocument second = send(maker.make(next).xml);
    EXPECT_EQ(protocolStatus(second.get()), "100");
    EXPECT_GT(field(second.get(), prot("nProt")), nProt);
}

// The routine reads the key and receipt of a 539. (A denied number stays used: the emission routine's
// AnErrorOrADenialKeepsTheSaleAndARejectionDropsItWithALogLine.) (A consultation answered 562 for a key whose number
// another key holds is crash_recovery_test's KeyWrittenThenNumberTaken.)
TEST_F(AuthorityTest, ANumberAuthorisedUnderAnotherKeyIs539) {
    const SignedDocument first = maker.make(Sale{});
    ASSERT_EQ(protocolStatus(send(first.xml).get()), "100");

    Sale sameNumber;
    sameNumber.cNF = "19283746";
    const SignedDocument second = maker.make(sameNumber);
    ASSERT_NE(second.key, first.key);
    EXPECT_THAT(texts(send(second.xml).get(), {prot("cStat"), prot("xMotivo")}),
                MatchesRegex("539\\|Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso \\[chNFe: " +
                             first.key + "\\]\\[nRec:51[0-9]{13}\\]"));
    EXPECT_FALSE(std::filesystem::exists(stateFolder + "/autorizadas/" + second.key + ".xml"));

    // A key of the same number that differs elsewhere (the emission month) is 613.
    std::string otherMonth = first.key.substr(0, 43);
    otherMonth.replace(4, 2, otherMonth.substr(4, 2) == "01" ? "02" : "01");
    otherMonth += std::to_string(fiscal::accessKeyCheckDigit(otherMonth));
    EXPECT_EQ(field(consult(otherMonth).get(), {"cStat"}), "613");
}

// The signer must be valid, of the emitter's CNPJ base, and trusted when an authority is given; the
// published example is authorised by São Paulo trusting its own.
TEST_F(AuthorityTest, TheSignersCertificateMustBeValidOfTheEmitterAndTrustedWhenAnAuthorityIsGiven) {
    const SignedDocument document = maker.make(Sale{});
    now = 4070908800;  // 2099-01-01, after the test signer's validity
    EXPECT_EQ(protocolStatus(send(document.xml).get()), "291");
    now = std::time(nullptr);
    settings.trustedAuthorities = kExampleAuthority;
    restart();
    EXPECT_EQ(protocolStatus(send(document.xml).get()), "293");
    settings.trustedAuthorities = testing::testAuthorityPem();
    restart();
    EXPECT_EQ(protocolStatus(send(document.xml).get()), "100");

    settings.uf = "SP";
    settings.trustedAuthorities = kExampleAuthority;
    // The example is dated before its signer's validity began: no clock passes both checks, so the
    // emission time goes unchecked here.
    settings.clockToleranceMinutes = -1;
    now = 1812153600;  // 2027-06-05, within the example signer's validity
    restart();
    const std::string example = withoutDeclaration(readFile(kExampleDocument));
    EXPECT_EQ(texts(send(example).get(), {prot("cStat"), {"cUF"}, {"dhRecbto"}, prot("digVal")}),
              "100|35|2027-06-04T21:00:00-03:00|imH4BI/aUPOhSU9iLTVJXbkNQV0=");
    // Signed by a certificate of another CNPJ base than the emitter's: 213, before any duplicity.
    settings.trustedAuthorities.clear();
    now = std::time(nullptr);
    restart();
    EXPECT_EQ(protocolStatus(send(resigned(example, *maker.signer())).get()), "213");
}

TEST_F(AuthorityTest, AMessageThatFailsItsSchemaIsRefusedAsAWholeWith225) {
    const SignedDocument document = maker.make(Sale{});
    const std::string withoutNatOp = resigned(document.xml, *maker.signer(), [](xmlDoc* d) {
        xmlNode* natOp = elementAt(d, {"infNFe", "ide", "natOp"});
        xmlUnlinkNode(natOp);
        xmlFreeNode(natOp);
    });
    EXPECT_THAT(texts(send(withoutNatOp).get(), {{"cStat"}, prot("cStat"), {"xMotivo"}}),
                MatchesRegex("225\\|\\|Rejeição: Falha no Schema XML \\(.*natOp.*"));

    // A body that is no enviNFe at all.
    const auto status = [&](const std::string& request) {
        return field(call(Service::Authorisation, request, "retEnviNFe_v4.00.xsd").get(), {"cStat"});
    };
    EXPECT_EQ(status(fiscal::soapEnvelope(fiscal::WebService::Authorisation, "<enviNFe/>")), "225");
    EXPECT_EQ(status(sendRequest(document.xml + document.xml)), "452");
    EXPECT_TRUE(std::filesystem::is_empty(stateFolder + "/autorizadas"));
    EXPECT_EQ(field(consult(document.key.substr(1)).get(), {"cStat"}), "225");
}

// The service status (the monitor's connection check) answers 107 only for its state and environment.
// (What the component does with a SOAP fault is the web service suite's: it never sends a faulty envelope.)
TEST_F(AuthorityTest, TheServiceStatusAnswers107ForItsStateAndEnvironment) {
    const auto status = [&](int tpAmb, const char* cUF) {
        const std::string request =
            fiscal::soapEnvelope(fiscal::WebService::ServiceStatus, fiscal::consStatServMessage(tpAmb, cUF));
        return field(call(Service::ServiceStatus, request, "retConsStatServ_v4.00.xsd").get(), {"cStat"});
    };
    EXPECT_EQ(status(2, "51") + status(2, "35") + status(1, "51"), "107289252");
}

// As the authority by default: dhEmi more than 5 minutes ahead of the time of receipt is 703, a normal
// emission more than 5 minutes old is 704; an offline contingency document is sent after the fact.
TEST_F(AuthorityTest, TheEmissionTimeIsCheckedAgainstTheTimeOfReceipt) {
    const auto saleAt = [&](int number, std::time_t emitted, int tpEmis = 1) {
        Sale sale;
        sale.number = number;
        sale.dhEmi = authority().dateTime(emitted);
        if (tpEmis == 9) {
            sale.tpEmis = 9;
            sale.dhCont = authority().dateTime(emitted - 600);
            sale.xJust = "Sistema WEB inoperante apresentando lentidao";
        }
        return sale;
    };
    const struct {
        std::time_t offset;  // dhEmi minus the time of receipt, seconds
        int tpEmis;
        const char* cStat;
    } cases[] = {{-301, 1, "704"}, {-300, 1, "100"}, {300, 1, "100"}, {301, 1, "703"}, {3600, 9, "703"}, {-86400, 9, "100"}};
    int number = 0;
    for (const auto& c : cases) {
        XmlDocument answer = send(maker.make(saleAt(++number, now + c.offset, c.tpEmis)).xml);
        EXPECT_EQ(protocolStatus(answer.get()), c.cStat) << c.offset << " s, tpEmis " << c.tpEmis;
    }
}

// A document changed after the real component made it is refused with its rejection inside a processed
// batch, and nothing is kept: a broken signature; a QR code missing, of another key or hashed with
// another CSC; a key, state, environment or homologation text that disagrees with the document; a rule
// of model 65 broken (indFinal stands for the rules of one check); totals that are not the sum of the
// items', vNF not composed of them, an item discounted beyond its value, payments that do not cover vNF
// with the change stated. (The sums of the items are compared in one loop: products and discount, which
// the sale carries, stand for the rest.)
TEST_F(AuthorityTest, AChangedDocumentIsRefusedWithItsRejectionAndNothingIsKept) {
    Sale sale;  // items 30.00 - 3.00 and 11.00: vProd 41.00, vDesc 3.00, vNF 38.00; paid 40.50, change 2.50
    sale.cpf = "52998224725";
    sale.items = {fiscal::testsales::SaleItem{.quantity = 3, .total = 27, .discount = 3},
                  fiscal::testsales::SaleItem{.code = "77", .total = 11}};
    sale.extraPaid = 2.5;
    const SignedDocument document = maker.make(sale);
    const auto signer = maker.signer();
    using Change = std::function<void(xmlDoc*)>;
    const auto set = [](std::vector<const char*> path, std::string text) -> Change {
        return [=](xmlDoc* d) { setText(d, path, text); };
    };
    const auto setKey = [](xmlDoc* d, const std::string& key) {
        xmlSetProp(elementAt(d, {"infNFe"}), reinterpret_cast<const xmlChar*>("Id"),
                   reinterpret_cast<const xmlChar*>(("NFe" + key).c_str()));
    };
    const auto removeChange = [](xmlDoc* d) {
        xmlNode* change = elementAt(d, {"infNFe", "pag", "vTroco"});
        xmlUnlinkNode(change);
        xmlFreeNode(change);
    };
    // Changed after signing, without signing again. (Other algorithms are refused by the schema
    // already; a reference to another Id is not.)
    const auto edited = [&](const std::string& at, std::size_t offset, std::size_t length, const std::string& text) {
        std::string xml = document.xml;
        return xml.replace(xml.find(at) + offset, length, text);
    };
    const std::string& key = document.key;
    const std::string value = document.xml.substr(document.xml.find("<SignatureValue>") + 20, 1);
    const std::string key43 = key.substr(0, 43);
    const std::string wrongDigit = std::to_string((key[43] - '0' + 1) % 10);
    const std::string keyWithOtherCode = key.substr(0, 35) + "11111111";
    const std::size_t qr = document.xml.find("|2|2|1|"), supplement = document.xml.find("<infNFeSupl>");
    const std::string hashStart = document.xml.substr(qr + 7, 1);
    const struct {
        const char* name;
        std::string xml;  // "" = the document changed by `change` and signed again
        Change change;
        const char* cStat;
        std::string reasonPart = "";  // where the routine reads the reason: the part it reads
    } cases[] = {
        {"a value changed after signing", edited("<vNF>", 5, 1, "9"), {}, "297"},
        {"a reference to another element", edited("URI=\"#NFe", 9 + 43, 1, key[43] == '1' ? "2" : "1"), {}, "298"},
        {"a signature value changed", edited("<SignatureValue>", 20, 1, value == "A" ? "B" : "A"), {}, "297"},
        // The QR code is outside the signed infNFe.
        {"no QR code", edited("<infNFeSupl>", 0, document.xml.find("</infNFeSupl>") + 13 - supplement, ""), {}, "394"},
        {"a QR code of another key", edited("?p=", 3 + 25, 1, key[25] == '1' ? "2" : "1"), {}, "397"},
        {"a QR code hashed with another CSC", edited("|2|2|1|", 7, 1, hashStart == "A" ? "B" : "A"), {}, "464"},
        {"an unreadable certificate", edited("<X509Certificate>", 17, 8, "AAAAAAAA"), {}, "290", "Certificado"},
        {"numeric code other than the key's", "", set({"infNFe", "ide", "cNF"}, "11111111"), "562",
         "[chNFe: " + keyWithOtherCode + std::to_string(fiscal::accessKeyCheckDigit(keyWithOtherCode)) + "]"},
        {"series other than the key's", "", set({"infNFe", "ide", "serie"}, "2"), "502"},
        {"key with a wrong check digit", "", [&](xmlDoc* d) { setKey(d, key43 + wrongDigit); }, "236"},
        {"cDV other than the key's", "", set({"infNFe", "ide", "cDV"}, wrongDigit), "253"},
        {"a production document", "", set({"infNFe", "ide", "tpAmb"}, "1"), "252", "Ambiente informado"},
        {"a consumer who is not the final one", "", set({"infNFe", "ide", "indFinal"}, "0"), "892"},
        {"an emitter of another state", "", set({"infNFe", "ide", "cUF"}, "35"), "226"},
        {"an emitter CNPJ with wrong check digits", "",
         [&](xmlDoc* d) {
             // The key changed with it, so that only the CNPJ's own check can fail.
             std::string otherKey = key43;
             otherKey.replace(6, 14, "11222333000180");
             otherKey += std::to_string(fiscal::accessKeyCheckDigit(otherKey));
             setText(d, {"infNFe", "emit", "CNPJ"}, "11222333000180");
             setText(d, {"infNFe", "ide", "cDV"}, otherKey.substr(43));
             setKey(d, otherKey);
         },
         "207"},
        {"an item description without the homologation text", "", set({"infNFe", "det", "prod", "xProd"}, "PAO"), "373"},
        {"a recipient name without the homologation text", "", set({"infNFe", "dest", "xNome"}, "MARIA"), "598"},
        {"products total", "", set({"infNFe", "total", "ICMSTot", "vProd"}, "42.00"), "564"},
        {"discount total", "", set({"infNFe", "total", "ICMSTot", "vDesc"}, "2.00"), "537"},
        {"invoice value", "", set({"infNFe", "total", "ICMSTot", "vNF"}, "39.00"), "610"},
        {"an item discounted beyond its value", "",
         [&](xmlDoc* d) {
             set({"infNFe", "det", "prod", "vDesc"}, "31.00")(d);
             set({"infNFe", "total", "ICMSTot", "vDesc"}, "31.00")(d);
             set({"infNFe", "total", "ICMSTot", "vNF"}, "10.00")(d);
         },
         "880"},
        {"payments below the invoice", "",
         [&](xmlDoc* d) {
             set({"infNFe", "pag", "detPag", "vPag"}, "37.99")(d);
             removeChange(d);
         },
         "865"},
        {"payments above the invoice without change", "", removeChange, "866"},
        {"wrong change", "", set({"infNFe", "pag", "vTroco"}, "2.00"), "869"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument answer = send(c.xml.empty() ? resigned(document.xml, *signer, c.change) : c.xml);
        EXPECT_EQ(texts(answer.get(), {{"cStat"}, prot("cStat")}), std::string("104|") + c.cStat);
        EXPECT_THAT(field(answer.get(), prot("xMotivo")), HasSubstr(c.reasonPart));
        EXPECT_TRUE(std::filesystem::is_empty(stateFolder + "/autorizadas"));
    }
    // Unchanged, or only signed again, it passes.
    EXPECT_EQ(protocolStatus(send(resigned(document.xml, *signer)).get()), "100");
}

}  // namespace
}  // namespace quorvanti::sefaz
