#include "document/groups/recipient_group.h"

#include <gtest/gtest.h>

#include <tuple>

#include "document/group_world.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::document {
namespace {

using fiscal::RecipientArgs;
using testing::ClientRow;

constexpr int kEnter = 13;

class RecipientTest : public testing::BackendTest {
protected:
    // The operator will type `document` in the consumer document dialog and press Enter.
    void operatorTypes(const std::string& document) {
        world->monitor.frontend.onDialog("frm_cpfC", [document](platform::Dialog& dialog) {
            dialog.typeText("Text1", document);
            dialog.keyPress("Text1", kEnter);
        });
    }
    // Runs the group for a sale with client code `saleClientCode`; answers the client code argument after.
    double run(const std::string& saleClientCode) {
        world->ctx.emission.SaleClientCode = saleClientCode;
        double clientCode = Val("0" + saleClientCode);
        GeraDestinatario(world->ctx, clientCode, *world->component);
        return clientCode;
    }
    std::vector<RecipientArgs> recipients() const { return world->sent<RecipientArgs>("recipient"); }
    std::vector<std::string> dialogs() const { return world->monitor.frontend.dialogsShown(); }
    std::string storedMunicipality(int client) const {
        return world->folder.value("select CodMun from Clientes where Numero = " + std::to_string(client), "CodMun");
    }
};

// Without client and without the CPF note nothing is asked or sent (the CPF of the previous sale is
// forgotten); an unknown client is asked for even without the note, and the record keeps its code.
TEST_P(RecipientTest, OnlyTheCpfNoteOrAnUnknownClientAsksTheOperator) {
    world->ctx.emission.ConsumerCpf = "52998224725";
    EXPECT_EQ(run(""), 0);
    EXPECT_TRUE(dialogs().empty());
    EXPECT_EQ(world->ctx.emission.ConsumerCpf, "");

    EXPECT_EQ(run("999"), 0);
    EXPECT_EQ(dialogs(), std::vector<std::string>{"frm_cpfC"});
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(world->ctx.emission.ClientCode, 999);
}

// (A typed CPF reaching the authorised document: the panel's browser journey; an empty answer sending no
// recipient: the unknown client's row.) A typed CNPJ is sent as CNPJ and keeps no CPF.
TEST_P(RecipientTest, UnderTheCpfNoteATypedCnpjIsSentAsCnpj) {
    world->ctx.mainWindow.Check2.checked = true;
    operatorTypes("11.222.333/0001-81");
    run("");
    ASSERT_EQ(recipients().size(), 1u);
    EXPECT_EQ(recipients()[0].cnpj + "|" + recipients()[0].cpf, "11222333000181|");
    EXPECT_EQ(world->ctx.emission.ConsumerCpf, "");
}

TEST_P(RecipientTest, ARegisteredClientGivesTheAddressOfATypedDocument) {
    world->addClient(ClientRow{.name = "Maria 😀 da Silva", .street = "Rua das Flores\u200B"});
    world->ctx.emission.ConsumerDocumentInput = "529.982.247-25";
    EXPECT_EQ(run("77"), 77);
    EXPECT_TRUE(dialogs().empty());
    ASSERT_EQ(recipients().size(), 1u);
    const auto a = recipients()[0];
    EXPECT_EQ(std::tie(a.xNome, a.cpf, a.xLgr, a.cMun, a.xMun, a.uf, a.fone),
              std::make_tuple("MARIA DA SILVA", "52998224725", "RUA DAS FLORES", 5108402, "VARZEA GRANDE", "MT",
                              "6533334444"));
    // (Without a typed document a registered client gets none: the repaired client's first sale.)
}

// The repair is written whether or not a recipient is sent; the emitter's postal code stands in for an
// empty one.
TEST_P(RecipientTest, AClientWithoutMunicipalityIsRepairedOnceWithTheEmittersCode) {
    world->addClient(ClientRow{.number = 77, .postalCode = "", .municipalityCode = std::nullopt});
    run("77");
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(storedMunicipality(77), "5103403");

    // Repaired: the next sale of the same client reads the stored code and writes nothing.
    world->ctx.emitter.CityCode = "5100250";
    world->ctx.emission.ConsumerDocumentInput = "52998224725";
    run("77");
    EXPECT_EQ(storedMunicipality(77), "5103403");
    const auto sent = recipients();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::tie(sent[0].cMun, sent[0].cep), std::make_tuple(5103403, "78000000"));
}

// (The title and text of a refusal: GroupFailureTest.) A refusal forgets the typed document; a client
// code that is no number ends the same way, before any dialog.
TEST_P(RecipientTest, AFailureForgetsTheTypedDocument) {
    world->ctx.mainWindow.Check2.checked = true;
    world->components.script().failures["recipient"] = "CPF do destinatário inválido";
    operatorTypes("529.982.247-25");
    run("");
    EXPECT_EQ(world->ctx.emission.ConsumerDocumentInput, "");

    run("12A");
    ASSERT_EQ(world->messages().size(), 2u);
    EXPECT_EQ(world->messages()[1].title, "ERRO DESTINATARIO");
    EXPECT_EQ(dialogs().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecipientTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::document
