// The recording component hands the program's values over unchanged and answers from its script.
#include "fiscal_component/recording_component.h"

// The argument records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fiscal_component/unavailable_component.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::ElementsAre;

TEST(RecordingComponentTest, RecordsCallsOfEveryInstanceInOneLog) {
    RecordingComponentFactory factory;
    factory.script().numericCode = 4711;
    auto first = factory.createComponent();
    auto second = factory.createComponent();
    std::int32_t code = 0;
    second->numericCode(code);
    EXPECT_EQ(code, 4711);
    SharedTexts shared;
    first->identification(IdentificationArgs{.cNF = "4711", .nNF = 12}, shared);
    first->itemClose(shared);
    EXPECT_THAT(factory.state().operations(), ElementsAre("numericCode", "identification", "itemClose"));
    const RecordedCall identification = factory.state().callsOf("identification").at(0);
    EXPECT_EQ(identification.instance, 1);
    EXPECT_EQ(std::get<IdentificationArgs>(identification.args).nNF, 12);
    EXPECT_EQ(factory.calls().at(0).instance, 2);
}

TEST(RecordingComponentTest, AnswersFromTheScript) {
    RecordingComponentFactory factory;
    factory.script().usable = false;
    factory.script().failures["generate"] = "Falha de teste";
    factory.script().validationResult = false;
    factory.script().validationMessage = "Elemento nfe:NCM: inválido";
    factory.script().statuses["finish"] = false;
    auto component = factory.createComponent();
    bool usable = true;
    EXPECT_TRUE(component->statusQuery(usable));
    EXPECT_FALSE(usable);
    EXPECT_FALSE(component->finish());
    std::string key, message;
    GenerationArgs args{.generatedXmlPath = "a.xml"};
    SharedTexts shared;
    EXPECT_THROW(component->generate(key, args, shared), ComponentError);
    EXPECT_EQ(std::get<GenerationArgs>(factory.calls().back().args).generatedXmlPath, "a.xml");
    EXPECT_FALSE(component->validate(ValidationArgs{"b.xml"}, message));
    EXPECT_EQ(message, "Elemento nfe:NCM: inválido");
    factory.script().failures.clear();
    EXPECT_TRUE(component->generate(key, args, shared));
    EXPECT_EQ(key, factory.script().generationKey);
    EXPECT_FALSE(factory.createCertificateSelector()->select());
    factory.setChosenCertificate(CertificateProperties{.holderName = "LOJA", .serialNumber = "0A1B"});
    auto selector = factory.createCertificateSelector();
    EXPECT_TRUE(selector->select());
    EXPECT_EQ(selector->chosen().serialNumber, "0A1B");
}

TEST(UnavailableComponentTest, AnswersNotUsableAndRefusesEverythingElse) {
    UnavailableComponentFactory factory;
    auto component = factory.createComponent();
    bool usable = true;
    EXPECT_TRUE(component->statusQuery(usable));
    EXPECT_FALSE(usable);
    try {
        component->configure(ConfigurationArgs{});
        FAIL();
    } catch (const ComponentError& e) {
        EXPECT_STREQ(e.what(), "Componente fiscal não instalado");
    }
    EXPECT_THROW(factory.createDocumentValidator()->validate("52998224725"), ComponentError);
}

}  // namespace
}  // namespace quorvanti::fiscal
