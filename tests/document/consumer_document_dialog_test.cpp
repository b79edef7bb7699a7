// The consumer document dialog with the component library's validator.
#include "document/groups/consumer_document_dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "fiscal_component/unavailable_component.h"
#include "platform/program_exit.h"
#include "support/program_folder.h"

namespace quorvanti::document {
namespace {

constexpr int kEnter = 13;

// The dialog under a component that is not installed: its validator fails whenever it is asked. (A
// typed document accepted: the recipient tests; refused: the panel's browser journey.)
class ConsumerDocumentDialogTest : public ::testing::Test {
protected:
    ConsumerDocumentDialogTest() {
        ctx.emission.ConsumerDocumentInput = "left over";
        dialog.load();
    }
    std::vector<std::string> messages() const { return monitor.messageTexts(); }

    testing::ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
    testing::TestMonitor monitor{folder, components};
    context::AppContext& ctx = monitor.ctx;
    ConsumerDocumentDialog dialog{ctx};
};

// Enter on an empty box asks no validator; a failing one ends the program with the run-time error.
TEST_F(ConsumerDocumentDialogTest, EnterOnAnEmptyBoxClosesWithoutDocumentAndAFailingValidatorEndsTheProgram) {
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
    dialog.keyPress("Text1", kEnter);
    EXPECT_TRUE(dialog.closed());
    EXPECT_EQ(ctx.emission.ConsumerDocumentInput, "");
    EXPECT_TRUE(messages().empty());

    // The panel types the box's text whole, and names no other box.
    dialog.load();
    dialog.typeText("Text1", "52998224725");
    EXPECT_THROW(dialog.keyPress("Text2", kEnter), std::invalid_argument);

    EXPECT_EQ(testing::exitStatusOf([&] { dialog.keyPress("Text1", kEnter); }), ExitStatus::UnhandledError);
    EXPECT_EQ(messages(), std::vector<std::string>{"Erro em tempo de execução: Componente fiscal não instalado"});
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

}  // namespace
}  // namespace quorvanti::document
