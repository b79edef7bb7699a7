#include "fiscal_component/document/document_validator.h"

#include <gtest/gtest.h>

namespace quorvanti::fiscal {
namespace {

TEST(CpfCnpjValidatorTest, AcceptsValidDocumentsBareOrWithTheirOwnMaskOnly) {
    CpfCnpjValidator validator;
    for (const char* valid : {"52998224725", "529.982.247-25", "11144477735", "39053344705", "12345678909",
                              "98765432100",     // both check digits from a remainder below 2
                              "11222333000181", "11.222.333/0001-81", "45723174000110", "34343434000106",
                              "12.345.678/0001-95", "00000000000191"})  // leading zeros are part of the number
        EXPECT_TRUE(validator.validate(valid)) << valid;
    // Wrong check digits, other lengths, one repeated digit, partial or foreign masks, blanks, letters.
    for (const char* invalid :
         {"52998224724", "52998224715", "529.982.247-52", "98765432101", "11222333000182", "11222333000191",
          "11.222.333/0001-18", "00000000000192", "", "5", "5299822472", "529982247250", "1122233300018",
          "112223330001810", "052998224725", "00000000000", "11111111111", "111.111.111-11", "99999999999",
          "00000000000000", "11111111111111", "55.555.555/5555-55", "529982247-25", "529.982.24725", "529,982,247-25",
          "529 982 247 25", " 52998224725", "52998224725 ", "52.998.224/725", "11222333/0001-81", "11.222.333.0001-81",
          "11-222-333/0001-81", "1122233300018A", "AB.CDE.FGH/0001-81", "529.982.247-2\xc2\xbd"})
        EXPECT_FALSE(validator.validate(invalid)) << invalid;
}

TEST(DocumentDigitsTest, GivesTheDigitsOfTheAcceptedForms) {
    EXPECT_EQ(documentDigits("529.982.247-25"), "52998224725");
    EXPECT_EQ(documentDigits("11.222.333/0001-81"), "11222333000181");
    EXPECT_EQ(documentDigits("11222333000181"), "11222333000181");
    EXPECT_EQ(documentDigits("529982247-25"), "");
    EXPECT_TRUE(validCpf("52998224725"));
    EXPECT_FALSE(validCpf("11222333000181"));
    EXPECT_TRUE(validCnpj("11222333000181"));
    EXPECT_FALSE(validCnpj("52998224725"));
}

}  // namespace
}  // namespace quorvanti::fiscal
