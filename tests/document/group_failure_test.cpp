#include <gtest/gtest.h>

#include <functional>

#include "document/group_world.h"
#include "document/groups/closing_groups.h"
#include "document/groups/identification_group.h"
#include "document/groups/recipient_group.h"

namespace quorvanti::document {
namespace {

using database::DbKind;
using testing::GroupWorld;

// Every group procedure that fails leaves a text naming the sale in GroupFailure, so the routine never
// generates a document from part of a sale, and still shows its own box.
TEST(GroupFailureTest, EveryGroupNamesTheSaleUnderItsOwnTitle) {
    struct Case {
        const char* operation;  // the component call made to fail ("" for none)
        const char* title;
        const char* failure;
        std::function<void(GroupWorld&)> run;
    };
    const Case cases[] = {
        {"identification", "ERRO IDENTIFICAÇÃO", "identificação: recusado",
         [](GroupWorld& w) { GeraIndetificacao(w.ctx, "000123-01", *w.component); }},
        {"emitter", "ERRO EMITENTE", "emitente: recusado", [](GroupWorld& w) { GeraEmitente(w.ctx, *w.component); }},
        {"recipient", "ERRO DESTINATARIO", "destinatário: recusado",
         [](GroupWorld& w) {
             w.addClient({});
             w.ctx.emission.SaleClientCode = "77";
             w.ctx.emission.ConsumerDocumentInput = "52998224725";
             double client = 77;
             GeraDestinatario(w.ctx, client, *w.component);
         }},
        {"totals", "ERRO TOTAL", "totais: recusado",
         [](GroupWorld& w) {
             w.addItem({});
             w.openSaleHeader("000123-01");
             GeraTotais(w.ctx, *w.component);
         }},
        {"", "ERRO TOTAL", "totais: Uso inválido de Null",
         [](GroupWorld& w) {
             w.ctx.emission.SaleHeader = database::Recordset({"ValorDesconto"}, {{database::DbValue()}});
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
        GroupWorld w{DbKind::Sqlite};
        if (*c.operation != '\0') w.components.script().failures[c.operation] = "recusado";
        c.run(w);
        const std::string expected = std::string("Venda 000123-01: ") + c.failure;
        EXPECT_EQ(w.ctx.emission.GroupFailure, expected);
        ASSERT_EQ(w.messages().size(), 1u);
        EXPECT_EQ(w.messages()[0].text, expected);
        EXPECT_EQ(w.messages()[0].title, c.title);
        EXPECT_EQ(w.messages()[0].style, platform::MessageStyle::OkCritical);
    }
}

}  // namespace
}  // namespace quorvanti::document
