#include "fiscal_component/document/access_key.h"

#include <array>
#include <cctype>
#include <utility>

#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

namespace {

constexpr std::array<std::pair<const char*, const char*>, 27> kUfCodes{{
    {"RO", "11"}, {"AC", "12"}, {"AM", "13"}, {"RR", "14"}, {"PA", "15"}, {"AP", "16"}, {"TO", "17"},
    {"MA", "21"}, {"PI", "22"}, {"CE", "23"}, {"RN", "24"}, {"PB", "25"}, {"PE", "26"}, {"AL", "27"},
    {"SE", "28"}, {"BA", "29"}, {"MG", "31"}, {"ES", "32"}, {"RJ", "33"}, {"SP", "35"}, {"PR", "41"},
    {"SC", "42"}, {"RS", "43"}, {"MS", "50"}, {"MT", "51"}, {"GO", "52"}, {"DF", "53"},
}};

std::string padded(std::int64_t value, std::size_t width) {
    std::string text = std::to_string(value);
    return std::string(width - std::min(width, text.size()), '0') + text;
}

}  // namespace

std::string ufCode(std::string_view uf) {
    std::string upper = trimmed(uf);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& [abbreviation, code] : kUfCodes) {
        if (upper == abbreviation) return code;
    }
    return {};
}

int accessKeyCheckDigit(std::string_view digits43) {
    int sum = 0;
    int weight = 2;
    for (auto it = digits43.rbegin(); it != digits43.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int remainder = sum % 11;
    return remainder < 2 ? 0 : 11 - remainder;
}

std::string buildAccessKey(const AccessKeyFields& fields) {
    const std::string cUF = ufCode(fields.uf);
    if (cUF.empty()) throw ComponentError("Chave de acesso: UF '" + fields.uf + "' desconhecida");
    const std::string& dh = fields.dhEmi;
    if (dh.size() < 7 || !isDigits(dh.substr(0, 4)) || dh[4] != '-' || !isDigits(dh.substr(5, 2))) {
        throw ComponentError("Chave de acesso: data de emissão '" + dh + "' inválida");
    }
    if (fields.cnpj.size() != 14 || !isDigits(fields.cnpj)) {
        throw ComponentError("Chave de acesso: CNPJ '" + fields.cnpj + "' inválido: deve ter 14 dígitos");
    }
    if (fields.model != 55 && fields.model != 65) {
        throw ComponentError("Chave de acesso: modelo " + std::to_string(fields.model) + " inválido");
    }
    if (fields.series < 0 || fields.series > 999) {
        throw ComponentError("Chave de acesso: série " + std::to_string(fields.series) + " fora de 0 a 999");
    }
    if (fields.number < 1 || fields.number > 999999999) {
        throw ComponentError("Chave de acesso: número " + std::to_string(fields.number) + " fora de 1 a 999999999");
    }
    if (fields.emissionType < 1 || fields.emissionType > 9) {
        throw ComponentError("Chave de acesso: tipo de emissão " + std::to_string(fields.emissionType) + " inválido");
    }
    if (fields.numericCode.size() != 8 || !isDigits(fields.numericCode)) {
        throw ComponentError("Chave de acesso: código numérico '" + fields.numericCode + "' deve ter 8 dígitos");
    }
    std::string key = cUF + dh.substr(2, 2) + dh.substr(5, 2) + fields.cnpj + padded(fields.model, 2) +
                      padded(fields.series, 3) + padded(fields.number, 9) + std::to_string(fields.emissionType) +
                      fields.numericCode;
    key += static_cast<char>('0' + accessKeyCheckDigit(key));
    return key;
}

bool accessKeyValid(std::string_view key) {
    return key.size() == 44 && isDigits(key) && key[43] - '0' == accessKeyCheckDigit(key.substr(0, 43));
}

}  // namespace quorvanti::fiscal
