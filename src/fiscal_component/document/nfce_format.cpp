#include "fiscal_component/document/nfce_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "fiscal_component/interface/fiscal_component.h"
#include "platform/text_encoding.h"

namespace quorvanti::fiscal {

std::string formatDecimal(double value, int decimals) {
    if (!std::isfinite(value)) throw ComponentError("Valor numérico inválido (não finito)");
    if (decimals < 0 || decimals > 20) throw ComponentError("Número de casas decimais inválido");
    char shortest[400];
    const auto result = std::to_chars(shortest, shortest + sizeof shortest, std::fabs(value), std::chars_format::fixed);
    if (result.ec != std::errc()) throw ComponentError("Valor numérico grande demais para o documento");
    const std::string_view text(shortest, static_cast<std::size_t>(result.ptr - shortest));
    const std::size_t point = text.find('.');
    const std::string_view integral = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const std::size_t places = static_cast<std::size_t>(decimals);

    // The digits kept, behind one slot for a carry out of the integral part; rounded half away from zero
    // on the first digit dropped. Built in place: amounts are formatted several times per item.
    char digits[sizeof shortest + 24];
    std::size_t length = 0;
    digits[length++] = '0';
    for (const char c : integral) digits[length++] = c;
    for (std::size_t i = 0; i < places; ++i) digits[length++] = i < fraction.size() ? fraction[i] : '0';
    if (fraction.size() > places && fraction[places] >= '5') {
        for (std::size_t i = length; i-- > 0;) {
            if (digits[i] != '9') {
                ++digits[i];
                break;
            }
            digits[i] = '0';
        }
    }
    const std::size_t first = digits[0] == '0' ? 1 : 0;
    const bool zero = std::all_of(digits, digits + length, [](char c) { return c == '0'; });
    std::string out;
    out.reserve(length + 2);
    if (value < 0 && !zero) out += '-';
    out.append(digits + first, length - places - first);
    if (places > 0) {
        out += '.';
        out.append(digits + length - places, places);
    }
    return out;
}

std::int64_t roundToUnits(double value, int decimals) {
    std::string text = formatDecimal(value, decimals);
    std::erase(text, '.');
    std::int64_t units = 0;
    const char* begin = text.data() + (text[0] == '-' ? 1 : 0);
    // A count beyond 64 bits must not read as zero: a huge amount would pass every check as nothing.
    if (std::from_chars(begin, text.data() + text.size(), units).ec != std::errc())
        throw ComponentError("Valor numérico grande demais para o documento");
    return text[0] == '-' ? -units : units;
}

std::string layoutText(std::string_view text, std::string_view what) {
    std::string out;
    out.reserve(text.size());
    bool pendingBlank = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        char32_t codePoint = 0;
        const std::size_t length = platform::utf8SequenceAt(text, pos, codePoint);
        pos += length;
        if (length == 0) {
            throw ComponentError(std::string(what) + ": o texto não está em UTF-8 válido");
        }
        if (codePoint <= 0x20) {
            pendingBlank = true;
            continue;
        }
        if (codePoint > 0xFF) {
            throw ComponentError(std::string(what) + ": o caractere '" + std::string(text.substr(start, pos - start)) +
                                 "' não é permitido pelo leiaute da NFC-e (apenas caracteres latinos)");
        }
        if (pendingBlank && !out.empty()) out += ' ';
        pendingBlank = false;
        out.append(text.substr(start, pos - start));
    }
    return out;
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string firstCharacters(std::string_view utf8, std::size_t maxCharacters) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            if (count == maxCharacters) return trimmed(utf8.substr(0, i));
            ++count;
        }
    }
    return std::string(utf8);
}

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#xD;"; break;
            default: out += c;
        }
    }
    return out;
}

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace quorvanti::fiscal
