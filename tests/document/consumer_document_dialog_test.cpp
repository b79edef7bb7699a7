// The consumer document dialog with the component library's validator, and the CSC identifier.
#include "document/groups/consumer_document_dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "document/component_setup.h"
#include "fiscal_component/document/document_validator.h"
#include "fiscal_component/recording_component.h"
#include "platform/program_exit.h"
#include "support/program_folder.h"

namespace quorvanti::document {
namespace {

constexpr int kEnter = 13;
constexpr int kBackspace = 8;

// The component library's validator, counted; it fails on request.
struct CountingFactory final : fiscal::ComponentFactory {
    struct Validator final : fiscal::DocumentValidator {
        explicit Validator(CountingFactory& f) : factory(f) {}
        bool validate(const std::string& document) override {
            if (factory.failing) throw std::runtime_error("Classe não registrada");
            return fiscal::CpfCnpjValidator().validate(document);
        }
        CountingFactory& factory;
    };
    std::unique_ptr<fiscal::FiscalComponent> createComponent() override { return recording.createComponent(); }
    std::unique_ptr<fiscal::CertificateSelector> createCertificateSelector() override {
        return recording.createCertificateSelector();
    }
    std::unique_ptr<fiscal::DocumentValidator> createDocumentValidator() override {
        ++created;
        return std::make_unique<Validator>(*this);
    }
    fiscal::RecordingComponentFactory recording;
    int created = 0;
    bool failing = false;
};

class ConsumerDocumentDialogTest : public ::testing::Test {
protected:
    ConsumerDocumentDialogTest() {
        ctx.emission.ConsumerDocumentInput = "left over";
        dialog.load();
    }
    void enter(const std::string& text) {
        dialog.typeText("Text1", text);
        dialog.keyPress("Text1", kEnter);
    }
    std::vector<std::string> messages() const { return monitor.messageTexts(); }

    testing::ProgramFolder folder{database::DbKind::Sqlite};
    CountingFactory components;
    testing::TestMonitor monitor{folder, components};
    context::AppContext& ctx = monitor.ctx;
    ConsumerDocumentDialog dialog{ctx};
};

TEST_F(ConsumerDocumentDialogTest, LoadsEmptyEnterOnAnEmptyBoxClosesWithoutDocumentAndKeysAreTyped) {
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
    dialog.keyPress("Text1", kEnter);
    EXPECT_TRUE(dialog.closed());
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
    EXPECT_EQ(components.created, 0);
    EXPECT_TRUE(messages().empty());

    // Keys are typed into the box.
    dialog.load();
    for (char c : std::string("5299x")) dialog.keyPress("Text1", c);
    dialog.keyPress("Text1", kBackspace);
    for (char c : std::string("8224725")) dialog.keyPress("Text1", c);
    EXPECT_EQ(dialog.model().Text1.text, "52998224725");
    dialog.keyPress("Text1", kEnter);
    EXPECT_TRUE(dialog.closed());
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "52998224725");
    EXPECT_THROW(dialog.keyPress("Text2", kEnter), std::invalid_argument);
    EXPECT_THROW(dialog.click("Command1"), std::invalid_argument);
}

// A refused document (the box emptied, the dialog open until a valid one): the panel's browser journey.
TEST_F(ConsumerDocumentDialogTest, AFailingValidatorEndsTheProgramWithTheRunTimeError) {
    components.failing = true;
    EXPECT_EQ(testing::exitStatusOf([&] { enter("52998224725"); }), ExitStatus::UnhandledError);
    EXPECT_EQ(messages(), std::vector<std::string>{"Erro em tempo de execução: Classe não registrada"});
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
}

TEST_F(ConsumerDocumentDialogTest, UnattendedTheSaleGoesWithoutDocument) {
    dialog.typeText("Text1", "529");
    std::vector<std::string> said;
    dialog.answerUnattended([&](const std::string& line) { said.push_back(line); });
    EXPECT_TRUE(dialog.closed());
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
    EXPECT_EQ(said.size(), 1u);
    EXPECT_TRUE(messages().empty());
}

// (What the component's set-up carries reaches the authority in the routine's tests, and start-up's
// tests check how a failed set-up is shown.) The CSC identifier is padded to six characters, cut when
// longer.
TEST(CscIdTest, IsPaddedToSixCharacters) {
    for (const auto& [id, padded] : {std::pair{"  12", "000012"}, {"0000001", "000001"}})
        EXPECT_EQ(paddedCscId(id), padded) << id;
}

}  // namespace
}  // namespace quorvanti::document
