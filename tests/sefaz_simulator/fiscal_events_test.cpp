// The local authority's fiscal events (cancellation, cancellation by substitution) and number voiding,
// driven directly with NFC-e made and signed by the real component: what each rule answers, that every
// answer and kept document is valid against the official schemas, and what the state folder keeps across
// a restart. (That it registers the component's own requests is shown by the command-line tests.)
#include <gtest/gtest.h>

#include <filesystem>

#include "fiscal_component/document/event_documents.h"
#include "sefaz_simulator/checks/substitution_check.h"
#include "simulator_test_support.h"

namespace quorvanti::sefaz {
namespace {

using namespace testsupport;
using fiscal::testsales::Sale;
using testing::readFile;

// An event as the component writes it; `id`, when given, replaces the Id it composes from the fields.
struct Event {
    std::string key;
    std::string nProt;
    std::int32_t type = fiscal::kCancellation;
    std::string reference;  // chNFeRef of a 110112
    std::string cnpj = "11222333000181";
    std::string id;
    std::string xJust = "Venda cancelada a pedido do cliente";
    long dated = 0;  // dhEvento this many seconds from the time of receipt
};

struct Voiding {
    long first = 0;
    long last = 0;
    int year = 0;  // 0 = the current one
};

class FiscalEventsTest : public AuthorityTest {
protected:
    // An authorised NFC-e: its key and protocol.
    std::pair<std::string, std::string> authorised(const Sale& sale) {
        XmlDocument answer = send(maker.make(sale).xml);
        EXPECT_EQ(field(answer.get(), {"protNFe", "infProt", "cStat"}), "100");
        return {field(answer.get(), {"protNFe", "infProt", "chNFe"}), field(answer.get(), {"protNFe", "infProt", "nProt"})};
    }

    // The signed evento; `edit` changes its text before it is signed.
    std::string eventXml(const Event& e, const std::function<void(std::string&)>& edit = {}) {
        const fiscal::EventArgs args{.accessKey = e.key, .tpEvento = e.type, .nProt = e.nProt, .xJust = e.xJust,
                                     .chNFeRef = e.reference, .dhEvento = authority().dateTime(now + e.dated)};
        fiscal::UnsignedRequest request =
            fiscal::eventoRequest(args, {.uf = "MT", .tpAmb = 2, .cnpj = e.cnpj, .verAplic = "TESTE 1.0"});
        if (!e.id.empty()) request.xml.replace(request.xml.find(request.id), request.id.size(), e.id);
        if (edit) edit(request.xml);
        return fiscal::signElementText(request.xml, "evento", "infEvento", *maker.signer());
    }
    static std::string eventRequest(const std::string& evento) {
        return fiscal::soapEnvelope(fiscal::WebService::EventReception, fiscal::envEventoMessage(evento, 77));
    }
    // The answer to one event; its retEvento's cStat.
    XmlDocument sendEvent(const Event& e) {
        return call(Service::EventReception, eventRequest(eventXml(e)),
                    e.type == fiscal::kCancellationBySubstitution ? "retEnvEventoCancSubst_v1.00.xsd"
                                                                  : "retEnvEventoCancNFe_v1.00.xsd");
    }
    std::string eventStatus(const Event& e) { return field(sendEvent(e).get(), {"retEvento", "infEvento", "cStat"}); }

    std::string voidingRequest(const Voiding& v) {
        const int year = v.year != 0 ? v.year : std::stoi(authority().dateTime(now).substr(2, 2));
        const fiscal::VoidingArgs args{.fromNumber = v.first, .toNumber = v.last, .year = year,
                                       .xJust = "Numeracao pulada por falha do sistema"};
        const fiscal::EventIssuer issuer{.uf = "MT", .tpAmb = 2, .cnpj = "11222333000181", .verAplic = "TESTE 1.0"};
        const std::string inutNFe = fiscal::inutNFeRequest(args, issuer).xml;
        return fiscal::soapEnvelope(fiscal::WebService::Voiding,
                                    fiscal::signElementText(inutNFe, "inutNFe", "infInut", *maker.signer()));
    }
    XmlDocument voidNumbers(const Voiding& v) {
        return call(Service::NumberVoiding, voidingRequest(v), "retInutNFe_v4.00.xsd");
    }
};

TEST_F(FiscalEventsTest, EachCancellationRuleAnswersItsCode) {
    struct Case {
        const char* name;
        int minutesAfter;
        bool lateCancel;
        std::function<void(Event&)> change;
        const char* cStat;
    };
    const std::vector<Case> cases = {
        {"within the window", 30, false, {}, "135"},
        {"past the window", 31, false, {}, "501"},
        {"past the window, granted out of time", 31, true, {}, "155"},
        {"another protocol", 1, false, [](Event& e) { e.nProt.back() = e.nProt.back() == '9' ? '8' : '9'; }, "222"},
        {"a wrong check digit", 1, false, [](Event& e) { e.key.back() = e.key.back() == '0' ? '1' : '0'; }, "236"},
        {"another emitter", 1, false, [](Event& e) { e.cnpj = "11444777000161"; }, "574"},
        {"an Id not of the fields", 1, false, [](Event& e) { e.id = "ID110111" + e.key + "02"; }, "572"},
        {"dated ahead of its receipt", 1, false, [](Event& e) { e.dated = 3600; }, "578"},
        {"dated before the document", 1, false, [](Event& e) { e.dated = -7200; }, "577"},
    };
    int number = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.lateCancel = c.lateCancel;
        restart();
        now = std::time(nullptr);
        Sale sale;
        sale.number = ++number;
        const auto [key, nProt] = authorised(sale);
        now += c.minutesAfter * 60;
        Event event{.key = key, .nProt = nProt};
        if (c.change) c.change(event);
        XmlDocument answer = sendEvent(event);
        EXPECT_EQ(texts(answer.get(), {{"cStat"}, {"idLote"}, {"retEvento", "infEvento", "cStat"}}),
                  std::string("128|77|") + c.cStat);
        const bool registered = std::string(c.cStat) == "135" || std::string(c.cStat) == "155";
        const std::string kept = stateFolder + "/eventos/" + key + "-110111-01.xml";
        EXPECT_EQ(std::filesystem::exists(kept), registered);
        if (!registered) {
            EXPECT_EQ(field(consult(key).get(), {"cStat"}), "100");
            continue;
        }
        std::string problem;
        EXPECT_TRUE(validAgainst("procEventoCancNFe_v1.00.xsd", readFile(kept), &problem)) << problem;
        // After a restart the consultation reports the event with its protocol, and it is not registered again.
        restart();
        EXPECT_EQ(texts(consult(key).get(), {{"cStat"}, prot("nProt"), {"procEventoNFe", "retEvento", "infEvento", "nProt"}}),
                  (c.lateCancel ? "151|" : "101|") + nProt + "|" + field(answer.get(), {"retEvento", "infEvento", "nProt"}));
        EXPECT_EQ(eventStatus(Event{.key = key, .nProt = nProt}), "573");
    }
    // A key of this state with a sound check digit that the state does not hold.
    Sale unsent;
    unsent.number = 999;
    EXPECT_EQ(eventStatus(Event{.key = maker.make(unsent).key, .nProt = "151260000000001"}), "217");

    // Changed after signing: the signature over infEvento no longer verifies, and nothing is kept.
    Sale sale;
    sale.number = 998;
    const auto [key, nProt] = authorised(sale);
    std::string tampered = eventXml(Event{.key = key, .nProt = nProt});
    tampered.replace(tampered.find("cliente"), 7, "CLIENTE");
    XmlDocument answer = call(Service::EventReception, eventRequest(tampered), "retEnvEventoCancNFe_v1.00.xsd");
    EXPECT_EQ(field(answer.get(), {"retEvento", "infEvento", "cStat"}), "297");
    EXPECT_EQ(field(consult(key).get(), {"cStat"}), "100");
}

TEST_F(FiscalEventsTest, ACancellationBySubstitutionNeedsItsConditions) {
    // Cancelled: normal emission now; substitute: offline contingency a minute later, same sale.
    const auto pair = [&](int number, const std::function<void(Sale&)>& changeSubstitute) {
        now = std::time(nullptr);
        Sale cancelled;
        cancelled.number = number;
        cancelled.cpf = "52998224725";
        cancelled.dhEmi = authority().dateTime(now);
        Sale substitute = cancelled;
        substitute.number = number + 1;
        substitute.tpEmis = 9;
        substitute.dhEmi = authority().dateTime(now + 60);
        substitute.dhCont = substitute.dhEmi;
        substitute.xJust = "Sistema WEB inoperante apresentando lentidao";
        if (changeSubstitute) changeSubstitute(substitute);
        const auto [key, nProt] = authorised(cancelled);
        now += 120;
        const std::string reference = authorised(substitute).first;
        return Event{.key = key, .nProt = nProt, .type = fiscal::kCancellationBySubstitution, .reference = reference};
    };
    const Event sound = pair(200, {});
    EXPECT_EQ(eventStatus(sound), "135");
    EXPECT_EQ(field(consult(sound.key).get(), {"cStat"}), "101");
    // The substitute, now referenced, is not cancelled. (A second event is 573: the rule table.)
    EXPECT_EQ(field(consult(sound.reference).get(), {"cStat"}), "100");

    // Each condition on the pair is in TheFirstUnmetConditionAnswers; here the window.
    const Event late = pair(220, {});
    now += 169 * 3600;
    EXPECT_EQ(eventStatus(late), "501");
}

// The conditions compared on the two documents, one changed at a time.
TEST(SubstitutionCheckTest, TheFirstUnmetConditionAnswers) {
    const auto infNfe = [](const std::string& tpEmis, const std::string& dhEmi, const std::string& dest,
                           const std::string& vNF, const std::string& vICMS, const std::string& firstItem) {
        return "<infNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><ide><tpEmis>" + tpEmis + "</tpEmis><dhEmi>" +
               dhEmi + "</dhEmi></ide>" + dest + "<det><prod>" + firstItem + "</prod></det><total><ICMSTot><vICMS>" +
               vICMS + "</vICMS><vNF>" + vNF + "</vNF></ICMSTot></total></infNFe>";
    };
    const std::string cpf = "<dest><CPF>52998224725</CPF></dest>";
    const std::string item = "<cProd>55</cProd><vProd>10.00</vProd>";
    const std::string cancelled = infNfe("1", "2026-03-05T10:00:00-04:00", cpf, "10.00", "1.80", item);
    const std::pair<std::string, int> substitutes[] = {
        // The end of the window, written in another offset, and the values written otherwise: sound.
        {infNfe("9", "2026-03-05T13:00:00-03:00", cpf, "10", "1.8", "<cProd>55</cProd><vProd>10</vProd>"), 0},
        {infNfe("1", "2026-03-05T10:30:00-04:00", cpf, "10.00", "1.80", item), 883},
        {infNfe("9", "2026-03-05T12:00:01-04:00", cpf, "10.00", "1.80", item), 884},
        {infNfe("9", "2026-03-05T10:30:00-04:00", "<dest><CNPJ>52998224725</CNPJ></dest>", "10.00", "1.80", item), 885},
        {infNfe("9", "2026-03-05T10:30:00-04:00", cpf, "10.01", "1.80", item), 886},
        {infNfe("9", "2026-03-05T10:30:00-04:00", cpf, "10.00", "1.00", item), 887},
        {infNfe("9", "2026-03-05T10:30:00-04:00", cpf, "10.00", "1.80", "<cProd>55</cProd><vProd>9.00</vProd>"), 888},
    };
    XmlDocument first = parseXml(cancelled);
    for (const auto& [substitute, cStat] : substitutes) {
        XmlDocument second = parseXml(substitute);
        EXPECT_EQ(checkSubstitution(rootElement(first.get()), rootElement(second.get())).cStat, cStat) << substitute;
    }
    XmlDocument contingency = parseXml(infNfe("9", "2026-03-05T10:00:00-04:00", cpf, "10.00", "1.80", item));
    EXPECT_EQ(checkSubstitution(rootElement(contingency.get()), rootElement(contingency.get())).cStat, 881);
}

TEST_F(FiscalEventsTest, VoidingARangeIsKeptAcrossARestartAndItsNumbersCannotBeUsed) {
    Sale sale;
    sale.number = 300;
    authorised(sale);

    XmlDocument voided = voidNumbers({.first = 301, .last = 310});
    EXPECT_EQ(field(voided.get(), {"infInut", "cStat"}), "102");
    const std::string nProt = field(voided.get(), {"infInut", "nProt"});
    const std::string dhRecbto = field(voided.get(), {"infInut", "dhRecbto"});
    std::string problem;
    for (const auto& entry : std::filesystem::directory_iterator(stateFolder + "/inutilizacoes"))
        EXPECT_TRUE(validAgainst("procInutNFe_v4.00.xsd", readFile(entry.path().string()), &problem)) << problem;

    restart();
    now += 60;
    const struct {
        Voiding range;
        const char* cStat;
    } cases[] = {
        {{.first = 310, .last = 320}, "256"}, {{.first = 295, .last = 300}, "241"},
        {{.first = 311, .last = 311}, "102"},
        // Another year's range of the same series: the numbers are the series', whatever the year.
        {{.first = 305, .last = 305, .year = 25}, "256"},
        {{.first = 330, .last = 330, .year = std::stoi(authority().dateTime(now).substr(2, 2)) + 1}, "453"},
    };
    for (const auto& c : cases) {
        XmlDocument answer = voidNumbers(c.range);
        EXPECT_EQ(field(answer.get(), {"infInut", "cStat"}), c.cStat) << c.range.first << "-" << c.range.last;
    }
    // The same request again is told 563 and the protocol it got.
    XmlDocument again = voidNumbers({.first = 301, .last = 310});
    EXPECT_EQ(texts(again.get(), {{"infInut", "cStat"}, {"infInut", "nProt"}, {"infInut", "dhRecbto"}}),
              "563|" + nProt + "|" + dhRecbto);

    std::string tampered = voidingRequest({.first = 500, .last = 501});
    tampered.replace(tampered.find("pulada"), 6, "PULADA");
    EXPECT_EQ(field(call(Service::NumberVoiding, tampered, "retInutNFe_v4.00.xsd").get(), {"infInut", "cStat"}), "297");

    sale.number = 305;
    XmlDocument refused = send(maker.make(sale).xml);
    EXPECT_EQ(protocolStatus(refused.get()), "206");
}

// A request its schema refuses is answered 225 and not kept; without a schema package, the built-in
// reading refuses it as well.
TEST_F(FiscalEventsTest, AFaultyRequestIsRefusedWith225AndNotKept) {
    const auto [key, nProt] = authorised(Sale{});
    const std::string shortJustification =
        eventRequest(eventXml(Event{.key = key, .nProt = nProt}, [](std::string& xml) {
            xml.replace(xml.find("Venda cancelada"), 35, "curta");
        }));
    const auto eventBatchStatus = [&](const std::string& request) {
        return field(call(Service::EventReception, request, "retEnvEventoCancNFe_v1.00.xsd").get(), {"cStat"});
    };
    EXPECT_EQ(eventBatchStatus(shortJustification), "225");
    std::string noJustification = voidingRequest({.first = 900, .last = 901});
    noJustification.replace(noJustification.find("<xJust>"),
                            noJustification.find("</xJust>") + 8 - noJustification.find("<xJust>"), "");
    EXPECT_EQ(field(call(Service::NumberVoiding, noJustification, "retInutNFe_v4.00.xsd").get(), {"infInut", "cStat"}),
              "225");

    settings.schemaFolder.clear();
    restart();
    EXPECT_EQ(eventBatchStatus(shortJustification), "225");
    EXPECT_TRUE(std::filesystem::is_empty(stateFolder + "/eventos"));
    EXPECT_TRUE(std::filesystem::is_empty(stateFolder + "/inutilizacoes"));
}

}  // namespace
}  // namespace quorvanti::sefaz
