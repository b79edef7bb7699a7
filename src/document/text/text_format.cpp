#include <algorithm>
#include <optional>
#include <string>

#include "document/text/text_helpers.h"
#include "document/text/utf8_text.h"

namespace quorvanti::document {

namespace {

// An amount held exactly as decimal digits: value = digits x 10^exponent. The receipt amounts come as
// decimal texts, so decimal arithmetic rounds them the way they read, never a binary neighbour.
struct Decimal {
    bool negative = false;
    std::string digits;  // no sign, at least one digit
    long exponent = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads `text` with the Brazilian regional rules: dots are thousands separators and are skipped wherever
// they stand in the integer part, a comma starts the decimals, an optional sign leads and an exponent
// ("1,5E-05", as a number turned into text may read) may follow. Blanks around the number are allowed.
std::optional<Decimal> readBrazilianNumber(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);

    Decimal number;
    std::size_t at = 0;
    if (text[at] == '-' || text[at] == '+') number.negative = text[at++] == '-';
    std::size_t decimals = 0;
    for (; at < text.size() && (isDigit(text[at]) || text[at] == '.'); ++at)
        if (text[at] != '.') number.digits.push_back(text[at]);
    if (at < text.size() && text[at] == ',') {
        for (++at; at < text.size() && isDigit(text[at]); ++at, ++decimals) number.digits.push_back(text[at]);
    }
    if (number.digits.empty()) return std::nullopt;
    long exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        bool negativeExponent = false;
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) negativeExponent = text[at++] == '-';
        if (at == text.size() || !isDigit(text[at])) return std::nullopt;
        for (; at < text.size() && isDigit(text[at]); ++at)
            exponent = std::min(exponent * 10 + (text[at] - '0'), 100000L);
        if (negativeExponent) exponent = -exponent;
    }
    if (at != text.size()) return std::nullopt;

    const std::size_t significant = number.digits.find_first_not_of('0');
    if (significant == std::string::npos) return Decimal{false, "0", 0};
    number.digits.erase(0, significant);
    number.exponent = exponent - static_cast<long>(decimals);
    // Beyond the range of a 64-bit floating-point value the original fails with an overflow.
    if (static_cast<long>(number.digits.size()) + number.exponent > 308) return std::nullopt;
    return number;
}

// Rounds to two decimals, half away from zero as the original's Format does; afterwards the digits are
// the amount in cents.
void roundToCents(Decimal& number) {
    if (number.exponent >= -2) {
        number.digits.append(static_cast<std::size_t>(number.exponent + 2), '0');
    } else {
        const auto dropped = static_cast<std::size_t>(-2 - number.exponent);
        if (dropped > number.digits.size()) {
            number.digits = "0";
        } else {
            const bool up = number.digits[number.digits.size() - dropped] >= '5';
            number.digits.resize(number.digits.size() - dropped);
            if (number.digits.empty()) number.digits = "0";
            if (up) {
                std::size_t i = number.digits.size();
                while (i > 0 && number.digits[i - 1] == '9') number.digits[--i] = '0';
                if (i == 0) number.digits.insert(number.digits.begin(), '1');
                else ++number.digits[i - 1];
            }
        }
    }
    number.exponent = -2;
    const std::size_t significant = number.digits.find_first_not_of('0');
    number.digits.erase(0, significant == std::string::npos ? number.digits.size() - 1 : significant);
}

// Cents written "##,#0.00" with Brazilian separators: "1.234,50", "0,05". A value that rounds to zero
// carries no sign.
std::string brazilianMoney(const Decimal& cents) {
    std::string digits = cents.digits;
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    const std::size_t integerLength = digits.size() - 2;
    std::string out;
    if (cents.negative && cents.digits != "0") out.push_back('-');
    for (std::size_t i = 0; i < integerLength; ++i) {
        if (i > 0 && (integerLength - i) % 3 == 0) out.push_back('.');
        out.push_back(digits[i]);
    }
    out.push_back(',');
    out.append(digits, integerLength, 2);
    return out;
}

std::string digitsOnly(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (isDigit(c)) digits.push_back(c);
    return digits;
}

}  // namespace

std::string formatWithPlaceholders(std::string_view text, std::u32string_view mask) {
    const std::u32string characters = decodeUtf8(text);
    const bool fromLeft = mask.find(U'!') != std::u32string_view::npos;
    const auto slots = static_cast<std::size_t>(std::count(mask.begin(), mask.end(), U'@'));
    std::u32string out;
    std::size_t next = 0;
    std::size_t blanksBefore = 0;  // placeholders, counted from the first, left blank
    if (!fromLeft) {
        if (characters.size() > slots) {
            next = characters.size() - slots;
            out.append(characters, 0, next);
        } else {
            blanksBefore = slots - characters.size();
        }
    }
    std::size_t slot = 0;
    for (char32_t c : mask) {
        if (c == U'!') continue;
        if (c != U'@') {
            out.push_back(c);
        } else if (slot++ < blanksBefore || next >= characters.size()) {
            out.push_back(U' ');
        } else {
            out.push_back(characters[next++]);
        }
    }
    if (next < characters.size()) out.append(characters, next);
    return encodeUtf8(out);
}

FormatResult FormataValor(std::string_view amount) {
    // "#####0.00" first (rounding to cents), then the division by 100 and "##,#0.00" (rounding again):
    // 12,5 becomes 12,50, then 0,125, printed 0,13. Both roundings are half away from zero on the decimal
    // value as written, which is what the original's Format shows for amounts of up to 15 digits.
    std::optional<Decimal> number = readBrazilianNumber(amount);
    if (!number) return {false, ""};
    roundToCents(*number);
    number->exponent -= 2;
    roundToCents(*number);
    return {true, brazilianMoney(*number)};
}

std::string MascaraCep(std::string& postalCode) {
    postalCode = RetiraCaracteres(postalCode, ".-,/\\", true);
    return formatWithPlaceholders(postalCode, U"@@.@@@-@@@");
}

std::string MascaraTelefone(std::string_view phone) {
    const std::string digits = digitsOnly(phone);
    // A text without any digit has nothing to show; the original would print the bare mask.
    if (digits.empty()) return {};
    const std::size_t count = digits.size();
    const std::u32string_view mask = count <= 7 ? U"!@@@-@@@@"
                                     : count == 8 ? U"!@@@@-@@@@"
                                     : count == 9 ? U"!(@@) @@@-@@@@"
                                     : count == 10 ? U"!(@@) @@@@-@@@@"
                                                   : U"!(@@) @@@@@-@@@@";
    return formatWithPlaceholders(digits, mask);
}

std::string MascaraCnpjCpf(std::string_view document) {
    const std::string digits = digitsOnly(document);
    // The CPF form with a slash before the check digits is what the printed receipts have always shown.
    if (digits.size() == 11) return formatWithPlaceholders(digits, U"!@@@.@@@.@@@/@@");
    if (digits.size() == 14) return formatWithPlaceholders(digits, U"!@@.@@@.@@@/@@@@-@@");
    return {};
}

}  // namespace quorvanti::document
