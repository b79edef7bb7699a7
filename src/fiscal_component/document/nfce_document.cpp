#include "fiscal_component/document/nfce_document.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

namespace {

constexpr const char* kHomologationRecipient = "NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";

constexpr std::array<const char*, 28> kStates{
    "AC", "AL", "AM", "AP", "BA", "CE", "DF", "ES", "GO", "MA", "MG", "MS", "MT", "PA",
    "PB", "PE", "PI", "PR", "RJ", "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO", "EX"};

std::string str(std::int64_t value) { return std::to_string(value); }

void element(std::string& out, std::string_view tag, std::string_view text) {
    out += '<';
    out += tag;
    out += '>';
    if (text.find_first_of("&<>\r") == std::string_view::npos) {
        out += text;
    } else {
        out += xmlEscape(text);
    }
    out += "</";
    out += tag;
    out += '>';
}

[[noreturn]] void fail(const std::string& description) { throw ComponentError(description); }

// Free text of a required element: normalised, cut to the layout's maximum, refused when shorter than
// its minimum.
std::string requiredText(std::string_view value, const std::string& what, std::size_t minimum,
                         std::size_t maximum) {
    std::string text = firstCharacters(layoutText(value, what), maximum);
    if (text.empty()) fail(what + " vazio");
    if (characterCount(text) < minimum) {
        fail(what + " '" + text + "' curto demais: mínimo de " + str(minimum) + " caracteres");
    }
    return text;
}

// Free text of an optional element; nothing when it cannot be written.
std::optional<std::string> optionalText(std::string_view value, const std::string& what, std::size_t minimum,
                                        std::size_t maximum) {
    std::string text = firstCharacters(layoutText(value, what), maximum);
    if (characterCount(text) < minimum) return std::nullopt;
    return text;
}

// The first amount in cents beyond the layout's values (13 digits before the point).
constexpr std::int64_t kAmountLimitCents = 1'000'000'000'000'000;

// An amount with `decimals` places and at most `integerDigits` digits before the point (the layout's
// TDec types: 13 for values, 11 for quantities and unit values, 3 for rates). Beyond that the layout
// cannot hold it, and the sums of the document's cents would no longer fit 64 bits.
std::string amount(double value, int decimals, const std::string& what, std::size_t integerDigits = 13) {
    if (!std::isfinite(value)) fail(what + " inválido: valor não numérico");
    const std::string text = formatDecimal(value, decimals);
    if (std::min(text.find('.'), text.size()) > integerDigits + (text[0] == '-' ? 1 : 0)) {
        fail(what + " " + text + " grande demais: no máximo " + str(static_cast<std::int64_t>(integerDigits)) +
             " dígitos antes da vírgula");
    }
    if (text[0] == '-') fail(what + " negativo: " + text);
    return value < 0 ? formatDecimal(0.0, decimals) : text;
}

bool isState(std::string_view uf, bool allowForeign) {
    for (const char* state : kStates) {
        if (uf == state) return allowForeign || uf != "EX";
    }
    return false;
}

std::string upperTrimmed(std::string_view text) {
    std::string out = trimmed(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool digitsBetween(std::string_view text, std::size_t minimum, std::size_t maximum) {
    return isDigits(text) && text.size() >= minimum && text.size() <= maximum;
}

int twoDigits(std::string_view text, std::size_t at) {
    if (at + 2 > text.size() || !isDigits(text.substr(at, 2))) return -1;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// The layout's date-time with offset: 2026-03-05T14:07:09-04:00.
bool isDateTimeWithOffset(std::string_view text) {
    if (text.size() != 25 || text.substr(0, 2) != "20" || twoDigits(text, 2) < 0 || text[4] != '-' ||
        text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[22] != ':') {
        return false;
    }
    const int month = twoDigits(text, 5), day = twoDigits(text, 8), hour = twoDigits(text, 11),
              minute = twoDigits(text, 14), second = twoDigits(text, 17), offset = twoDigits(text, 20);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour <= 23 && minute >= 0 &&
           minute <= 59 && second >= 0 && second <= 59 && (text[19] == '-' || text[19] == '+') && offset >= 0 &&
           offset <= (text[19] == '+' ? 12 : 11) && text.substr(23, 2) == "00";
}

std::string dateTime(std::string_view value, const std::string& what) {
    std::string text = trimmed(value);
    if (!isDateTimeWithOffset(text)) {
        fail(what + " '" + text + "' inválida: use o formato AAAA-MM-DDThh:mm:ss-03:00");
    }
    return text;
}

int oneOf(int value, std::initializer_list<int> allowed, const std::string& what) {
    if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) fail(what + " " + str(value) + " inválido");
    return value;
}

std::string municipality(std::int32_t code, const std::string& what) {
    if (code < 1000000 || code > 9999999) fail(what + " " + str(code) + " inválido: deve ter 7 dígitos");
    return str(code);
}

std::string gtin(std::string_view value, const std::string& what) {
    const std::string text = trimmed(value);
    if (text.empty() || text == "SEM GTIN") return "SEM GTIN";
    if (isDigits(text) && (text.size() == 8 || (text.size() >= 12 && text.size() <= 14))) return text;
    fail(what + " '" + text + "' inválido: deve ter 8, 12, 13 ou 14 dígitos, ou ser SEM GTIN");
}

bool isCstIn(std::string_view cst, std::initializer_list<const char*> list) {
    for (const char* entry : list) {
        if (cst == entry) return true;
    }
    return false;
}

// The PIS or COFINS group of one item for `cst`; "" when no CST is given.
std::string socialTax(const std::string& tax, std::string_view cstValue, const std::array<std::int32_t, 10>& values,
                      const std::string& item) {
    const std::string cst = trimmed(cstValue);
    if (cst.empty()) return {};
    const auto value = [&](int index, int decimals, const char* tag, std::size_t integerDigits = 13) {
        return amount(values[index], decimals, std::string(tag) + " do " + tax + " " + item, integerDigits);
    };
    const std::string rateTag = "p" + tax, valueTag = "v" + tax;
    std::string group;
    std::string inner;
    if (isCstIn(cst, {"01", "02"})) {
        group = tax + "Aliq";
        element(inner, "CST", cst);
        element(inner, "vBC", value(0, 2, "vBC"));
        element(inner, rateTag, value(1, 4, rateTag.c_str(), 3));
        element(inner, valueTag, value(2, 2, valueTag.c_str()));
    } else if (cst == "03") {
        group = tax + "Qtde";
        element(inner, "CST", cst);
        element(inner, "qBCProd", value(3, 4, "qBCProd", 12));
        element(inner, "vAliqProd", value(4, 4, "vAliqProd", 11));
        element(inner, valueTag, value(2, 2, valueTag.c_str()));
    } else if (isCstIn(cst, {"04", "05", "06", "07", "08", "09"})) {
        group = tax + "NT";
        element(inner, "CST", cst);
    } else if (isCstIn(cst, {"49", "50", "51", "52", "53", "54", "55", "56", "60", "61", "62", "63", "64", "65",
                             "66", "67", "70", "71", "72", "73", "74", "75", "98", "99"})) {
        group = tax + "Outr";
        element(inner, "CST", cst);
        element(inner, "vBC", value(0, 2, "vBC"));
        element(inner, rateTag, value(1, 4, rateTag.c_str(), 3));
        element(inner, valueTag, value(2, 2, valueTag.c_str()));
    } else {
        fail("CST do " + tax + " '" + cst + "' " + item + " não suportado");
    }
    return "<" + tax + "><" + group + ">" + inner + "</" + group + "></" + tax + ">";
}

std::string money(std::int64_t cents) {
    const std::string digits = str(cents < 0 ? -cents : cents);
    const std::string padded = std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
    return (cents < 0 ? "-" : "") + padded.substr(0, padded.size() - 2) + "." + padded.substr(padded.size() - 2);
}

void checkSum(std::int64_t total, std::int64_t itemsSum, const std::string& what) {
    if (total != itemsSum) {
        fail(what + " " + money(total) + " difere da soma dos itens " + money(itemsSum));
    }
}

}  // namespace

NfceDocument::NfceDocument(DocumentSettings settings) : settings_(std::move(settings)) {}

void NfceDocument::identification(const IdentificationArgs& a) {
    Ide ide;
    ide.cNF = trimmed(a.cNF);
    if (!ide.cNF.empty() && !digitsBetween(ide.cNF, 1, 8)) {
        fail("Código numérico (cNF) '" + ide.cNF + "' inválido: deve ter até 8 dígitos");
    }
    ide.natOp = requiredText(a.natOp, "Natureza da operação (natOp)", 1, 60);
    if (a.mod != 65) {
        fail("Modelo (mod) " + str(a.mod) + " não suportado: este componente emite apenas NFC-e (modelo 65)");
    }
    ide.mod = a.mod;
    if (a.serie < 0 || a.serie > 999) fail("Série (serie) " + str(a.serie) + " inválida: deve estar entre 0 e 999");
    ide.serie = a.serie;
    if (a.nNF < 1 || a.nNF > 999999999) {
        fail("Número da NFC-e (nNF) " + str(a.nNF) + " inválido: deve estar entre 1 e 999999999");
    }
    ide.nNF = a.nNF;
    ide.dhEmi = dateTime(a.dhEmi, "Data de emissão (dhEmi)");
    ide.tpNF = oneOf(a.tpNF, {0, 1}, "Tipo de operação (tpNF)");
    ide.idDest = oneOf(a.idDest, {1, 2, 3}, "Destino da operação (idDest)");
    ide.cMunFG = municipality(a.cMunFG, "Município do fato gerador (cMunFG)");
    ide.tpImp = oneOf(a.tpImp, {4, 5}, "Formato do DANFE (tpImp) da NFC-e");
    if (a.tpEmis != 1 && a.tpEmis != 9) {
        fail("Tipo de emissão (tpEmis) " + str(a.tpEmis) +
             " não suportado numa NFC-e: use 1 (normal) ou 9 (contingência off-line)");
    }
    ide.tpEmis = a.tpEmis;
    ide.finNFe = oneOf(a.finNFe, {1, 2, 3, 4}, "Finalidade (finNFe)");
    ide.indFinal = oneOf(a.indFinal, {0, 1}, "Indicador de consumidor final (indFinal)");
    ide.indPres = oneOf(a.indPres, {0, 1, 2, 3, 4, 5, 9}, "Indicador de presença (indPres)");
    ide.indIntermed = oneOf(a.indIntermed, {0, 1}, "Indicador de intermediador (indIntermed)");
    ide.procEmi = oneOf(a.procEmi, {0, 1, 2, 3}, "Processo de emissão (procEmi)");
    ide.verProc = requiredText(a.verProc, "Versão do aplicativo (verProc)", 1, 20);
    if (ide.tpEmis == 9) {
        ide.dhCont = dateTime(a.dhCont, "Data de entrada em contingência (dhCont)");
        ide.xJust = layoutText(a.xJust, "Justificativa da contingência (xJust)");
        const std::size_t length = characterCount(ide.xJust);
        if (length < 15 || length > 256) {
            fail("Justificativa da contingência (xJust) deve ter de 15 a 256 caracteres (tem " + str(length) + ")");
        }
    }
    ide.present = true;
    ide_ = std::move(ide);
}

void NfceDocument::emitter(const EmitterArgs& a) {
    std::string out = "<emit>";
    const std::string cnpj = trimmed(a.cnpj);
    if (cnpj.empty()) fail("CNPJ do emitente vazio");
    if (cnpj.size() != 14 || !isDigits(cnpj)) fail("CNPJ do emitente '" + cnpj + "' inválido: deve ter 14 dígitos");
    element(out, "CNPJ", cnpj);
    element(out, "xNome", requiredText(a.xNome, "Razão social do emitente (xNome)", 2, 60));
    if (auto name = optionalText(a.xFant, "Nome fantasia do emitente (xFant)", 1, 60)) element(out, "xFant", *name);
    out += "<enderEmit>";
    element(out, "xLgr", requiredText(a.xLgr, "Logradouro do emitente (xLgr)", 2, 60));
    auto number = optionalText(a.nro, "Número do endereço do emitente (nro)", 1, 60);
    element(out, "nro", number ? *number : "S/N");
    if (auto complement = optionalText(a.xCpl, "Complemento do emitente (xCpl)", 1, 60)) element(out, "xCpl", *complement);
    element(out, "xBairro", requiredText(a.xBairro, "Bairro do emitente (xBairro)", 2, 60));
    element(out, "cMun", municipality(a.cMun, "Código do município do emitente (cMun)"));
    element(out, "xMun", requiredText(a.xMun, "Município do emitente (xMun)", 2, 60));
    const std::string uf = upperTrimmed(a.uf);
    if (!isState(uf, false)) fail("UF do emitente '" + uf + "' inválida");
    element(out, "UF", uf);
    const std::string cep = trimmed(a.cep);
    if (cep.size() != 8 || !isDigits(cep)) fail("CEP do emitente '" + cep + "' inválido: deve ter 8 dígitos");
    element(out, "CEP", cep);
    element(out, "cPais", "1058");
    element(out, "xPais", "BRASIL");
    if (const std::string fone = trimmed(a.fone); digitsBetween(fone, 6, 14)) element(out, "fone", fone);
    out += "</enderEmit>";
    const std::string ie = upperTrimmed(a.ie);
    if (!digitsBetween(ie, 2, 14) && ie != "ISENTO") {
        fail("Inscrição estadual do emitente (IE) '" + ie + "' inválida: de 2 a 14 dígitos ou ISENTO");
    }
    element(out, "IE", ie);
    if (const std::string iest = trimmed(a.iest); !iest.empty()) {
        if (!digitsBetween(iest, 2, 14)) fail("IE do substituto tributário (IEST) '" + iest + "' inválida");
        element(out, "IEST", iest);
    }
    if (auto im = optionalText(a.im, "Inscrição municipal do emitente (IM)", 1, 15)) {
        element(out, "IM", *im);
        if (const std::string cnae = trimmed(a.cnae); !cnae.empty()) {
            if (cnae.size() != 7 || !isDigits(cnae)) fail("CNAE do emitente '" + cnae + "' inválido: deve ter 7 dígitos");
            element(out, "CNAE", cnae);
        }
    }
    element(out, "CRT", str(oneOf(a.crt, {1, 2, 3, 4}, "Regime tributário (CRT)")));
    out += "</emit>";
    emit_ = std::move(out);
    emitCnpj_ = cnpj;
    emitUf_ = uf;
}

void NfceDocument::recipient(const RecipientArgs& a) {
    std::string out = "<dest>";
    const std::string cnpj = trimmed(a.cnpj), cpf = trimmed(a.cpf), foreign = trimmed(a.idEstrangeiro);
    if (!cnpj.empty()) {
        if (cnpj.size() != 14 || !isDigits(cnpj)) fail("CNPJ do destinatário '" + cnpj + "' inválido: deve ter 14 dígitos");
        element(out, "CNPJ", cnpj);
    } else if (!cpf.empty()) {
        if (cpf.size() != 11 || !isDigits(cpf)) fail("CPF do destinatário '" + cpf + "' inválido: deve ter 11 dígitos");
        element(out, "CPF", cpf);
    } else if (!foreign.empty()) {
        const std::string id = layoutText(foreign, "Identificação do estrangeiro (idEstrangeiro)");
        const std::size_t length = characterCount(id);
        if (length < 5 || length > 20 || id.find(' ') != std::string::npos) {
            fail("Identificação do estrangeiro (idEstrangeiro) '" + id + "' inválida: de 5 a 20 caracteres sem espaços");
        }
        element(out, "idEstrangeiro", id);
    } else {
        return;  // no consumer document: the NFC-e goes without recipient
    }
    if (settings_.tpAmb == 2) {
        element(out, "xNome", kHomologationRecipient);
    } else if (auto name = optionalText(a.xNome, "Nome do destinatário (xNome)", 2, 60)) {
        element(out, "xNome", *name);
    }
    {
        auto street = optionalText(a.xLgr, "Logradouro do destinatário (xLgr)", 2, 60);
        auto number = optionalText(a.nro, "Número do endereço do destinatário (nro)", 1, 60);
        auto complement = optionalText(a.xCpl, "Complemento do destinatário (xCpl)", 1, 60);
        auto district = optionalText(a.xBairro, "Bairro do destinatário (xBairro)", 2, 60);
        auto city = optionalText(a.xMun, "Município do destinatário (xMun)", 2, 60);
        auto country = optionalText(a.xPais, "País do destinatário (xPais)", 2, 60);
        const std::string uf = upperTrimmed(a.uf), cep = trimmed(a.cep), fone = trimmed(a.fone);
        const bool cityCode = a.cMun >= 1000000 && a.cMun <= 9999999;
        if (street && number && district && cityCode && city && isState(uf, true)) {
            out += "<enderDest>";
            element(out, "xLgr", *street);
            element(out, "nro", *number);
            if (complement) element(out, "xCpl", *complement);
            element(out, "xBairro", *district);
            element(out, "cMun", str(a.cMun));
            element(out, "xMun", *city);
            element(out, "UF", uf);
            if (cep.size() == 8 && isDigits(cep)) element(out, "CEP", cep);
            if (a.cPais > 0 && a.cPais <= 9999) element(out, "cPais", str(a.cPais));
            if (country) element(out, "xPais", *country);
            if (digitsBetween(fone, 6, 14)) element(out, "fone", fone);
            out += "</enderDest>";
        }
    }
    const int indIEDest = oneOf(a.indIEDest, {1, 2, 9}, "Indicador de IE do destinatário (indIEDest)");
    element(out, "indIEDest", str(indIEDest));
    if (const std::string ie = trimmed(a.ie); indIEDest == 1 && digitsBetween(ie, 2, 14)) element(out, "IE", ie);
    if (const std::string isuf = trimmed(a.isuf); digitsBetween(isuf, 8, 9)) element(out, "ISUF", isuf);
    if (auto im = optionalText(a.im, "Inscrição municipal do destinatário (IM)", 1, 15)) element(out, "IM", *im);
    if (auto email = optionalText(a.email, "E-mail do destinatário (email)", 1, 60)) element(out, "email", *email);
    out += "</dest>";
    dest_ = std::move(out);
}

void NfceDocument::itemProduct(const ItemProductArgs& a) {
    const std::string item = "do item " + str(a.nItem);
    if (a.nItem < 1 || a.nItem > 990) fail("Número do item (nItem) " + str(a.nItem) + " inválido: de 1 a 990");
    for (const Item& existing : items_) {
        if (existing.nItem == a.nItem) fail("Item " + str(a.nItem) + " já informado");
    }
    Item it;
    it.nItem = a.nItem;
    std::string& p = it.prod;
    p = "<prod>";
    element(p, "cProd", requiredText(a.cProd, "Código do produto (cProd) " + item, 1, 60));
    element(p, "cEAN", gtin(a.cEAN, "GTIN (cEAN) " + item));
    element(p, "xProd", requiredText(a.xProd, "Descrição do produto (xProd) " + item, 1, 120));
    const std::string ncm = trimmed(a.ncm);
    if (!isDigits(ncm) || (ncm.size() != 2 && ncm.size() != 8)) {
        fail("NCM '" + ncm + "' " + item + " inválido: deve ter 8 dígitos");
    }
    element(p, "NCM", ncm);
    if (const std::string nve = trimmed(a.nve); !nve.empty()) {
        const bool valid = nve.size() == 6 && std::isupper(static_cast<unsigned char>(nve[0])) &&
                           std::isupper(static_cast<unsigned char>(nve[1])) && isDigits(nve.substr(2));
        if (!valid) fail("NVE '" + nve + "' " + item + " inválido: duas letras e quatro dígitos");
        element(p, "NVE", nve);
    }
    if (const std::string cest = trimmed(a.cest); !cest.empty()) {
        if (cest.size() != 7 || !isDigits(cest)) fail("CEST '" + cest + "' " + item + " inválido: deve ter 7 dígitos");
        element(p, "CEST", cest);
    }
    const std::string cfop = str(a.cfop);
    if (cfop.size() != 4 || std::string_view("123567").find(cfop[0]) == std::string_view::npos) {
        fail("CFOP " + cfop + " " + item + " inválido");
    }
    element(p, "CFOP", cfop);
    element(p, "uCom", requiredText(a.uCom, "Unidade comercial (uCom) " + item, 1, 6));
    element(p, "qCom", amount(a.qCom, 4, "Quantidade (qCom) " + item, 11));
    element(p, "vUnCom", amount(a.vUnCom, 10, "Valor unitário (vUnCom) " + item, 11));
    element(p, "vProd", amount(a.vProd, 2, "Valor do produto (vProd) " + item));
    element(p, "cEANTrib", gtin(a.cEANTrib, "GTIN tributável (cEANTrib) " + item));
    element(p, "uTrib", requiredText(a.uTrib, "Unidade tributável (uTrib) " + item, 1, 6));
    element(p, "qTrib", amount(a.qTrib, 4, "Quantidade tributável (qTrib) " + item, 11));
    element(p, "vUnTrib", amount(a.vUnTrib, 10, "Valor unitário tributável (vUnTrib) " + item, 11));
    // Optional values: the layout forbids an explicit zero.
    const auto optionalAmount = [&](const char* tag, double value, std::int64_t& cents) {
        // Rounded once: most are zero, and the text of a positive one is its cents.
        if (!std::isfinite(value) || std::fabs(value) >= 1e13) amount(value, 2, std::string(tag) + " " + item);
        cents = roundToUnits(value, 2);
        if (cents < 0 || cents >= kAmountLimitCents) amount(value, 2, std::string(tag) + " " + item);
        if (cents > 0) element(p, tag, money(cents));
    };
    optionalAmount("vFrete", a.vFrete, it.vFrete);
    optionalAmount("vSeg", a.vSeg, it.vSeg);
    optionalAmount("vDesc", a.vDesc, it.vDesc);
    optionalAmount("vOutro", a.vOutro, it.vOutro);
    element(p, "indTot", str(oneOf(a.indTot, {0, 1}, "Indicador de total (indTot) " + item)));
    p += "</prod>";
    it.vProd = roundToUnits(a.vProd, 2);
    it.countsInTotal = a.indTot == 1;
    items_.push_back(std::move(it));
}

NfceDocument::Item& NfceDocument::openItem(const char* group) {
    if (items_.empty() || items_.back().closed) {
        fail(std::string("Grupo ") + group + " sem item aberto: o produto do item deve ser enviado antes");
    }
    return items_.back();
}

void NfceDocument::itemIcms(const ItemIcmsArgs& a) {
    Item& it = openItem("ICMS");
    const std::string item = "do item " + str(it.nItem);
    const std::string orig = trimmed(a.orig);
    if (orig.size() != 1 || orig[0] < '0' || orig[0] > '8') {
        fail("Origem da mercadoria (orig) '" + orig + "' " + item + " inválida: de 0 a 8");
    }
    const std::string csosn = trimmed(a.csosn);
    std::string group;
    std::string tail;
    if (isCstIn(csosn, {"102", "103", "300", "400"})) {
        group = "ICMSSN102";
    } else if (csosn == "500") {
        group = "ICMSSN500";
    } else if (csosn == "101") {
        group = "ICMSSN101";
        tail = "<pCredSN>0.00</pCredSN><vCredICMSSN>0.00</vCredICMSSN>";
    } else {
        fail("CSOSN '" + csosn + "' " + item + " não suportado: use 101, 102, 103, 300, 400 ou 500");
    }
    it.icms = "<ICMS><" + group + "><orig>" + orig + "</orig><CSOSN>" + csosn + "</CSOSN>" + tail + "</" + group +
              "></ICMS>";
}

void NfceDocument::itemOtherTaxes(const ItemOtherTaxesArgs& a) {
    Item& it = openItem("PIS/COFINS");
    const std::string item = "do item " + str(it.nItem);
    std::string pis = socialTax("PIS", a.pisCst, a.pisValues, item);
    std::string cofins = socialTax("COFINS", a.cofinsCst, a.cofinsValues, item);
    // IPI is not part of an NFC-e (the model-65 rules refuse it), whatever CST the caller passes.
    it.pis = std::move(pis);
    it.cofins = std::move(cofins);
}

void NfceDocument::itemClose() {
    Item& it = openItem("de fechamento");
    if (it.icms.empty()) fail("Item " + str(it.nItem) + " sem o grupo ICMS: o ICMS deve ser enviado antes de fechar o item");
    it.closed = true;
}

void NfceDocument::totals(const TotalsArgs& a) {
    Totals t;
    std::string& x = t.xml;
    x = "<ICMSTot>";
    const auto value = [&](const char* tag, double v, const char* what) {
        const std::string text = amount(v, 2, std::string(what) + " (" + tag + ")");
        element(x, tag, text);
        return roundToUnits(v < 0 ? 0.0 : v, 2);
    };
    value("vBC", a.vBC, "Base de cálculo do ICMS");
    value("vICMS", a.vICMS, "Total do ICMS");
    element(x, "vICMSDeson", "0.00");
    element(x, "vFCP", "0.00");
    value("vBCST", a.vBCST, "Base de cálculo do ICMS ST");
    const std::int64_t vST = value("vST", a.vST, "Total do ICMS ST");
    element(x, "vFCPST", "0.00");
    element(x, "vFCPSTRet", "0.00");
    t.vProd = value("vProd", a.vProd, "Total dos produtos");
    t.vFrete = value("vFrete", a.vFrete, "Total do frete");
    t.vSeg = value("vSeg", a.vSeg, "Total do seguro");
    t.vDesc = value("vDesc", a.vDesc, "Total do desconto");
    const std::int64_t vII = value("vII", a.vII, "Total do imposto de importação");
    const std::int64_t vIPI = value("vIPI", a.vIPI, "Total do IPI");
    element(x, "vIPIDevol", "0.00");
    value("vPIS", a.vPIS, "Total do PIS");
    value("vCOFINS", a.vCOFINS, "Total do COFINS");
    t.vOutro = value("vOutro", a.vOutro, "Total de outras despesas");
    t.vNFText = amount(a.vNF, 2, "Valor da nota (vNF)");
    t.vNF = roundToUnits(a.vNF, 2);
    element(x, "vNF", t.vNFText);
    if (roundToUnits(a.vTotTrib, 2) > 0) value("vTotTrib", a.vTotTrib, "Total aproximado dos tributos");
    x += "</ICMSTot>";
    t.extraInNF = vST + t.vFrete + t.vSeg + t.vOutro + vII + vIPI;
    t.present = true;
    totals_ = std::move(t);
}

void NfceDocument::transport(const TransportArgs& a) {
    const int mode = oneOf(a.modFrete, {0, 1, 2, 3, 4, 9}, "Modalidade do frete (modFrete)");
    transp_ = "<transp><modFrete>" + str(mode) + "</modFrete></transp>";
}

void NfceDocument::payment(const PaymentArgs& a) {
    if (payments_.size() == 100) fail("Pagamento: no máximo 100 formas de pagamento (detPag)");
    Payment entry;
    std::string& x = entry.xml;
    x = "<detPag>";
    // indPag is optional; a payment at sight (0) is written without it, as the authority's own
    // examples of cash sales are.
    if (oneOf(a.indPag, {0, 1}, "Indicador da forma de pagamento (indPag)") == 1) element(x, "indPag", "1");
    if (a.tPag < 1 || a.tPag > 98) {
        fail("Meio de pagamento (tPag) " + str(a.tPag) +
             " não suportado: de 01 a 98 (99 exige uma descrição que esta operação não recebe)");
    }
    element(x, "tPag", (a.tPag < 10 ? "0" : "") + str(a.tPag));
    element(x, "vPag", amount(a.vPag, 2, "Valor do pagamento (vPag)"));
    // Card payments carry the card group; 2 = payment not integrated with the automation system.
    if (a.tPag == 3 || a.tPag == 4) x += "<card><tpIntegra>2</tpIntegra></card>";
    x += "</detPag>";
    entry.vPag = roundToUnits(a.vPag, 2);
    payments_.push_back(std::move(entry));
}

void NfceDocument::additionalInformation(std::string_view text) {
    auto info = optionalText(text, "Informações complementares (infCpl)", 1, 5000);
    infAdic_.clear();
    if (info) {
        infAdic_ = "<infAdic>";
        element(infAdic_, "infCpl", *info);
        infAdic_ += "</infAdic>";
    }
}

void NfceDocument::checkComplete() const {
    if (!ide_.present) fail("Documento sem o grupo de identificação (ide)");
    if (emit_.empty()) fail("Documento sem o grupo do emitente (emit)");
    if (items_.empty()) fail("Documento sem itens (det)");
    std::int64_t vProd = 0, vDesc = 0, vFrete = 0, vSeg = 0, vOutro = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        if (it.nItem != static_cast<int>(i + 1)) {
            fail("Item " + str(static_cast<std::int64_t>(i + 1)) + " ausente: o documento passa ao item " +
                 str(it.nItem));
        }
        if (!it.closed) {
            fail("Item " + str(it.nItem) + " incompleto: " + (it.icms.empty() ? "falta o grupo ICMS" : "não foi fechado"));
        }
        if (it.countsInTotal) vProd += it.vProd;
        vDesc += it.vDesc;
        vFrete += it.vFrete;
        vSeg += it.vSeg;
        vOutro += it.vOutro;
    }
    if (!totals_.present) fail("Documento sem os totais (total)");
    if (transp_.empty()) fail("Documento sem o grupo de transporte (transp)");
    if (payments_.empty()) fail("Documento sem pagamento (pag)");
    checkSum(totals_.vProd, vProd, "Total dos produtos (vProd)");
    checkSum(totals_.vDesc, vDesc, "Total do desconto (vDesc)");
    checkSum(totals_.vFrete, vFrete, "Total do frete (vFrete)");
    checkSum(totals_.vSeg, vSeg, "Total do seguro (vSeg)");
    checkSum(totals_.vOutro, vOutro, "Total de outras despesas (vOutro)");
    const std::int64_t expected = totals_.vProd - totals_.vDesc + totals_.extraInNF;
    if (totals_.vNF != expected) {
        fail("Valor da nota (vNF) " + money(totals_.vNF) + " difere do calculado " + money(expected) +
             " (produtos - desconto + ST + frete + seguro + outras + II + IPI)");
    }
    std::int64_t paid = 0;
    for (const Payment& p : payments_) paid += p.vPag;
    if (paid < totals_.vNF) {
        fail("Pagamentos (vPag) somam " + money(paid) + ", menos que o valor da nota " + money(totals_.vNF));
    }
    if (paid - totals_.vNF >= kAmountLimitCents) {
        fail("Troco (vTroco) " + money(paid - totals_.vNF) + " grande demais: os pagamentos excedem o valor da nota");
    }
}

AccessKeyFields NfceDocument::keyFields() const {
    if (!ide_.present) fail("Documento sem o grupo de identificação (ide)");
    if (emit_.empty()) fail("Documento sem o grupo do emitente (emit)");
    AccessKeyFields fields;
    fields.uf = settings_.uf.empty() ? emitUf_ : settings_.uf;
    fields.dhEmi = ide_.dhEmi;
    fields.cnpj = emitCnpj_;
    fields.model = ide_.mod;
    fields.series = ide_.serie;
    fields.number = ide_.nNF;
    fields.emissionType = ide_.tpEmis;
    return fields;
}

std::string NfceDocument::invoiceValueText() const {
    if (!totals_.present) fail("Documento sem os totais (total)");
    return totals_.vNFText;
}

void NfceDocument::writeIde(std::string& out, const std::string& key) const {
    const Ide& i = ide_;
    out += "<ide>";
    element(out, "cUF", key.substr(0, 2));
    element(out, "cNF", key.substr(35, 8));
    element(out, "natOp", i.natOp);
    element(out, "mod", str(i.mod));
    element(out, "serie", str(i.serie));
    element(out, "nNF", str(i.nNF));
    element(out, "dhEmi", i.dhEmi);
    // dhSaiEnt stays out: the model-65 rules do not allow an exit date-time.
    element(out, "tpNF", str(i.tpNF));
    element(out, "idDest", str(i.idDest));
    element(out, "cMunFG", i.cMunFG);
    element(out, "tpImp", str(i.tpImp));
    element(out, "tpEmis", str(i.tpEmis));
    element(out, "cDV", key.substr(43, 1));
    element(out, "tpAmb", str(settings_.tpAmb));
    element(out, "finNFe", str(i.finNFe));
    element(out, "indFinal", str(i.indFinal));
    element(out, "indPres", str(i.indPres));
    if (i.indPres == 2 || i.indPres == 3 || i.indPres == 4 || i.indPres == 9) {
        element(out, "indIntermed", str(i.indIntermed));
    }
    element(out, "procEmi", str(i.procEmi));
    element(out, "verProc", i.verProc);
    if (i.tpEmis != 1) {
        element(out, "dhCont", i.dhCont);
        element(out, "xJust", i.xJust);
    }
    out += "</ide>";
}

std::string NfceDocument::write(const std::string& key, std::string_view supplement) const {
    checkComplete();
    if (!accessKeyValid(key)) fail("Chave de acesso '" + key + "' inválida");
    std::string out;
    out.reserve(2048 + items_.size() * 800 + supplement.size());
    out += "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe";
    out += key;
    out += "\">";
    writeIde(out, key);
    out += emit_;
    out += dest_;
    for (const Item& it : items_) {
        out += "<det nItem=\"" + str(it.nItem) + "\">";
        out += it.prod;
        out += "<imposto>";
        out += it.icms;
        out += it.pis;
        out += it.cofins;
        out += "</imposto></det>";
    }
    out += "<total>" + totals_.xml + "</total>";
    out += transp_;
    out += "<pag>";
    std::int64_t paid = 0;
    for (const Payment& p : payments_) {
        out += p.xml;
        paid += p.vPag;
    }
    if (paid > totals_.vNF) element(out, "vTroco", money(paid - totals_.vNF));
    out += "</pag>";
    out += infAdic_;
    out += "</infNFe>";
    out += supplement;
    out += "</NFe>";
    return out;
}

}  // namespace quorvanti::fiscal
