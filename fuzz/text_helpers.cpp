// The text, number and mask helpers over any texts. Besides no crash, hang or undefined behaviour:
// LimpaTexto leaves none of the characters it removes or folds and no outer blanks, and a second pass
// changes nothing where the first left no pair of blanks or line break; RetiraCaracteres leaves none of
// what it removes; the masks keep exactly the digits; CompletaEsquerda answers `width` characters;
// FormataValor answers the "##,#0.00" form or fails with an empty text; Left$ and Mid$ split a text
// into its two halves; the number conversions fail only in the ways they declare.
//
// Input: text %% set (or searched text) %% replacement %% width (parts separated by lines "%%").
#include <cmath>
#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>

#include "document/text/text_helpers.h"
#include "document/text/utf8_text.h"
#include "document/text/vb_conversions.h"
#include "fuzz_support.h"

namespace {

using namespace quorvanti;
using namespace quorvanti::document;
using fuzz::shown;

std::string digitsOf(std::string_view text) {
    std::string out;
    for (const char c : text)
        if (c >= '0' && c <= '9') out += c;
    return out;
}

bool containsAny(const std::u32string& text, std::u32string_view characters) {
    return text.find_first_of(characters) != std::u32string::npos;
}

void numbers(const std::string& text) {
    const double val = Val(text);
    FUZZ_CHECK(!std::isnan(val), shown(text));
    // The conversions of a number read from outside: they answer text, whatever the magnitude.
    if (std::isfinite(val)) {
        const std::string whole = integerText(val);
        FUZZ_CHECK(!whole.empty() && whole.find_first_not_of("-0123456789") == std::string::npos, shown(whole));
        const std::string padded = zeroPadded(val, 2);
        FUZZ_CHECK(digitsOf(padded).size() >= 2, shown(padded));
        const std::string sql = sqlNumber(val);
        FUZZ_CHECK(!sql.empty() && sql.find(',') == std::string::npos, shown(sql));
    }
    try {
        const double strict = toNumber(text);
        FUZZ_CHECK(!std::isnan(strict), shown(text));
    } catch (const std::invalid_argument&) {
    }
    try {
        componentInteger(text);
    } catch (const std::invalid_argument&) {
    } catch (const std::overflow_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parts(fuzz::asText(data, size), 4);
    const std::string& text = input[0];
    const std::string& set = input[1];
    const std::string& by = input[2];
    const bool valid = fuzz::validUtf8(text) && fuzz::validUtf8(set) && fuzz::validUtf8(by);

    // Bytes that are not UTF-8 survive the helpers and may join into a character once what stood
    // between them is gone, so the character properties hold for UTF-8 input.
    const std::string clean = LimpaTexto(text);
    if (valid) {
        const std::u32string cleanCharacters = decodeUtf8(clean);
        FUZZ_CHECK(fuzz::validUtf8(clean), shown(clean));
        FUZZ_CHECK(!containsAny(cleanCharacters, U"<>&'%*$´°ºªáàâãäéèêëíìîïóòôõöúùûüçÁÀÂÃÄÉÈÊËÍÌÎÏÓÒÔÕÖÚÙÛÜÇ"),
                   shown(text) + " -> " + shown(clean));
        FUZZ_CHECK(clean.empty() || (clean.front() != ' ' && clean.back() != ' '), shown(clean));
        FUZZ_CHECK(toUpperText(clean) == clean, shown(clean));
        if (clean.find("  ") == std::string::npos && clean.find("\r\n") == std::string::npos)
            FUZZ_CHECK(LimpaTexto(clean) == clean, shown(clean) + " -> " + shown(LimpaTexto(clean)));
    }

    const std::u32string setCharacters = decodeUtf8(set);
    const std::string withoutCharacters = RetiraCaracteres(text, set, true);
    FUZZ_CHECK(!valid || !containsAny(decodeUtf8(withoutCharacters), setCharacters), shown(withoutCharacters));
    const std::string withoutText = RetiraCaracteres(text, set, false);
    FUZZ_CHECK(!valid || setCharacters.empty() || decodeUtf8(withoutText).find(setCharacters) == std::u32string::npos,
               shown(withoutText));
    FUZZ_CHECK(encodeUtf8(decodeUtf8(withoutCharacters)) == withoutCharacters, shown(withoutCharacters));

    const std::string replaced = SubstituiC(text, set, by, false);
    FUZZ_CHECK(!valid || fuzz::validUtf8(replaced), shown(replaced));
    const std::string replacedCharacters = SubstituiC(text, set, by, true);
    FUZZ_CHECK(!valid || characterCount(replacedCharacters) == characterCount(text), shown(replacedCharacters));

    FUZZ_CHECK(EstaVazio(std::string_view(text)) == trimBlanks(text).empty(), shown(text));

    // Width: the fourth part read as a 16-bit number; fill: the replacement's first character.
    const auto width = static_cast<std::int16_t>(std::strtol(input[3].c_str(), nullptr, 10) % 4096);
    const std::u32string fillText = decodeUtf8(by);
    const std::string filled = CompletaEsquerda(text, width, fillText.empty() ? U'0' : fillText[0]);
    FUZZ_CHECK(!valid || characterCount(filled) == static_cast<std::size_t>(width < 0 ? 0 : width),
               shown(filled) + " for width " + std::to_string(width));

    const FormatResult money = FormataValor(text);
    static const std::regex kMoney("-?[0-9]{1,3}(\\.[0-9]{3})*,[0-9]{2}");
    FUZZ_CHECK(money.ok ? std::regex_match(money.text, kMoney) && money.text != "-0,00" : money.text.empty(),
               shown(text) + " -> " + shown(money.text));

    std::string postalCode = text;
    const std::string cep = MascaraCep(postalCode);
    FUZZ_CHECK(postalCode.find_first_of(".-,/\\") == std::string::npos, shown(postalCode));
    FUZZ_CHECK(digitsOf(cep) == digitsOf(postalCode), shown(text) + " -> " + shown(cep));
    const std::string phone = MascaraTelefone(text);
    FUZZ_CHECK(digitsOf(phone) == digitsOf(text), shown(text) + " -> " + shown(phone));
    const std::string document = MascaraCnpjCpf(text);
    const std::size_t documentDigits = digitsOf(text).size();
    FUZZ_CHECK(documentDigits == 11 || documentDigits == 14 ? digitsOf(document) == digitsOf(text) : document.empty(),
               shown(text) + " -> " + shown(document));

    const std::size_t split = static_cast<std::size_t>(width < 0 ? -width : width);
    FUZZ_CHECK(leftCharacters(text, split) + midCharacters(text, split) == text, shown(text));

    numbers(text);
    return 0;
}
