// The reason texts: references filled, accents removed, and what the layout's reason type admits.
#include "sefaz_simulator/messages/status_texts.h"

#include <gtest/gtest.h>

namespace quorvanti::sefaz {
namespace {

TEST(StatusTextsTest, StandardTextsNameTheirReferencesAndFitTheLayout) {
    EXPECT_EQ(fillReferences(standardText(539), "5126", "510000000000001"),
              "Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso [chNFe: 5126][nRec:510000000000001]");
    EXPECT_EQ(fillReferences(standardText(204), "", "510000000000001"),
              "Rejeição: Duplicidade de NF-e [nRec:510000000000001]");
    EXPECT_EQ(standardText(100), "Autorizado o uso da NF-e");
    EXPECT_EQ(standardText(123), "");
    // Plain texts lose their accents.
    EXPECT_EQ(withoutAccents("Rejeição: NF-e não consta; Serviço em Operação; ÁÉÍÓÚ âêô à ü"),
              "Rejeicao: NF-e nao consta; Servico em Operacao; AEIOU aeo a u");
    // Reasons fit the layout's reason type.
    EXPECT_EQ(reasonText("  linha 1\n\tlinha 2  "), "linha 1 linha 2");
    EXPECT_EQ(reasonText("aspas “curvas” e € fora"), "aspas ?curvas? e ? fora");
    EXPECT_EQ(reasonText("não"), "não");
    EXPECT_EQ(reasonText(""), "-");
    EXPECT_EQ(reasonText(std::string("a\xff") + "b"), "a?b");
    const std::string accented(300, 'a');
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += "ã";
    EXPECT_EQ(reasonText(longText).size(), 255u * 2);
    EXPECT_EQ(reasonText(accented).size(), 255u);
}

}  // namespace
}  // namespace quorvanti::sefaz
