// Fiscal events (cancellation, cancellation by substitution) and number voiding: the signed requests
// pass the official schemas and xmlsec1; the answers of the event reception and the voiding are read
// from a transport stand-in, with the documents kept; the component refuses what the layout refuses
// before anything is sent.
// The reply records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <tuple>

#include "fiscal_component/document/event_documents.h"
#include "fiscal_component/real_component.h"
#include "fiscal_component/sefaz/web_services.h"
#include "fiscal_component/signing/xml_signer.h"
#include "platform/durable_file.h"
#include "support/error_text.h"
#include "support/shared_data.h"
#include "support/signed_nfce.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using testing::errorText;
using testing::readFile;
using testing::validAgainst;
using testing::writeFile;

const std::string kKey = "51260311222333000181650010000012341000012347";
const std::string kSubstitute = "51260311222333000181650010000012351000012358";
const std::string kReason = "Venda cancelada a pedido do cliente & <troca>: preço errado";

const EventIssuer kIssuer{.uf = "MT", .tpAmb = 2, .cnpj = "11222333000181", .verAplic = "TAVU - 1.0.0"};

EventArgs cancellation(std::int32_t tpEvento = kCancellation) {
    return EventArgs{.accessKey = kKey, .tpEvento = tpEvento, .nSeqEvento = 1, .nProt = "151260000012345",
                     .xJust = kReason, .chNFeRef = tpEvento == kCancellationBySubstitution ? kSubstitute : "",
                     .dhEvento = "2026-03-05T14:17:09-04:00", .idLote = 7};
}

const VoidingArgs kVoiding{.series = 1, .fromNumber = 5, .toNumber = 9, .year = 26, .xJust = kReason};

std::string envelope(const std::string& message) {
    return "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>" + message +
           "</env:Body></env:Envelope>";
}

std::string retEvento(std::int32_t tpEvento, int cStat, const std::string& nProt) {
    return "<retEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><infEvento><tpAmb>2</tpAmb>"
           "<verAplic>T</verAplic><cOrgao>51</cOrgao><cStat>" + std::to_string(cStat) + "</cStat><xMotivo>Motivo " +
           std::to_string(cStat) + "</xMotivo><chNFe>" + kKey + "</chNFe><tpEvento>" + std::to_string(tpEvento) +
           "</tpEvento><xEvento>Cancelamento</xEvento><nSeqEvento>1</nSeqEvento>"
           "<dhRegEvento>2026-03-05T14:17:30-04:00</dhRegEvento>" +
           (nProt.empty() ? "" : "<nProt>" + nProt + "</nProt>") + "</infEvento></retEvento>";
}

std::string retEnvEvento(int cStat, const std::string& events) {
    return "<retEnvEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><idLote>7</idLote>"
           "<tpAmb>2</tpAmb><verAplic>T</verAplic><cOrgao>51</cOrgao><cStat>" + std::to_string(cStat) +
           "</cStat><xMotivo>Lote " + std::to_string(cStat) + "</xMotivo>" + events + "</retEnvEvento>";
}

std::string retInutNFe(int cStat, const std::string& nProt) {
    return "<retInutNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><infInut><tpAmb>2</tpAmb>"
           "<verAplic>T</verAplic><cStat>" + std::to_string(cStat) + "</cStat><xMotivo>Motivo " +
           std::to_string(cStat) + "</xMotivo><cUF>51</cUF><ano>26</ano><CNPJ>11222333000181</CNPJ><mod>65</mod>"
           "<serie>1</serie><nNFIni>5</nNFIni><nNFFin>9</nNFFin><dhRecbto>2026-03-05T14:20:00-04:00</dhRecbto>" +
           (nProt.empty() ? "" : "<nProt>" + nProt + "</nProt>") + "</infInut></retInutNFe>";
}

// xmlsec1 on a signed request whose signed element is `idElement`, trusting the test authority.
bool xmlsecAccepts(const std::string& path, const std::string& idElement) {
    const std::string command = "xmlsec1 --verify --trusted-pem '" + testing::testAuthorityPem() + "' --id-attr:Id " +
                                idElement + " '" + path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class FiscalEventsTest : public ::testing::Test {
protected:
    void SetUp() override { QUORVANTI_SKIP_WITHOUT_SHARED(); }

    std::string signedEvento(const EventArgs& args) {
        return signElementText(eventoRequest(args, kIssuer).xml, "evento", "infEvento", *maker.signer());
    }
    std::string signedInutNFe(const VoidingArgs& args) {
        return signElementText(inutNFeRequest(args, kIssuer).xml, "inutNFe", "infInut", *maker.signer());
    }

    // Web services whose every call is answered with `answer` (a SOAP body's message), recorded.
    WebServices services() {
        return WebServices(WebServiceSettings{.uf = "MT", .tpAmb = 2, .documentFolder = nfe}, {},
                           [this](const SoapCall& call, std::string_view name) {
                               calls.push_back(call);
                               SoapOutcome outcome{.httpStatus = 200, .body = envelope(answer)};
                               outcome.reading = readSoapAnswer(call.service, 200, outcome.body, name);
                               return outcome;
                           });
    }

    testing::TempDir dir;
    testing::SignedNfceMaker maker{dir.path()};
    std::string nfe = dir.file("nfe") + "/";
    std::string answer;
    std::vector<SoapCall> calls;
};

TEST_F(FiscalEventsTest, SignedRequestsPassTheOfficialSchemasAndXmlsec) {
    struct Case {
        std::string name, signedXml, message, schema, idElement;
    };
    const std::string cancel = signedEvento(cancellation());
    const std::string substitute = signedEvento(cancellation(kCancellationBySubstitution));
    const std::string lastSeries = signedInutNFe(VoidingArgs{.series = 999, .fromNumber = 999999999,
                                                             .toNumber = 999999999, .year = 2026, .xJust = kReason});
    const std::string voiding = signedInutNFe(kVoiding);
    for (const Case& c : {Case{"110111", cancel, envEventoMessage(cancel, 7), "envEventoCancNFe_v1.00.xsd", "infEvento"},
                          Case{"110112", substitute, envEventoMessage(substitute, 999999999999999),
                               "envEventoCancSubst_v1.00.xsd", "infEvento"},
                          Case{"voiding", voiding, voiding, "inutNFe_v4.00.xsd", "infInut"},
                          Case{"last series", lastSeries, lastSeries, "inutNFe_v4.00.xsd", "infInut"}}) {
        std::string error;
        EXPECT_TRUE(validAgainst(c.schema, c.message, &error)) << c.name << ": " << error << "\n" << c.message;
        const std::string path = dir.file(c.name + ".xml");
        writeFile(path, c.signedXml);
        EXPECT_TRUE(xmlsecAccepts(path, c.idElement)) << c.name;
        // Tampering with the signed element is caught: the check above is not vacuous.
        std::string tampered = c.signedXml;
        tampered.replace(tampered.find("<xJust>") + 7, 5, "VENDA");
        writeFile(path, tampered);
        EXPECT_FALSE(xmlsecAccepts(path, c.idElement)) << c.name;
    }
    // Signing again replaces the signature instead of adding one.
    const std::string again = signElementText(cancel, "evento", "infEvento", *maker.signer());
    EXPECT_EQ(again.find("</Signature>"), again.rfind("</Signature>"));
    EXPECT_TRUE(validAgainst("eventoCancNFe_v1.00.xsd", again));
}

TEST_F(FiscalEventsTest, ArgumentsTheLayoutRefusesAreRefusedWithTheirReason) {
    const std::pair<std::function<void(EventArgs&)>, std::string> refusals[] = {
        // (Fourteen plain characters are the component's refusal below.) Blanks count as the layout keeps them: runs reduced to one, none at the ends.
        {[](EventArgs& a) { a.xJust = " " + std::string(7, 'x') + "  " + std::string(6, 'x') + " "; }, "14 caracteres"},
        {[](EventArgs& a) { a.xJust = std::string(7, 'x') + "   " + std::string(7, 'x'); }, ""},
        {[](EventArgs& a) { a.xJust = std::string(256, 'x'); }, "256 caracteres"},
        {[](EventArgs& a) { a.xJust = std::string(127, 'x') + "\xC3\xA7" + std::string(127, 'x'); }, ""},
        {[](EventArgs& a) { a.accessKey = kKey.substr(1); }, "44 dígitos"},
        {[](EventArgs& a) { a.accessKey = "99" + kKey.substr(2); }, "99 não é"},
        {[](EventArgs& a) { a.chNFeRef = ""; }, "substituta"},
        {[](EventArgs& a) { a.nProt = "15126000001234"; }, "15 ou 17"},
        {[](EventArgs& a) { a.nSeqEvento = 21; }, "de 1 a 20"},
        {[](EventArgs& a) { a.tpEvento = 110110; }, "não suportado"},
        {[](EventArgs& a) { a.dhEvento = "2026-03-05T14:17:09"; }, "fuso"},
    };
    for (const auto& [change, refusal] : refusals) {
        EventArgs args = cancellation(kCancellationBySubstitution);
        change(args);
        const std::string text = errorText<ComponentError>([&] { eventoRequest(args, kIssuer); });
        EXPECT_TRUE(refusal.empty() ? text.empty() : text.find(refusal) != std::string::npos) << refusal << ": " << text;
    }

    const auto voidingRefusal = [](std::int64_t from, std::int64_t to) {
        VoidingArgs args = kVoiding;
        args.fromNumber = from;
        args.toNumber = to;
        return errorText<ComponentError>([&] { inutNFeRequest(args, kIssuer); });
    };
    EXPECT_EQ(voidingRefusal(1, 10000), "");  // one more is the component's refusal below
    EXPECT_THAT(voidingRefusal(9, 5), HasSubstr("maior que o final"));
    EXPECT_THAT(voidingRefusal(0, 5), HasSubstr("1 a 999999999"));
}

TEST_F(FiscalEventsTest, EventAnswersAreReadAndARegisteredEventIsKept) {
    struct Case {
        std::int32_t tpEvento;
        std::string answer;
        std::tuple<int, int, std::string> expected;  // batch, event, event protocol
        std::string procSchema;                      // "" = nothing kept
    };
    const std::string registered = retEvento(kCancellation, 135, "151260000000077");
    const std::string registeredSubstitution = retEvento(kCancellationBySubstitution, 135, "151260000000078");
    for (const Case& c : {
             Case{kCancellation, retEnvEvento(128, registered), {128, 135, "151260000000077"}, "procEventoCancNFe_v1.00.xsd"},
             Case{kCancellationBySubstitution, retEnvEvento(128, registeredSubstitution),
                  {128, 135, "151260000000078"}, "procEventoCancSubst_v1.00.xsd"},
             Case{kCancellation, retEnvEvento(215, ""), {215, 0, ""}, ""},
         }) {
        SCOPED_TRACE(c.answer);
        std::filesystem::remove_all(nfe);
        answer = c.answer;
        calls.clear();
        const std::string evento = signedEvento(cancellation(c.tpEvento));
        const EventResult result = services().sendEvent("<?xml version=\"1.0\"?>\n" + evento, 7);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].service, WebService::EventReception);
        EXPECT_EQ(calls[0].message, envEventoMessage(evento, 7));
        EXPECT_EQ(std::tie(result.cStat, result.eventCStat, result.nProt), c.expected);
        const std::string stem = kKey + "-" + std::to_string(c.tpEvento) + "-1";
        EXPECT_EQ(readFile(nfe + "retornos/" + stem + "-ret-env-evento.xml"), envelope(c.answer));
        const std::string procPath = nfe + "arquivos/eventos/" + stem + "-procEventoNFe.xml";
        if (c.procSchema.empty()) {
            EXPECT_EQ(result.storedPath, "");
            EXPECT_FALSE(std::filesystem::exists(procPath));
            continue;
        }
        EXPECT_EQ(result.dhRegEvento, "2026-03-05T14:17:30-04:00");
        EXPECT_EQ(std::tie(result.storedPath, result.storeFailure), std::tie(procPath, ""));
        const std::string proc = readFile(procPath);
        std::string error;
        EXPECT_TRUE(validAgainst(c.procSchema, proc, &error)) << error << "\n" << proc;
        EXPECT_THAT(proc, HasSubstr(evento + "<retEvento"));
        EXPECT_TRUE(xmlsecAccepts(procPath, "infEvento"));
    }
}

TEST_F(FiscalEventsTest, AKeptDocumentThatCannotBeWrittenIsToldAndUnsignedRequestsNeverLeave) {
    answer = retEnvEvento(128, retEvento(kCancellation, 135, "151260000000077"));
    platform::test_seam::failWritesUnder(nfe + "arquivos/eventos", ENOSPC);
    const EventResult full = services().sendEvent(signedEvento(cancellation()), 7);
    platform::test_seam::stopFailingWrites();
    EXPECT_EQ(full.eventCStat, 135);
    EXPECT_EQ(full.storedPath, "");
    EXPECT_THAT(full.storeFailure, HasSubstr("disco cheio"));

    calls.clear();
    EXPECT_EQ(services().sendEvent(eventoRequest(cancellation(), kIssuer).xml, 7).cStat, kFailureXmlDocument);
    EXPECT_EQ(services().voidNumbers(inutNFeRequest(kVoiding, kIssuer).xml).cStat, kFailureXmlDocument);
    EXPECT_TRUE(calls.empty());
}

TEST_F(FiscalEventsTest, VoidingAnswersAreReadAndAVoidedRangeIsKeptOnce) {
    const std::string inut = signedInutNFe(kVoiding);
    const std::string stem = inutNFeRequest(kVoiding, kIssuer).id.substr(2);
    const std::string procPath = nfe + "arquivos/inutilizadas/" + stem + "-procInutNFe.xml";
    struct Case {
        std::string answer;
        std::tuple<int, std::string, std::string> expected;  // cStat, nProt, storedPath
        bool keeps;  // the file holds this answer afterwards
    };
    for (const Case& c : {Case{retInutNFe(241, ""), {241, "", ""}, false},
                          Case{retInutNFe(563, "151260000000098"), {563, "151260000000098", procPath}, true},
                          Case{retInutNFe(102, "151260000000099"), {102, "151260000000099", procPath}, true},
                          Case{retInutNFe(563, "151260000000099"), {563, "151260000000099", procPath}, false}}) {
        SCOPED_TRACE(c.answer);
        answer = c.answer;
        const VoidingResult result = services().voidNumbers(inut);
        EXPECT_EQ(std::tie(result.cStat, result.nProt, result.storedPath), c.expected);
        EXPECT_EQ(calls.back().service, WebService::Voiding);
        EXPECT_EQ(calls.back().message, inut);
        EXPECT_EQ(readFile(nfe + "retornos/" + stem + "-ret-inut.xml"), envelope(c.answer));
        if (!c.keeps) continue;
        const std::string proc = readFile(procPath);
        std::string error;
        EXPECT_TRUE(validAgainst("procInutNFe_v4.00.xsd", proc, &error)) << error << "\n" << proc;
        EXPECT_THAT(proc, HasSubstr(inut + "<retInutNFe"));
        EXPECT_THAT(proc, HasSubstr("<nProt>" + std::get<1>(c.expected) + "</nProt>"));
        EXPECT_TRUE(xmlsecAccepts(procPath, "infInut"));
    }
    // The repeated request left the document of the 102 alone.
    EXPECT_THAT(readFile(procPath), HasSubstr("<cStat>102</cStat>"));
}

// The layout's refusals (each one is in ArgumentsTheLayoutRefusesAreRefusedWithTheirReason) come before
// any file or connection. (An answer that does not come is the cancellation's end-to-end test's.)
TEST_F(FiscalEventsTest, TheComponentRefusesBeforeSending) {
    RealFiscalComponent component(maker.storeFolder());
    component.configure(maker.configuration());
    EventArgs shortReason = cancellation();
    shortReason.xJust = std::string(14, 'x');
    EXPECT_THAT(errorText<ComponentError>([&] { component.sendEvent(shortReason); }), HasSubstr("14 caracteres"));
    VoidingArgs range = kVoiding;
    range.toNumber = range.fromNumber + 10000;
    EXPECT_THAT(errorText<ComponentError>([&] { component.voidNumbers(range); }), HasSubstr("10001 números"));
    EXPECT_FALSE(std::filesystem::exists(nfe + "arquivos"));
}

}  // namespace
}  // namespace quorvanti::fiscal
