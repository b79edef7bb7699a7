// The stand-in the program uses when no fiscal component is installed. (The recording component, the
// tests' own stand-in, is checked by every suite that reads what it recorded.)
#include <gtest/gtest.h>

#include "fiscal_component/unavailable_component.h"
#include "support/error_text.h"

namespace quorvanti::fiscal {
namespace {

TEST(UnavailableComponentTest, AnswersNotUsableAndRefusesEverythingElse) {
    UnavailableComponentFactory factory;
    auto component = factory.createComponent();
    bool usable = true;
    EXPECT_TRUE(component->statusQuery(usable));
    EXPECT_FALSE(usable);
    EXPECT_EQ(testing::errorText<ComponentError>([&] { component->configure(ConfigurationArgs{}); }),
              "Componente fiscal não instalado");
    EXPECT_THROW(factory.createDocumentValidator()->validate("52998224725"), ComponentError);
}

}  // namespace
}  // namespace quorvanti::fiscal
