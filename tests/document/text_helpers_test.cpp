#include "document/text_helpers.h"
#include "document/vb_conversions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <stdexcept>

#include "support/temp_dir.h"

namespace quorvanti::document {
namespace {

using database::DbDate;
using database::DbDateTime;
using database::DbValue;

TEST(CaseAndCharactersTest, CountAndCaseWorkOnCharactersNotBytes) {
    EXPECT_EQ(toUpperText("ação piñata ÿ ß"), "AÇÃO PIÑATA Ÿ ß");
    EXPECT_EQ(toLowerText("ÀÉÎÕÜ Ç × Þ"), "àéîõü ç × þ");
    EXPECT_EQ(characterCount("ação"), 4u);
    EXPECT_EQ(leftCharacters("ação", 2), "aç");
    EXPECT_EQ(midCharacters("ação", 2), "ão");
    EXPECT_EQ(midCharacters("ação", 1, 2), "çã");
    EXPECT_EQ(midCharacters("ação", 9), "");
    // A stray Windows-1252 byte is one character and comes back unchanged.
    EXPECT_EQ(characterCount("a\xE7" "b"), 3u);
    EXPECT_EQ(toUpperText("a\xE7" "b"), "A\xE7" "B");
}

TEST(LimpaTextoTest, FoldsAccentsAndDropsRefusedCharacters) {
    EXPECT_EQ(LimpaTexto("  Açaí & Cia 50% "), "ACAI E CIA 50");
    EXPECT_EQ(LimpaTexto("Rua São João, 123 - Apto 4º"), "RUA SAO JOAO, 123 - APTO 4.");
    EXPECT_EQ(LimpaTexto(""), "");
    EXPECT_EQ(LimpaTexto("Av. 7/9, Qd-12 Lt.3"), "AV. 7/9, QD-12 LT.3");
    EXPECT_EQ(LimpaTexto("<a>'b'"), "A B");
    EXPECT_EQ(LimpaTexto("Água 25°C 1ª d´agua*$"), "AGUA 25.C 1. DAGUA");
    EXPECT_EQ(LimpaTexto("linha\r\nnova\nfim"), "LINHA NOVA\nFIM");
    EXPECT_EQ(LimpaTexto("piñata"), "PIÑATA");
}

TEST(LimpaTextoTest, HalvesBlankRunsOnceInOnePass) {
    EXPECT_EQ(LimpaTexto("a   b"), "A  B");
    EXPECT_EQ(LimpaTexto("a    b"), "A  B");
    EXPECT_EQ(LimpaTexto("a     b"), "A   B");
    EXPECT_EQ(LimpaTexto(LimpaTexto("a     b")), "A  B");
    // Characters removed after the halving leave their blanks behind.
    EXPECT_EQ(LimpaTexto("a % b"), "A  B");
}

TEST(RetiraCaracteresTest, CharacterAndSubstringModes) {
    EXPECT_EQ(RetiraCaracteres("(65) 3333-4444", "()- ", true), "6533334444");
    EXPECT_EQ(RetiraCaracteres("(65) 3333-4444", "()- ", false), "(65) 3333-4444");
    EXPECT_EQ(RetiraCaracteres("São-João", "ã-", true), "SoJoo");
    EXPECT_EQ(RetiraCaracteres("x-aabb-y", "ab", false), "x--y");
    EXPECT_EQ(RetiraCaracteres("abc", "", false), "abc");
}

TEST(SubstituiCTest, SubstringModeFirstHitIgnoresCaseLaterOnesDoNot) {
    const std::string item = "<det><CSOSN>102</CSOSN></det>";
    EXPECT_EQ(SubstituiC(item + item, "<CSOSN>102</CSOSN>", "<CSOSN>101</CSOSN>", false),
              "<det><CSOSN>101</CSOSN></det><det><CSOSN>101</CSOSN></det>");
    EXPECT_EQ(SubstituiC("<csosn>1</csosn><CSOSN>1</CSOSN><csosn>1</csosn>", "<CSOSN>1</CSOSN>", "#", false),
              "##<csosn>1</csosn>");
    EXPECT_EQ(SubstituiC("ÁGUA água ÁGUA", "água", "x", false), "x x ÁGUA");
    EXPECT_EQ(SubstituiC(R"(<?xml version="2.0"?>)", R"(<?xml version="2.0")", R"(<?xml version="1.0")", false),
              R"(<?xml version="1.0"?>)");
    // The search goes on after the inserted text, so a replacement holding the searched text ends.
    EXPECT_EQ(SubstituiC("aXa", "a", "aa", false), "aaXaa");
    EXPECT_EQ(SubstituiC("abc", "", "x", false), "abc");
}

TEST(SubstituiCTest, CharacterModeChainsReplacements) {
    EXPECT_EQ(SubstituiC("abc", "ab", "bc", true), "ccc");
    EXPECT_EQ(SubstituiC("abc", "ab", "x", true), "xbc");
    EXPECT_EQ(SubstituiC("maçã", "çã", "ca", true), "maca");
}

TEST(EstaVazioTest, TextIsBlankOnlyWhenEmptyOrSpaces) {
    EXPECT_TRUE(EstaVazio(""));
    EXPECT_TRUE(EstaVazio("   "));
    EXPECT_FALSE(EstaVazio("0"));
    EXPECT_FALSE(EstaVazio(" x "));
}

TEST(EstaVazioTest, DatabaseValues) {
    EXPECT_TRUE(EstaVazio(DbValue()));
    EXPECT_TRUE(EstaVazio(DbValue(std::int64_t{0})));
    EXPECT_TRUE(EstaVazio(DbValue(0.0)));
    EXPECT_FALSE(EstaVazio(DbValue(std::int64_t{7})));
    EXPECT_FALSE(EstaVazio(DbValue(0.01)));
    EXPECT_FALSE(EstaVazio(DbValue(std::string("0"))));
    EXPECT_TRUE(EstaVazio(DbValue(std::string("   "))));
    EXPECT_TRUE(EstaVazio(DbValue(DbDate{})));
    EXPECT_TRUE(EstaVazio(DbValue(DbDate{100, 1, 2})));
    EXPECT_FALSE(EstaVazio(DbValue(DbDate{100, 1, 3})));
    EXPECT_FALSE(EstaVazio(DbValue(DbDate{2024, 5, 1})));
    EXPECT_TRUE(EstaVazio(DbValue(DbDateTime{{100, 1, 2}, 0, 0, 0})));
    EXPECT_FALSE(EstaVazio(DbValue(DbDateTime{{100, 1, 2}, 8, 0, 0})));
    EXPECT_FALSE(EstaVazio(DbValue(DbDateTime{{2024, 5, 1}, 0, 0, 0})));
}

TEST(CompletaEsquerdaTest, FillsAndCutsByCharacters) {
    EXPECT_EQ(CompletaEsquerda("123", 6, U'0'), "000123");
    EXPECT_EQ(CompletaEsquerda("  123", 6, U'0'), "000123");
    EXPECT_EQ(CompletaEsquerda("1234567", 4, U'0'), "4567");
    EXPECT_EQ(CompletaEsquerda("José", 6, U'*'), "**José");
    EXPECT_EQ(CompletaEsquerda("ação", 3, U'0'), "ção");
    EXPECT_EQ(CompletaEsquerda("1", 3, U'ç'), "çç1");
    EXPECT_EQ(CompletaEsquerda("123", 0, U'0'), "");
}

TEST(FormataValorTest, ReadsBrazilianAmountsAndPrintsHundredths) {
    const auto format = [](std::string_view amount) {
        const FormatResult result = FormataValor(amount);
        return result.ok ? result.text : "<error>";
    };
    EXPECT_EQ(format("1234.50"), "1.234,50");
    EXPECT_EQ(format("-1234.50"), "-1.234,50");
    EXPECT_EQ(format("123456789"), "1.234.567,89");
    EXPECT_EQ(format("5"), "0,05");
    EXPECT_EQ(format(" 0 "), "0,00");
    EXPECT_EQ(format("1,5E+03"), "15,00");
    // Half away from zero, and two roundings: 12,5 -> 0,125 -> 0,13 but 0,125 -> 0,13 -> 0,0013.
    EXPECT_EQ(format("12,5"), "0,13");
    EXPECT_EQ(format("-12,5"), "-0,13");
    EXPECT_EQ(format("0,125"), "0,00");
    EXPECT_EQ(format("-0,1"), "0,00");
    EXPECT_EQ(format("99999,995"), "1.000,00");
    EXPECT_EQ(format("abc"), "<error>");
    EXPECT_EQ(format(""), "<error>");
    EXPECT_EQ(format("1,2,3"), "<error>");
    EXPECT_EQ(format("12,5 reais"), "<error>");
    EXPECT_EQ(format("1E400"), "<error>");
}

TEST(MascaraTest, PostalCodeFillsFromTheRightAndCleansTheArgument) {
    std::string cep = "78000-000";
    EXPECT_EQ(MascaraCep(cep), "78.000-000");
    EXPECT_EQ(cep, "78000000");
    std::string shortCep = "1.234";
    EXPECT_EQ(MascaraCep(shortCep), "  .  1-234");
    std::string longCep = "12/345,678\\90";
    EXPECT_EQ(MascaraCep(longCep), "1234.567-890");
}

TEST(MascaraTest, PhoneMaskFollowsDigitCount) {
    EXPECT_EQ(MascaraTelefone(""), "");
    EXPECT_EQ(MascaraTelefone("3334444"), "333-4444");
    EXPECT_EQ(MascaraTelefone("12345"), "123-45  ");
    EXPECT_EQ(MascaraTelefone("33334444"), "3333-4444");
    EXPECT_EQ(MascaraTelefone("653334444"), "(65) 333-4444");
    EXPECT_EQ(MascaraTelefone("(65) 3333-4444"), "(65) 3333-4444");
    EXPECT_EQ(MascaraTelefone("65999994444"), "(65) 99999-4444");
    EXPECT_EQ(MascaraTelefone("659999944445"), "(65) 99999-44445");
}

TEST(MascaraTest, CnpjAndCpf) {
    EXPECT_EQ(MascaraCnpjCpf("123.456.789-01"), "123.456.789/01");
    EXPECT_EQ(MascaraCnpjCpf("12345678000195"), "12.345.678/0001-95");
    EXPECT_EQ(MascaraCnpjCpf("1234567800019"), "");
    EXPECT_EQ(MascaraCnpjCpf(""), "");
}

TEST(ArquivoExisteTest, MatchesFilesWithWildcardsInTheLastComponentOnly) {
    testing::TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    testing::writeFile(dir.file("sub/NFe1-assinado.xml"), "<NFe/>");
    testing::writeFile(dir.file("a[1].xml"), "x");

    EXPECT_TRUE(ArquivoExiste(dir.file("sub/NFe1-assinado.xml")));
    EXPECT_TRUE(ArquivoExiste(dir.file("sub/*.xml")));
    EXPECT_TRUE(ArquivoExiste(dir.file("sub/NFe?-assinado.xml")));
    EXPECT_TRUE(ArquivoExiste(dir.file("a[1].xml")));
    EXPECT_FALSE(ArquivoExiste(dir.file("a[0-9].xml")));
    EXPECT_FALSE(ArquivoExiste(dir.file("sub/*.txt")));
    EXPECT_FALSE(ArquivoExiste(dir.file("s?b/NFe1-assinado.xml")));
    EXPECT_FALSE(ArquivoExiste(dir.file("sub")));
    EXPECT_FALSE(ArquivoExiste(dir.file("missing.xml")));
    EXPECT_FALSE(ArquivoExiste(""));
    EXPECT_FALSE(ArquivoExiste(R"(<?xml version="1.0"?><NFe xmlns="http://www.portalfiscal.inf.br/nfe"/>)"));
}

// Numbers read from settings and queue rows ("NTerminal", numeroNFCE) may exceed a 64-bit integer.
TEST(VbConversionsTest, IntegerTextOfAnyMagnitude) {
    EXPECT_EQ(integerText(2.5), "2");
    EXPECT_EQ(integerText(-0.4), "0");
    EXPECT_EQ(integerText(Val("0099999999999999999999")), "100000000000000000000");
    EXPECT_EQ(zeroPadded(-3, 2), "-03");
    EXPECT_EQ(zeroPadded(-1e19, 2), "-10000000000000000000");
    EXPECT_THROW(integerText(std::numeric_limits<double>::infinity()), std::overflow_error);
}

}  // namespace
}  // namespace quorvanti::document
