#include "document/text/text_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "document/text/vb_conversions.h"

namespace quorvanti::document {
namespace {

using database::DbDate;
using database::DbDateTime;
using database::DbValue;

using Cases = std::vector<std::pair<std::string, std::string>>;

// Each helper over its own table of texts: what goes in, what must come out.
TEST(TextHelpersTest, EachTextHelperGivesWhatTheLayoutsExpect) {
    const std::vector<std::pair<std::function<std::string(const std::string&)>, Cases>> helpers = {
        // Count and case work on characters, not bytes; a stray Windows-1252 byte is one character and
        // comes back unchanged.
        {[](const std::string& t) { return toUpperText(t); }, {{"ação piñata ÿ ß", "AÇÃO PIÑATA Ÿ ß"}, {"a\xE7" "b", "A\xE7" "B"}}},
        {[](const std::string& t) { return std::to_string(characterCount(t)); }, {{"ação", "4"}, {"a\xE7" "b", "3"}}},
        {[](const std::string& t) { return leftCharacters(t, 2); }, {{"ação", "aç"}}},
        // Accents folded, refused characters dropped, blank runs halved once in one pass (characters
        // removed after the halving leave their blanks behind).
        {[](const std::string& t) { return LimpaTexto(t); },
         {{"Av. São João, 7/9 - Qd-12 4º", "AV. SAO JOAO, 7/9 - QD-12 4."}, {"<a>'b'", "A B"},
          {"Água 25°C 1ª d´agua*$ piñata", "AGUA 25.C 1. DAGUA PIÑATA"}, {"linha\r\nnova\nfim", "LINHA NOVA\nFIM"},
          {"a     b", "A   B"}, {"a % b", "A  B"}}},
        // The layout's characters kept, the rest replaced by plain Latin equivalents or dropped.
        {[](const std::string& t) { return fitToLayout(t); },
         {{"PIÑA ÇÃO ½ ÿ", "PIÑA ÇÃO ½ ÿ"}, {"ŒUVRE œuf Łódź Šš Ÿ", "OEUVRE oeuf Lódz Ss Y"},
          {"“Aço” – 10€ …", "\"Aço\" - 10EUR ..."}, {"ＡＢＣ１", "ABC1"}, {"A\u200BB\uFEFF 😀 Ω 中", "AB"},
          {"  a\t\tb\r\nc\u00A0d\u2003e  ", "a b c d e"}, {"caf\xE9 \x80", "café EUR"}, {"a\u00ADb\x7F", "ab"}}},
        {[](const std::string& t) { return RetiraCaracteres(t, "ã-", true) + "|" + RetiraCaracteres(t, "ab", false) +
                                           "|" + RetiraCaracteres(t, "", false); },
         {{"São-João", "SoJoo|São-João|São-João"}, {"x-aabb-y", "xaabby|x--y|x-aabb-y"}}},
        // Filled and cut on the left, by characters (the CSC identifier is padded so to six).
        {[](const std::string& t) { return CompletaEsquerda(t, 6, U'0') + "|" + CompletaEsquerda(t, 3, U'ç') + "|" +
                                           CompletaEsquerda(t, 0, U'0'); },
         {{"  123", "000123|123|"}, {"1234567", "234567|567|"}, {"1", "000001|çç1|"}, {"ação", "00ação|ção|"}}},
        // Brazilian amounts in hundredths, rounded half away from zero, twice: 12,5 -> 0,125 -> 0,13.
        {[](const std::string& t) {
             const FormatResult result = FormataValor(t);
             return result.ok ? result.text : "<erro>";
         },
         {{"-123456789", "-1.234.567,89"}, {"1234.50", "1.234,50"}, {"1,5E+03", "15,00"}, {"12,5", "0,13"},
          {"-12,5", "-0,13"}, {"0,125", "0,00"}, {"-0,1", "0,00"}, {"99999,995", "1.000,00"}, {"", "<erro>"},
          {"12,5 reais", "<erro>"}, {"1E400", "<erro>"}}},
        // The postal code fills from the right, and its argument is cleaned.
        {[](const std::string& t) {
             std::string cep = t;
             const std::string masked = MascaraCep(cep);
             return masked + "|" + cep;
         },
         {{"78000-000", "78.000-000|78000000"}, {"1.234", "  .  1-234|1234"}, {"12/345,678\\90", "1234.567-890|1234567890"}}},
        // The phone mask follows the digit count.
        {[](const std::string& t) { return MascaraTelefone(t); },
         {{"", ""}, {"3334444", "333-4444"}, {"12345", "123-45  "}, {"33334444", "3333-4444"},
          {"653334444", "(65) 333-4444"}, {"65999994444", "(65) 99999-4444"},
          {"659999944445", "(65) 99999-44445"}}},
        // (A CNPJ of 14 digits: the receipts' tests.)
        {[](const std::string& t) { return MascaraCnpjCpf(t); },
         {{"123.456.789-01", "123.456.789/01"}, {"1234567800019", ""}, {"", ""}}},
    };
    for (const auto& [helper, cases] : helpers)
        for (const auto& [in, out] : cases) EXPECT_EQ(helper(in), out) << in;
}

// The first hit of the substring mode ignores case, later ones do not; the search goes on after the
// inserted text, so a replacement holding the searched text ends.
TEST(TextHelpersTest, SubstituiCReplacesSubstrings) {
    const std::array<std::string, 4> cases[] = {
        {"<csosn>1</csosn><CSOSN>1</CSOSN><csosn>1</csosn>", "<CSOSN>1</CSOSN>", "#", "##<csosn>1</csosn>"},
        {"ÁGUA água ÁGUA", "água", "x", "x x ÁGUA"}, {"aXa", "a", "aa", "aaXaa"}, {"abc", "", "x", "abc"},
    };
    for (const auto& [text, find, replacement, result] : cases) EXPECT_EQ(SubstituiC(text, find, replacement, false), result);
}

// Settings amounts in the shop's form; anything else is refused instead of guessed. (The limit's
// "5.000,00": the emission routine test.)
TEST(TextHelpersTest, SettingNumberReadsBrazilianAmountsAndRefusesAnythingElse) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {" 5000,5 ", 5000.5},      {"1.250.000", 1250000},     {"5.000", 5000},            {"5000.00", 5000},
        {"0.500", 0.5},            {"-10,25", -10.25},         {"", std::nullopt},         {"5,000.00", std::nullopt},
        {"1.000.5", std::nullopt}, {"1e3", std::nullopt},      {",5", std::nullopt},       {"-", std::nullopt},
    };
    for (const auto& [text, number] : cases) EXPECT_EQ(settingNumber(text), number) << text;
}

TEST(TextHelpersTest, EstaVazioOfDatabaseValues) {
    for (const DbValue& blank : {DbValue(), DbValue(std::int64_t{0}), DbValue(0.0), DbValue(std::string("   ")),
                                 DbValue(DbDate{}), DbValue(DbDate{100, 1, 2}), DbValue(DbDateTime{{100, 1, 2}, 0, 0, 0})})
        EXPECT_TRUE(EstaVazio(blank)) << blank.text();
    for (const DbValue& value : {DbValue(std::int64_t{7}), DbValue(0.01), DbValue(std::string("0")),
                                 DbValue(DbDate{100, 1, 3}), DbValue(DbDate{2024, 5, 1}),
                                 DbValue(DbDateTime{{100, 1, 2}, 8, 0, 0}), DbValue(DbDateTime{{2024, 5, 1}, 0, 0, 0})})
        EXPECT_FALSE(EstaVazio(value)) << value.text();
}

// Numbers read from settings and queue rows ("NTerminal", numeroNFCE) may exceed a 64-bit integer; the
// component takes integers (half to even). (Statements' numbers: every database test.)
TEST(VbConversionsTest, IntegerTextOfAnyMagnitudeAndNumbersForTheComponent) {
    EXPECT_EQ(integerText(2.5) + "|" + integerText(-0.4) + "|" + integerText(Val("0099999999999999999999")),
              "2|0|100000000000000000000");
    EXPECT_EQ(zeroPadded(-3, 2) + "|" + zeroPadded(-1e19, 2), "-03|-10000000000000000000");
    EXPECT_THROW(integerText(std::numeric_limits<double>::infinity()), std::overflow_error);
    EXPECT_EQ(std::make_tuple(componentInteger("65"), componentInteger(" 5103403 "), componentInteger("2,5")),
              std::make_tuple(65, 5103403, 2));
    EXPECT_THROW(componentInteger(""), std::invalid_argument);
    EXPECT_THROW(componentInteger("5102A"), std::invalid_argument);
    EXPECT_THROW(componentInteger("99999999999"), std::overflow_error);
}

}  // namespace
}  // namespace quorvanti::document
