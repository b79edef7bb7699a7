#include "document/text/text_helpers.h"

#include <algorithm>
#include <type_traits>
#include <variant>

#include "document/text/utf8_text.h"

namespace quorvanti::document {

namespace {

std::u32string upperAll(std::u32string text) {
    for (char32_t& c : text) c = upperCharacter(c);
    return text;
}

// Every occurrence of `from`, taken left to right without overlaps, replaced by `to` (VB's Replace).
void replaceAll(std::u32string& text, std::u32string_view from, std::u32string_view to) {
    if (from.empty()) return;
    std::u32string out;
    out.reserve(text.size());
    std::size_t at = 0;
    for (std::size_t hit = text.find(from); hit != std::u32string::npos; hit = text.find(from, at)) {
        out.append(text, at, hit - at);
        out.append(to);
        at = hit + from.size();
    }
    out.append(text, at);
    text = std::move(out);
}

struct Replacement {
    std::u32string_view from;
    std::u32string_view to;
};

// The cleaning order matters: "&" gives a capital "E" that the accent rules leave alone, the blank
// halving runs once (so long runs of blanks survive shortened), and the characters removed last can
// leave new pairs of blanks behind. Texts bound for the document go through fitToLayout afterwards,
// which collapses what is left.
constexpr Replacement kCleaning[] = {
    {U"<", U" "}, {U">", U" "}, {U"&", U"E"}, {U"'", U" "},
    {U"á", U"a"}, {U"à", U"a"}, {U"â", U"a"}, {U"ã", U"a"}, {U"ä", U"a"},
    {U"é", U"e"}, {U"è", U"e"}, {U"ê", U"e"}, {U"ë", U"e"},
    {U"í", U"i"}, {U"ì", U"i"}, {U"î", U"i"}, {U"ï", U"i"},
    {U"ó", U"o"}, {U"ò", U"o"}, {U"ô", U"o"}, {U"õ", U"o"}, {U"ö", U"o"},
    {U"ú", U"u"}, {U"ù", U"u"}, {U"û", U"u"}, {U"ü", U"u"},
    {U"ç", U"c"},
    {U"Á", U"A"}, {U"À", U"A"}, {U"Â", U"A"}, {U"Ã", U"A"}, {U"Ä", U"A"},
    {U"É", U"E"}, {U"È", U"E"}, {U"Ê", U"E"}, {U"Ë", U"E"},
    {U"Í", U"I"}, {U"Ì", U"I"}, {U"Î", U"I"}, {U"Ï", U"I"},
    {U"Ó", U"O"}, {U"Ò", U"O"}, {U"Ô", U"O"}, {U"Õ", U"O"}, {U"Ö", U"O"},
    {U"Ú", U"U"}, {U"Ù", U"U"}, {U"Û", U"U"}, {U"Ü", U"U"},
    {U"Ç", U"C"},
    {U"°", U"."}, {U"º", U"."}, {U"ª", U"."},
    {U"\r\n", U" "},
    {U"  ", U" "},
    {U"'", U" "}, {U"%", U""}, {U"*", U""}, {U"$", U""}, {U"´", U""},
};

std::u32string_view trimBlanks(std::u32string_view text) {
    const std::size_t first = text.find_first_not_of(U' ');
    if (first == std::u32string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(U' ') - first + 1);
}

// "Not later than 2/1/100", the lowest date the original's platform knows; database zero dates
// ("0000-00-00") fall below it as well.
bool isLowestDate(const database::DbDate& date) {
    if (date.year != 100) return date.year < 100;
    return date.month < 1 || (date.month == 1 && date.day <= 2);
}

bool isLowestDateTime(const database::DbDateTime& value) {
    const auto& d = value.date;
    const bool midnight = value.hour == 0 && value.minute == 0 && value.second == 0;
    // 2/1/100 itself counts only at midnight: any later time of that day is later than the date.
    if (d.year == 100 && d.month == 1 && d.day == 2) return midnight;
    return isLowestDate(d);
}

}  // namespace

std::string toUpperText(std::string_view text) { return encodeUtf8(upperAll(decodeUtf8(text))); }

std::string toLowerText(std::string_view text) {
    std::u32string characters = decodeUtf8(text);
    for (char32_t& c : characters) c = lowerCharacter(c);
    return encodeUtf8(characters);
}

std::string trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::size_t characterCount(std::string_view text) { return decodeUtf8(text).size(); }

std::string leftCharacters(std::string_view text, std::size_t count) {
    const std::u32string characters = decodeUtf8(text);
    return encodeUtf8(std::u32string_view(characters).substr(0, count));
}

std::string midCharacters(std::string_view text, std::size_t start, std::size_t count) {
    const std::u32string characters = decodeUtf8(text);
    if (start >= characters.size()) return {};
    return encodeUtf8(std::u32string_view(characters).substr(start, count));
}

std::string LimpaTexto(std::string_view text) {
    std::u32string cleaned = decodeUtf8(text);
    for (char32_t& c : cleaned) c = lowerCharacter(c);
    for (const auto& rule : kCleaning) replaceAll(cleaned, rule.from, rule.to);
    return encodeUtf8(upperAll(std::u32string(trimBlanks(cleaned))));
}

std::string RetiraCaracteres(std::string_view text, std::string_view set, bool everyCharacter) {
    std::u32string result = decodeUtf8(text);
    const std::u32string removed = decodeUtf8(set);
    if (everyCharacter) {
        std::erase_if(result, [&](char32_t c) { return removed.find(c) != std::u32string::npos; });
    } else if (!removed.empty()) {
        // Searching from the start again also removes occurrences that a removal brings together.
        for (std::size_t hit = result.find(removed); hit != std::u32string::npos; hit = result.find(removed))
            result.erase(hit, removed.size());
    }
    return encodeUtf8(result);
}

std::string SubstituiC(std::string_view target, std::string_view what, std::string_view by, bool characterMode) {
    std::u32string result = decodeUtf8(target);
    const std::u32string from = decodeUtf8(what);
    const std::u32string to = decodeUtf8(by);
    if (characterMode) {
        for (std::size_t i = 0; i < from.size() && i < to.size(); ++i) {
            for (char32_t& c : result)
                if (c == from[i]) c = to[i];
        }
        return encodeUtf8(result);
    }
    // An empty search text would be found forever; there is nothing to replace.
    if (from.empty()) return std::string(target);
    // Case mapping keeps one character per character, so positions found in the upper-cased copy hold
    // in the original.
    std::size_t hit = upperAll(result).find(upperAll(from));
    while (hit != std::u32string::npos) {
        result.replace(hit, from.size(), to);
        hit = result.find(from, hit + to.size());
    }
    return encodeUtf8(result);
}

bool EstaVazio(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

bool EstaVazio(const database::DbValue& value) {
    return std::visit(
        [](const auto& v) -> bool {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) return true;
            else if constexpr (std::is_same_v<T, std::string>) return EstaVazio(std::string_view(v));
            else if constexpr (std::is_same_v<T, database::DbDate>) return isLowestDate(v);
            else if constexpr (std::is_same_v<T, database::DbDateTime>) return isLowestDateTime(v);
            else return v == 0;
        },
        value.raw());
}

std::string CompletaEsquerda(std::string_view value, int width, char32_t fill) {
    if (width <= 0) return {};
    const std::u32string characters = decodeUtf8(value);
    std::u32string_view trimmed = characters;
    trimmed.remove_prefix(std::min(trimmed.size(), trimmed.find_first_not_of(U' ')));
    std::u32string padded(static_cast<std::size_t>(width), fill);
    padded.append(trimmed);
    return encodeUtf8(std::u32string_view(padded).substr(padded.size() - static_cast<std::size_t>(width)));
}

}  // namespace quorvanti::document
