#include "sefaz_simulator/messages/status_texts.h"

#include <map>

namespace quorvanti::sefaz {

std::string standardText(int cStat) {
    // The texts of the authority's published table; the bracketed references follow the form the
    // authorities write ("[chNFe: ...]", "[nRec:...]"). 880 to 891 are this stand-in's own codes, for
    // rules whose published code was not at hand (the README lists them).
    static const std::map<int, std::string> kTexts = {
        {100, "Autorizado o uso da NF-e"},
        {101, "Cancelamento de NF-e homologado"},
        {102, "Inutilização de número homologado"},
        {103, "Lote recebido com sucesso"},
        {104, "Lote processado"},
        {105, "Lote em processamento"},
        {106, "Lote não localizado"},
        {107, "Serviço em Operação"},
        {108, "Serviço Paralisado Momentaneamente (curto prazo)"},
        {109, "Serviço Paralisado sem Previsão"},
        {110, "Uso Denegado"},
        {128, "Lote de Evento Processado"},
        {135, "Evento registrado e vinculado a NF-e"},
        {136, "Evento registrado, mas não vinculado a NF-e"},
        {150, "Autorizado o uso da NF-e, autorização concedida fora de prazo"},
        {151, "Cancelamento de NF-e homologado fora de prazo"},
        {155, "Cancelamento homologado fora de prazo"},
        {204, "Rejeição: Duplicidade de NF-e [nRec:{nRec}]"},
        {205, "Rejeição: NF-e está denegada na base de dados da SEFAZ"},
        {206, "Rejeição: NF-e já está inutilizada na Base de dados da SEFAZ"},
        {207, "Rejeição: CNPJ do emitente inválido"},
        {213, "Rejeição: CNPJ-Base do Emitente difere do CNPJ-Base do Certificado Digital"},
        {217, "Rejeição: NF-e não consta na base de dados da SEFAZ"},
        {222, "Rejeição: Protocolo de Autorização de Uso difere do cadastrado"},
        {225, "Rejeição: Falha no Schema XML"},
        {226, "Rejeição: Código da UF do Emitente diverge da UF autorizadora"},
        {236, "Rejeição: Chave de Acesso com dígito verificador inválido"},
        {241, "Rejeição: Um número da faixa já foi utilizado"},
        {250, "Rejeição: UF diverge da UF autorizadora"},
        {252, "Rejeição: Ambiente informado diverge do Ambiente de recebimento"},
        {253, "Rejeição: Digito Verificador da chave de acesso composta inválida"},
        {256, "Rejeição: Uma NF-e da faixa já está inutilizada na Base de dados da SEFAZ"},
        {289, "Rejeição: Código da UF informada diverge da UF solicitada"},
        {290, "Rejeição: Certificado Assinatura inválido"},
        {291, "Rejeição: Certificado Assinatura Data Validade"},
        {293, "Rejeição: Certificado Assinatura - erro Cadeia de Certificação"},
        {297, "Rejeição: Assinatura difere do calculado"},
        {298, "Rejeição: Assinatura difere do padrão do Sistema"},
        {301, "Uso Denegado: Irregularidade fiscal do emitente"},
        {373, "Rejeição: Descricao do primeiro item diferente de NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL"},
        {394, "Rejeição: Nota Fiscal sem a informação do QR-Code"},
        {397, "Rejeição: Parâmetro do QR-Code divergente da Nota Fiscal"},
        {452, "Rejeição: Solicitada resposta síncrona para Lote com mais de uma NF-e (indSinc=1)"},
        {453, "Rejeição: Ano de inutilização não pode ser superior ao Ano atual"},
        {464, "Rejeição: Código de Hash no QR-Code difere do calculado"},
        {489, "Rejeição: CNPJ informado inválido (DV ou zeros)"},
        {501, "Rejeição: Prazo de cancelamento superior ao previsto na Legislação"},
        {502, "Rejeição: Erro na Chave de Acesso - Campo Id não corresponde à concatenação dos campos correspondentes"},
        {531, "Rejeição: Total da BC ICMS difere do somatório dos itens"},
        {532, "Rejeição: Total do ICMS difere do somatório dos itens"},
        {533, "Rejeição: Total da BC ICMS-ST difere do somatório dos itens"},
        {534, "Rejeição: Total do ICMS-ST difere do somatório dos itens"},
        {535, "Rejeição: Total do Frete difere do somatório dos itens"},
        {536, "Rejeição: Total do Seguro difere do somatório dos itens"},
        {537, "Rejeição: Total do Desconto difere do somatório dos itens"},
        {538, "Rejeição: Total do IPI difere do somatório dos itens"},
        {539, "Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso [chNFe: {chNFe}][nRec:{nRec}]"},
        {562, "Rejeição: Código numérico informado na Chave de Acesso difere do Código Numérico da NF-e [chNFe: {chNFe}]"},
        {563, "Rejeição: Já existe pedido de Inutilização com a mesma faixa de inutilização"},
        {564, "Rejeição: Total do Produto / Serviço difere do somatório dos itens"},
        {572, "Rejeição: Erro Atributo ID do evento não corresponde a concatenação dos campos (\"ID\" + tpEvento + chNFe + nSeqEvento)"},
        {573, "Rejeição: Duplicidade de Evento"},
        {574, "Rejeição: O autor do evento diverge do emissor da NF-e"},
        {577, "Rejeição: A data do evento não pode ser menor que a data de emissão da NF-e"},
        {578, "Rejeição: A data do evento não pode ser maior que a data do processamento"},
        {598, "Rejeição: NF-e emitida em ambiente de homologação com Razão Social do destinatário diferente de NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL"},
        {601, "Rejeição: Total do II difere do somatório dos itens"},
        {604, "Rejeição: Total do vOutro difere do somatório dos itens"},
        {610, "Rejeição: Total da NF difere do somatório dos Valores compõe o valor Total da NF."},
        {613, "Rejeição: Chave de Acesso difere da existente em BD"},
        {703, "Rejeição: Data-Hora de Emissão posterior ao horário de recebimento"},
        {704, "Rejeição: NFC-e com Data-Hora de emissão atrasada"},
        {865, "Rejeição: Total dos pagamentos menor que o total da nota"},
        {866, "Rejeição: Ausência de troco quando o valor dos pagamentos informados for maior que o total da nota"},
        {869, "Rejeição: Valor do troco incorreto"},
        {880, "Rejeição: Valor do Desconto do item maior que o Valor do Produto"},
        {881, "Rejeição: Cancelamento por substituição de NFC-e que não foi emitida normalmente (tpEmis 1)"},
        {882, "Rejeição: NFC-e substituta não consta como autorizada para o emitente na base de dados da SEFAZ"},
        {883, "Rejeição: NFC-e substituta não foi emitida em contingência off-line (tpEmis 9)"},
        {884, "Rejeição: NFC-e substituta não foi emitida até duas horas após a NFC-e cancelada"},
        {885, "Rejeição: Destinatário da NFC-e substituta difere do da NFC-e cancelada"},
        {886, "Rejeição: Valor total da NFC-e substituta difere do da NFC-e cancelada"},
        {887, "Rejeição: Valor total do ICMS da NFC-e substituta difere do da NFC-e cancelada"},
        {888, "Rejeição: Primeiro item da NFC-e substituta difere do da NFC-e cancelada"},
        {889, "Rejeição: Sequencial do evento de cancelamento deve ser 1"},
        {890, "Rejeição: Número inicial da faixa maior que o número final"},
        {891, "Rejeição: Faixa de inutilização com mais de 10.000 números"},
        {892, "Rejeição: NFC-e fora das regras do modelo 65"},
        {999, "Rejeição: Erro não catalogado"},
    };
    const auto found = kTexts.find(cStat);
    return found != kTexts.end() ? found->second : std::string();
}

std::string fillReferences(std::string text, std::string_view key, std::string_view receipt) {
    const auto replaceAll = [&](std::string_view from, std::string_view to) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    };
    replaceAll("{chNFe}", key);
    replaceAll("{nRec}", receipt);
    return text;
}

std::string withoutAccents(std::string_view text) {
    // Latin-1 letters as UTF-8 pairs (0xC3 followed by the low byte), mapped to their base letters.
    static const std::map<unsigned char, char> kPlain = {
        {0x80, 'A'}, {0x81, 'A'}, {0x82, 'A'}, {0x83, 'A'}, {0x84, 'A'}, {0x87, 'C'}, {0x88, 'E'}, {0x89, 'E'},
        {0x8A, 'E'}, {0x8B, 'E'}, {0x8C, 'I'}, {0x8D, 'I'}, {0x8E, 'I'}, {0x8F, 'I'}, {0x91, 'N'}, {0x92, 'O'},
        {0x93, 'O'}, {0x94, 'O'}, {0x95, 'O'}, {0x96, 'O'}, {0x99, 'U'}, {0x9A, 'U'}, {0x9B, 'U'}, {0x9C, 'U'},
        {0xA0, 'a'}, {0xA1, 'a'}, {0xA2, 'a'}, {0xA3, 'a'}, {0xA4, 'a'}, {0xA7, 'c'}, {0xA8, 'e'}, {0xA9, 'e'},
        {0xAA, 'e'}, {0xAB, 'e'}, {0xAC, 'i'}, {0xAD, 'i'}, {0xAE, 'i'}, {0xAF, 'i'}, {0xB1, 'n'}, {0xB2, 'o'},
        {0xB3, 'o'}, {0xB4, 'o'}, {0xB5, 'o'}, {0xB6, 'o'}, {0xB9, 'u'}, {0xBA, 'u'}, {0xBB, 'u'}, {0xBC, 'u'},
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3 && i + 1 < text.size()) {
            const auto found = kPlain.find(static_cast<unsigned char>(text[i + 1]));
            if (found != kPlain.end()) {
                out += found->second;
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string reasonText(std::string_view text) {
    std::string out;
    std::size_t characters = 0;
    bool pendingBlank = false;
    for (std::size_t i = 0; i < text.size() && characters < 255;) {
        const auto c = static_cast<unsigned char>(text[i]);
        // Decode one UTF-8 character; anything malformed counts as one unusable byte.
        std::size_t length = 1;
        unsigned codePoint = c;
        if (c >= 0xC0 && c < 0xE0) length = 2, codePoint = c & 0x1F;
        else if (c >= 0xE0 && c < 0xF0) length = 3, codePoint = c & 0x0F;
        else if (c >= 0xF0 && c < 0xF8) length = 4, codePoint = c & 0x07;
        else if (c >= 0x80) length = 1, codePoint = 0xFFFD;
        if (i + length > text.size()) length = 1, codePoint = 0xFFFD;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                length = 1;
                codePoint = 0xFFFD;
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const std::string_view character = text.substr(i, length);
        i += length;
        if (codePoint == ' ' || codePoint == '\t' || codePoint == '\n' || codePoint == '\r') {
            pendingBlank = !out.empty();
            continue;
        }
        if (pendingBlank) {
            if (characters + 2 > 255) break;
            out += ' ';
            ++characters;
            pendingBlank = false;
        }
        if (codePoint >= 0x20 && codePoint <= 0xFF && (codePoint < 0x7F || codePoint >= 0xA0)) out += character;
        else out += '?';
        ++characters;
    }
    return out.empty() ? "-" : out;
}

}  // namespace quorvanti::sefaz
