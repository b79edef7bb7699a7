#include "document/groups/recipient_group.h"

#include <gtest/gtest.h>

#include <tuple>

#include "database/failing_connection.h"
#include "document/group_world.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::document {
namespace {

using database::DbKind;
using database::FailingConnection;
using fiscal::RecipientArgs;
using testing::ClientRow;

constexpr int kEnter = 13;

class RecipientTest : public testing::BackendTest {
protected:
    // Puts a recording connection between the procedure and the database.
    FailingConnection& watchStatements() {
        auto watched = std::make_unique<FailingConnection>(world->folder.connect());
        FailingConnection& ref = *watched;
        world->ctx.db = std::move(watched);
        return ref;
    }
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

TEST_P(RecipientTest, WithoutClientAndWithoutCpfNoteNothingIsAskedReadOrSentButAnUnknownClientIsAskedFor) {
    auto& statements = watchStatements();
    world->ctx.emission.ConsumerCpf = "52998224725";  // of the previous sale
    EXPECT_EQ(run(""), 0);
    EXPECT_TRUE(dialogs().empty());
    EXPECT_TRUE(recipients().empty());
    EXPECT_TRUE(statements.statements().empty());
    EXPECT_TRUE(world->messages().empty());
    EXPECT_EQ(world->ctx.emission.ConsumerCpf, "");
    EXPECT_EQ(world->ctx.emission.ClientCode, 0);
    EXPECT_TRUE(world->monitor.frontend.windowVisible("frmEmitirNFCe"));

    // An unknown client is asked for even without the note; the record keeps the sale's client code.
    EXPECT_EQ(run("999"), 0);
    EXPECT_EQ(dialogs(), std::vector<std::string>{"frm_cpfC"});
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(world->ctx.emission.ClientCode, 999);
}

// The CPF note asks the operator: an empty answer sends no recipient; a typed CPF is sent alone, without
// address, and kept for the record of the NFC-e; a typed CNPJ is sent as CNPJ and keeps no CPF.
TEST_P(RecipientTest, CpfNoteAsksTheOperatorAndSendsWhatWasTyped) {
    world->ctx.mainWindow.Check2.checked = true;
    run("");
    EXPECT_EQ(dialogs(), std::vector<std::string>{"frm_cpfC"});
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(world->ctx.emission.ConsumerCpf, "");

    // (The typed CPF in the authorised document: the panel's browser journey.)
    operatorTypes("529.982.247-25");
    run("");
    ASSERT_EQ(recipients().size(), 1u);
    EXPECT_EQ(recipients()[0].xNome + recipients()[0].xLgr + recipients()[0].cnpj, "");
    EXPECT_EQ(world->ctx.emission.ConsumerCpf, "52998224725");
    EXPECT_EQ(world->ctx.emission.ConsumerDocumentInput, "");  // not kept for the next sale

    operatorTypes("11.222.333/0001-81");
    run("");
    ASSERT_EQ(recipients().size(), 2u);
    EXPECT_EQ(recipients()[1].cnpj + "|" + recipients()[1].cpf, "11222333000181|");
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
    EXPECT_EQ(world->ctx.emission.ClientCode, 77);

    // Without a typed document a registered client gets no recipient: Clientes holds no CPF.
    world->components.state().calls.clear();
    run("77");
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(world->ctx.emission.ClientCode, 77);

    // Clientes.CodMun holds 7 characters on the MariaDB schema; the local file takes longer codes.
    if (GetParam() != DbKind::Sqlite) return;
    world->addClient(ClientRow{.number = 79, .municipalityCode = "510340399"});
    world->ctx.emission.ConsumerDocumentInput = "11222333000181";
    run("79");
    EXPECT_EQ(std::tie(recipients().at(0).cMun, recipients().at(0).cnpj), std::make_tuple(5103403, "11222333000181"));
}

TEST_P(RecipientTest, AClientWithoutMunicipalityIsRepairedOnceWithTheEmittersCode) {
    world->addClient(ClientRow{.number = 77, .postalCode = "", .municipalityCode = std::nullopt});
    world->addClient(ClientRow{.number = 78, .municipalityCode = "   "});
    auto& statements = watchStatements();

    run("77");
    EXPECT_TRUE(recipients().empty());
    EXPECT_EQ(storedMunicipality(77), "5103403");

    // Repaired: the next sale of the same client reads the stored code and writes nothing.
    world->ctx.emitter.CityCode = "5100250";
    run("77");
    EXPECT_EQ(storedMunicipality(77), "5103403");
    EXPECT_EQ(statements.countContaining("Update clientes"), 1u);

    // A blank code is as missing as a null one; the emitter's postal code stands in for an empty one.
    world->ctx.emission.ConsumerDocumentInput = "52998224725";
    run("78");
    EXPECT_EQ(storedMunicipality(78), "5100250");
    world->ctx.emission.ConsumerDocumentInput = "52998224725";
    run("77");
    const auto sent = recipients();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::tie(sent[0].cMun, sent[1].cMun, sent[1].cep), std::make_tuple(5100250, 5103403, "78000000"));
    EXPECT_TRUE(world->messages().empty());
}

TEST_P(RecipientTest, FailuresShowTheRecipientTitleAndForgetTheTypedDocument) {
    world->ctx.mainWindow.Check2.checked = true;
    world->components.script().failures["recipient"] = "CPF do destinatário inválido";
    operatorTypes("529.982.247-25");
    run("");
    ASSERT_EQ(world->messages().size(), 1u);
    EXPECT_EQ(std::tie(world->messages()[0].text, world->messages()[0].title, world->ctx.emission.ConsumerDocumentInput),
              std::make_tuple("Venda 000123-01: destinatário: CPF do destinatário inválido", "ERRO DESTINATARIO", ""));

    // A database failure and a client code that is no number end the same way, before any dialog.
    auto& statements = watchStatements();
    statements.failOnText("FROM Clientes");
    run("77");
    run("12A");
    ASSERT_EQ(world->messages().size(), 3u);
    EXPECT_EQ(world->messages()[1].text, std::string("Venda 000123-01: destinatário: ") + FailingConnection::kDefaultMessage);
    EXPECT_EQ(world->messages()[2].title, "ERRO DESTINATARIO");
    EXPECT_EQ(dialogs().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecipientTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::document
