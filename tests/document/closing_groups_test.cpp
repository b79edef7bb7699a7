#include "document/groups/closing_groups.h"

#include <gtest/gtest.h>

#include <tuple>

#include "document/group_world.h"
#include "document/groups/item_group.h"

namespace quorvanti::document {
namespace {

using fiscal::PaymentArgs;
using fiscal::TotalsArgs;
using fiscal::TransportArgs;

constexpr const char* kSale = "000123-01";

class ClosingGroupsTest : public testing::BackendTest {
protected:
    // Sends the sale's items and then the closing groups with the amount the routine pays.
    void emit() {
        auto& ctx = world->ctx;
        world->openItemRows(kSale);
        world->openSaleHeader(kSale);
        ctx.emission.ProductsTotal = 0;
        ASSERT_FALSE(GeraProdutos(ctx, *world->component));
        GeraTotais(ctx, *world->component);
        GeraTransporte(ctx, *world->component);
        double paid = ctx.emission.ProductsTotal - ctx.emission.SaleHeader->field("ValorDesconto").number();
        GeraPagamento(ctx, paid, *world->component);
        GeraObservacoes(ctx, *world->component);
    }
    void addItem(int code, double total, double discount) {
        world->addProduct(code, "5102", "21069090");
        world->addItem({.code = code, .quantity = 1, .total = total, .discount = discount});
    }
};

TEST_P(ClosingGroupsTest, TotalsCarryOnlyDiscountProductsAndInvoiceValueAndThePaymentIsTheInvoice) {
    addItem(1, 10, 0);
    addItem(2, 20, 2);
    addItem(3, 5, 0);
    emit();
    const auto t = world->sent<TotalsArgs>("totals").at(0);
    EXPECT_DOUBLE_EQ(t.vProd, 37);
    EXPECT_DOUBLE_EQ(t.vDesc, 2);
    EXPECT_DOUBLE_EQ(t.vNF, 35);
    for (double tax : {t.vBC, t.vICMS, t.vBCST, t.vST, t.vCOFINS, t.vPIS, t.vIPI, t.vSeg, t.vFrete, t.vOutro, t.vII,
                       t.vTotTrib})
        EXPECT_EQ(tax, 0);
    EXPECT_EQ(std::tie(t.unused12to25, t.unused27to28, t.unused32, t.unused33, t.unused34to53),
              std::make_tuple(std::array<std::int32_t, 14>{}, std::array<std::int32_t, 2>{}, 0, "",
                              std::array<std::int32_t, 20>{}));

    const auto p = world->sent<PaymentArgs>("payment").at(0);
    EXPECT_EQ(std::tie(p.indPag, p.tPag, p.vPag), std::make_tuple(0, 1, 35.0));
    EXPECT_EQ(p.values4to7, (std::array<std::int32_t, 4>{}));
    EXPECT_EQ(p.texts8to10, (std::array<std::string, 3>{}));

    const auto transport = world->sent<TransportArgs>("transport").at(0);
    EXPECT_EQ(std::tie(transport.modFrete, transport.value2), std::make_tuple(9, 0));
    EXPECT_EQ(transport.texts3to5, (std::array<std::string, 3>{}));
    EXPECT_EQ(transport.values6to9, (std::array<std::int32_t, 4>{}));
    EXPECT_EQ(transport.texts10to19, (std::array<std::string, 10>{}));

    // The additional information sends nothing and leaves the shared texts empty.
    EXPECT_EQ(world->operations().back(), "payment");
    EXPECT_EQ(world->ctx.emission.SharedTexts.text1, "");
    EXPECT_EQ(world->ctx.emission.SharedTexts.text2, "");
    EXPECT_TRUE(world->messages().empty());

    // Without discount, invoice and payment equal the products.
    world = std::make_unique<testing::GroupWorld>(GetParam());
    addItem(1, 12.34, 0);
    addItem(2, 0.66, 0);
    emit();
    const auto undiscounted = world->sent<TotalsArgs>("totals").at(0);
    EXPECT_DOUBLE_EQ(undiscounted.vProd, 13);
    EXPECT_DOUBLE_EQ(undiscounted.vNF, 13);
    EXPECT_DOUBLE_EQ(world->sent<PaymentArgs>("payment").at(0).vPag, 13);
}

INSTANTIATE_TEST_SUITE_P(Backends, ClosingGroupsTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::document
