// The item group and the closing groups of a sale, and how every group procedure reports a failure.
#include "document/groups/item_group.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "document/group_world.h"
#include "document/groups/closing_groups.h"
#include "document/groups/identification_group.h"
#include "document/groups/recipient_group.h"
#include "fiscal_component/real_component.h"
#include "support/shared_data.h"
#include "support/signed_nfce.h"

namespace quorvanti::document {
namespace {

using fiscal::ItemIcmsArgs;
using fiscal::ItemProductArgs;
using fiscal::TotalsArgs;
using testing::GroupWorld;
using testing::SaleItemRow;

class ItemGroupTest : public testing::BackendTest {
protected:
    // A product with a good NCM and CFOP 5102, and one item of it on the sale.
    void addItem(SaleItemRow row, std::optional<std::string> cfop = "5102",
                 std::optional<std::string> ncm = "21069090") {
        world->folder.addProduct(row.code, cfop, ncm);
        world->folder.addItem(row);
    }
    bool run() {
        world->folder.queueSale(world->ctx.emission.SaleCode);
        world->openItemRows(world->ctx.emission.SaleCode);
        return GeraProdutos(world->ctx, *world->component);
    }
    std::vector<ItemProductArgs> products() const { return world->sent<ItemProductArgs>("itemProduct"); }
    bool saleQueued() const { return world->folder.queued(world->ctx.emission.SaleCode); }
};

// Every emission of the routine's tests sends items; here, the pricing of the quantities they never
// hold (0 and a fraction), and the description and unit that leave nothing once fitted to the layout.
TEST_P(ItemGroupTest, ItemsArePricedBeforeTheDiscountAndAQuantityOfZeroSendsTheWholeValueAsUnitPrice) {
    addItem({.code = 1, .description = "Suco 🍊 laranja", .quantity = 3, .total = 27, .discount = 3, .unit = "kg\u00A0"});
    addItem({.code = 2, .description = "🍩 🍩", .quantity = 0, .total = 12.5, .discount = 0, .unit = "🍹"});
    addItem({.code = 3, .description = std::nullopt, .quantity = 0.5, .total = 9, .discount = 1, .unit = std::nullopt});
    world->ctx.emission.ProductsTotal = 0;
    EXPECT_FALSE(run());

    const auto p = products();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(std::tie(p[0].qCom, p[0].vUnCom, p[0].qTrib, p[0].vUnTrib, p[0].vProd, p[0].vDesc),
              std::make_tuple(3.0, 10.0, 3.0, 10.0, 30.0, 3.0));
    EXPECT_EQ(std::tie(p[1].vUnCom, p[1].vProd, p[1].uCom, p[1].xProd), std::make_tuple(12.5, 0.0, "UND", "PRODUTO 2"));
    EXPECT_EQ(std::tie(p[2].vUnCom, p[2].vProd, p[2].uTrib, p[2].xProd), std::make_tuple(20.0, 10.0, "UND", "PRODUTO 3"));
    EXPECT_EQ(std::tie(p[0].xProd, p[0].uCom), std::make_tuple("SUCO LARANJA", "kg"));
    EXPECT_DOUBLE_EQ(world->ctx.emission.ProductsTotal, 40);
    // The rows are released once every item went.
    EXPECT_FALSE(world->ctx.emission.ItemRows.has_value());
}

// Only four digits (once "." and "," are out) are taken as the product's CFOP, anything else is 5102, and
// the CSOSN follows it; the NCM loses its separators before it is cut to eight characters.
TEST_P(ItemGroupTest, CfopCsosnAndNcmFollowTheProduct) {
    const struct {
        std::optional<std::string> cfop, ncm;
        int itemCfop;
        const char *csosn, *itemNcm;
    } all[] = {
        {"5405", "21069090", 5405, "500", "21069090"},
        {"5656", "2202.10.00", 5656, "500", "22021000"},
        {"6102", "2202,10 00", 6102, "102", "22021000"},
        {"", "2106909012", 5102, "102", "21069090"},
        {"54O5", "21069090", 5102, "102", "21069090"},
        // The server's column holds 4 characters; the local file's takes a CFOP written with its dot.
        {"5.656", "21069090", 5656, "500", "21069090"},
    };
    const std::size_t count = std::size(all) - (GetParam() == database::DbKind::Sqlite ? 0 : 1);
    for (std::size_t i = 0; i < count; ++i) addItem({.code = static_cast<int>(i + 1)}, all[i].cfop, all[i].ncm);
    run();
    const auto p = products();
    const auto icms = world->sent<ItemIcmsArgs>("itemIcms");
    ASSERT_EQ(p.size(), count);
    for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(std::tie(p[i].cfop, icms[i].csosn, p[i].ncm), std::make_tuple(all[i].itemCfop, all[i].csosn, all[i].itemNcm))
            << "cfop " << all[i].cfop.value_or("NULL");
    EXPECT_EQ(world->ctx.emission.ItemCfop, std::to_string(all[count - 1].itemCfop));
    EXPECT_EQ(world->ctx.emission.ItemCsosn, all[count - 1].csosn);
    EXPECT_TRUE(world->ctx.emission.GroupFailure.empty());
}

// The routine's tests drop a sale of one item with the placeholder NCM; here the NCM of a later item (of a
// sale whose code needs quoting), and a product not in the catalogue (as one without NCM: no NCM read).
TEST_P(ItemGroupTest, AnInvalidOrMissingNcmStopsTheSaleAndRemovesItFromTheQueue) {
    const std::pair<const char*, std::vector<SaleItemRow>> sales[] = {
        {"O'NEIL-01", {{.sale = "O'NEIL-01", .code = 1}, {.sale = "O'NEIL-01", .code = 2}, {.sale = "O'NEIL-01", .code = 3}}},
        {"000124-01", {{.sale = "000124-01", .code = 5}}},
    };
    addItem(sales[0].second[0]);
    addItem(sales[0].second[1], "5102", "01012011");
    addItem(sales[0].second[2]);
    for (const auto& [sale, items] : sales) {
        if (items.size() == 1) world->folder.addItem(items[0]);
        world->ctx.emission.SaleCode = sale;
        EXPECT_TRUE(run()) << sale;
        EXPECT_FALSE(saleQueued()) << sale;
        // The rows stay with the routine, which releases them at its exit.
        EXPECT_TRUE(world->ctx.emission.ItemRows.has_value());
    }
    EXPECT_EQ(products().size(), 1u);
    EXPECT_EQ(world->monitor.messageTexts(),
              (std::vector<std::string>{"NCM invalido: 01012011", "NCM invalido: "}));
}

// A name with runs of blanks or markup never drops the sale: it goes cleaned with single blanks, as do
// the recipient's name and address, in a document the real component signs and the schema accepts.
// (The fixed description of homologation: the local SEFAZ refuses any other, 373, in the routine's tests.)
TEST_P(ItemGroupTest, NamesWithRunsOfBlanksOrMarkupReachASignedDocumentTheSchemaAccepts) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const std::pair<const char*, std::string> names[] = {
        {"  Coca     Cola 2L  ", "COCA COLA 2L"},  // five blanks: more than two halvings by LimpaTexto leave
        {"Cabo <<b>>  & 2m", "CABO B E 2M"},
        {"TV 32\" LED", "TV 32\" LED"},
    };
    int code = 1;
    for (const auto& name : names) addItem({.code = code++, .description = name.first});
    world->addClient({.name = "  Maria     <da>  Silva & Cia ", .street = "Rua     das  Flores"});
    auto& ctx = world->ctx;
    ctx.emission.SaleClientCode = "77";
    ctx.emission.ConsumerDocumentInput = "52998224725";

    testing::SignedNfceMaker maker(world->folder.path());
    fiscal::RealFiscalComponent component(maker.storeFolder());
    component.configure(maker.configuration(1));
    world->folder.queueSale(ctx.emission.SaleCode);
    world->openItemRows(ctx.emission.SaleCode);
    world->openSaleHeader(ctx.emission.SaleCode);
    GeraIndetificacao(ctx, ctx.emission.SaleCode, component);
    GeraEmitente(ctx, component);
    double client = 77;
    GeraDestinatario(ctx, client, component);
    EXPECT_FALSE(GeraProdutos(ctx, component));
    GeraTotais(ctx, component);
    GeraTransporte(ctx, component);
    double paid = ctx.emission.ProductsTotal;
    GeraPagamento(ctx, paid, component);
    EXPECT_EQ(ctx.emission.GroupFailure, "");
    EXPECT_TRUE(world->messages().empty()) << world->messages()[0].text;
    EXPECT_TRUE(saleQueued());

    std::string key;
    fiscal::GenerationArgs generation;
    fiscal::SharedTexts shared;
    ASSERT_TRUE(component.generate(key, generation, shared));
    const std::string xml = testing::readFile(generation.signedXmlPath);
    std::string error;
    EXPECT_TRUE(testing::validAgainst("nfe_v4.00.xsd", xml, &error)) << error;
    for (const auto& [typed, sent] : names)
        EXPECT_NE(xml.find("<xProd>" + sent + "</xProd>"), std::string::npos) << typed;
    EXPECT_NE(xml.find("<xNome>MARIA DA SILVA E CIA</xNome><enderDest><xLgr>RUA DAS FLORES</xLgr>"), std::string::npos);
}

TEST_P(ItemGroupTest, AValueTheDocumentCannotCarryStopsTheSaleNamingItemFieldAndValue) {
    const std::pair<SaleItemRow, const char*> cases[] = {
        // (A negative quantity: the routine's tests.)
        {{.code = 45, .discount = std::nullopt}, "item 2 (coditem 45): campo Desconto vazio (NULL)"},
        {{.code = 45, .quantity = 0, .total = 0, .discount = 3},
         "item 2 (coditem 45): campo Desconto \"3\" maior que o valor do item (0,00)"},
    };
    for (const auto& [bad, failure] : cases) {
        SCOPED_TRACE(failure);
        world = std::make_unique<GroupWorld>(GetParam());
        addItem({.code = 1});
        addItem(bad);
        addItem({.code = 3});
        EXPECT_FALSE(run());
        const std::string expected = std::string("Venda 000123-01, ") + failure;
        EXPECT_EQ(world->ctx.emission.GroupFailure, expected);
        ASSERT_EQ(world->messages().size(), 1u);
        EXPECT_EQ(std::tie(world->messages()[0].text, world->messages()[0].title, world->messages()[0].style),
                  std::make_tuple(expected, "ERRO ITEM", platform::MessageStyle::OkCritical));
        EXPECT_EQ(products().size(), 1u);
        EXPECT_TRUE(saleQueued());
    }

    // A text that is no number (only the local file's loose columns can hold one) ends the same way. (The
    // component's refusal of an item ends in the same catch as these.)
    if (GetParam() == database::DbKind::Sqlite) {
        world = std::make_unique<GroupWorld>(GetParam());
        addItem({.code = 1});
        world->folder.execute("UPDATE VendasConclu SET Quantidade = 'dois'");
        run();
        EXPECT_EQ(world->ctx.emission.GroupFailure,
                  "Venda 000123-01, item 1 (coditem 1): campo Quantidade \"dois\" não é um número");
    }
}

// The closing groups but the payment (whose amount the routine computes; the local authority's payment
// checks cover it in the routine's tests).
TEST_P(ItemGroupTest, TotalsAddTheItemsInCentsAndTheAdditionalInformationSendsNothing) {
    // The items' gross values, 12,34 + 0,66, are not 13 in binary floating point.
    addItem({.code = 1, .quantity = 1, .total = 12.34, .discount = 0});
    addItem({.code = 2, .quantity = 1, .total = 0.16, .discount = 0.5});
    ASSERT_FALSE(run());
    world->openSaleHeader(world->ctx.emission.SaleCode);
    GeraTotais(world->ctx, *world->component);
    GeraTransporte(world->ctx, *world->component);
    GeraObservacoes(world->ctx, *world->component);
    const auto t = world->sent<TotalsArgs>("totals").at(0);
    EXPECT_EQ(std::make_tuple(t.vProd, t.vDesc, t.vNF), std::make_tuple(13.0, 0.5, 12.5));
    EXPECT_EQ(world->components.state().operations().back(), "transport");
    EXPECT_EQ(world->ctx.emission.SharedTexts.text1 + world->ctx.emission.SharedTexts.text2, "");
    EXPECT_TRUE(world->messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, ItemGroupTest, testing::bothBackends(), testing::backendName);

// Every group procedure that fails leaves a text naming the sale in GroupFailure, so the routine never
// generates a document from part of a sale, and still shows its own box. A group refused by bad input
// has no row of the component's refusal: both end in the group's one catch (one row of bad input each).
TEST(GroupFailureTest, EveryGroupNamesTheSaleUnderItsOwnTitle) {
    struct Case {
        const char* operation;  // the component call made to fail ("" for none)
        const char* title;
        const char* failure;
        std::function<void(GroupWorld&)> run;
    };
    const Case cases[] = {
        // A FUSO that is no offset: no guessed date-time reaches a document.
        {"", "ERRO IDENTIFICAÇÃO",
         "identificação: Fuso horário inválido na configuração FUSO: \"-4\" (use de -11:00 a +12:00 em horas inteiras, "
         "como -04:00)",
         [](GroupWorld& w) {
             w.ctx.settings.TimeZone = "-4";
             GeraIndetificacao(w.ctx, "000123-01", *w.component);
             EXPECT_TRUE(w.sent<fiscal::IdentificationArgs>("identification").empty());
         }},
        {"", "ERRO EMITENTE", "emitente: campo codmunicipio do emitente \"\" não é um número inteiro",
         [](GroupWorld& w) {
             w.ctx.emitter.CityCode = "";
             EXPECT_FALSE(GeraEmitente(w.ctx, *w.component));
         }},
        {"recipient", "ERRO DESTINATARIO", "destinatário: recusado",
         [](GroupWorld& w) {
             w.addClient({});
             w.ctx.emission.SaleClientCode = "77";
             w.ctx.emission.ConsumerDocumentInput = "52998224725";
             double client = 77;
             GeraDestinatario(w.ctx, client, *w.component);
         }},
        {"", "ERRO TOTAL", "totais: Uso inválido de Null",
         [](GroupWorld& w) {
             w.ctx.emission.SaleHeader = database::Recordset({"BaseICMS"}, {{database::DbValue()}});
             GeraTotais(w.ctx, *w.component);
         }},
        {"transport", "ERRO OBS", "transporte: recusado", [](GroupWorld& w) { GeraTransporte(w.ctx, *w.component); }},
        {"payment", "ERRO PAGAMENTO", "pagamento: recusado",
         [](GroupWorld& w) {
             double amount = 10;
             GeraPagamento(w.ctx, amount, *w.component);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        GroupWorld w{database::DbKind::Sqlite};
        if (*c.operation != '\0') w.components.script().failures[c.operation] = "recusado";
        c.run(w);
        const std::string expected = std::string("Venda 000123-01: ") + c.failure;
        EXPECT_EQ(w.ctx.emission.GroupFailure, expected);
        ASSERT_EQ(w.messages().size(), 1u);
        EXPECT_EQ(std::tie(w.messages()[0].text, w.messages()[0].title, w.messages()[0].style),
                  std::make_tuple(expected, c.title, platform::MessageStyle::OkCritical));
    }
}

}  // namespace
}  // namespace quorvanti::document
