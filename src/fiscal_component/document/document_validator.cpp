#include "fiscal_component/document/document_validator.h"

#include <algorithm>

namespace quorvanti::fiscal {

namespace {

bool onlyDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether `text` matches `mask`, where '0' stands for a digit and every other character for itself.
bool matchesMask(std::string_view text, std::string_view mask) {
    if (text.size() != mask.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool ok = mask[i] == '0' ? (text[i] >= '0' && text[i] <= '9') : text[i] == mask[i];
        if (!ok) return false;
    }
    return true;
}

// The check digit of `digits` with weights 2, 3, ... `maxWeight`, 2, 3 ... from the rightmost digit
// leftwards: remainder below 2 gives 0, otherwise 11 minus the remainder.
int checkDigit(std::string_view digits, int maxWeight) {
    int sum = 0;
    int weight = 2;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == maxWeight ? 2 : weight + 1;
    }
    const int remainder = sum % 11;
    return remainder < 2 ? 0 : 11 - remainder;
}

bool oneRepeatedDigit(std::string_view digits) {
    return std::all_of(digits.begin(), digits.end(), [&](char c) { return c == digits.front(); });
}

// Both check digits: the first over the body, the second over the body and the first.
bool checkDigitsRight(std::string_view digits, int maxWeight) {
    const std::size_t body = digits.size() - 2;
    return checkDigit(digits.substr(0, body), maxWeight) == digits[body] - '0' &&
           checkDigit(digits.substr(0, body + 1), maxWeight) == digits[body + 1] - '0';
}

}  // namespace

std::string documentDigits(std::string_view text) {
    if ((text.size() == 11 || text.size() == 14) && onlyDigits(text)) return std::string(text);
    if (!matchesMask(text, "000.000.000-00") && !matchesMask(text, "00.000.000/0000-00")) return "";
    std::string digits;
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits), [](char c) { return c >= '0' && c <= '9'; });
    return digits;
}

// CPF weights run 2..10 and 2..11 (never wrapping); CNPJ weights wrap after 9.
bool validCpf(std::string_view digits) {
    return digits.size() == 11 && onlyDigits(digits) && !oneRepeatedDigit(digits) && checkDigitsRight(digits, 11);
}

bool validCnpj(std::string_view digits) {
    return digits.size() == 14 && onlyDigits(digits) && !oneRepeatedDigit(digits) && checkDigitsRight(digits, 9);
}

bool CpfCnpjValidator::validate(const std::string& document) {
    const std::string digits = documentDigits(document);
    return digits.size() == 11 ? validCpf(digits) : validCnpj(digits);
}

}  // namespace quorvanti::fiscal
