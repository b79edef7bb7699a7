#include "sefaz_simulator/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "fiscal_component/document/access_key.h"

namespace quorvanti::sefaz {

namespace {

int integer(const std::string& text, const std::string& option, int min, int max) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw UsageError(option + ": número inválido \"" + text + "\"");
    return value;
}

}  // namespace

const char* usageText() {
    return "uso: quorvanti-sefaz --listen HOST:PORTA --state PASTA [opções]\n"
           "  --listen HOST:PORTA        endereço de escuta (PORTA 0: uma porta livre)\n"
           "  --state PASTA              documentos autorizados, eventos, inutilizações, recibos e sequências\n"
           "  --tls CERT CHAVE           HTTPS com este certificado e chave (PEM); exige --client-ca\n"
           "  --client-ca CA             autoridades (PEM) dos certificados de cliente aceitos\n"
           "  --scenario ARQUIVO         regras de comportamento (relido quando muda)\n"
           "  --trust CA                 autoridades (PEM) dos signatários; sem ela, qualquer certificado\n"
           "  --schemas PASTA            pacote oficial de schemas; sem ela, o schema próprio do componente\n"
           "  --uf UF                    UF atendida (padrão MT)\n"
           "  --environment 1|2          1 produção, 2 homologação (padrão 2)\n"
           "  --plain-texts              textos padrão sem acentos (Rejeicao: ...)\n"
           "  --clock-tolerance MINUTOS  tolerância de dhEmi ante o relógio (703, 704; padrão 5; off: não verifica)\n"
           "  --cancel-window MINUTOS    prazo do cancelamento após a autorização (501 depois; padrão 30)\n"
           "  --late-cancel              cancelamento fora do prazo concedido (155 em vez de 501)\n"
           "  --csc ID:CSC               confere o hash do QR Code dos documentos desse identificador (464)\n"
           "  --quiet                    sem uma linha por requisição na saída de erros\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        const auto value = [&](int count = 1) -> const std::string& {
            if (i + count >= arguments.size()) throw UsageError(option + " precisa de " + std::to_string(count) + " valor(es)");
            i += count;
            return arguments[i];
        };
        if (option == "--listen") {
            const std::string& address = value();
            const auto colon = address.rfind(':');
            if (colon == std::string::npos || colon == 0) throw UsageError("--listen espera HOST:PORTA, recebeu \"" + address + "\"");
            line.host = address.substr(0, colon);
            line.port = integer(address.substr(colon + 1), "--listen", 0, 65535);
        } else if (option == "--state") {
            line.stateFolder = value();
        } else if (option == "--tls") {
            line.tlsCertificate = value();
            line.tlsKey = value();
        } else if (option == "--client-ca") {
            line.clientCa = value();
        } else if (option == "--scenario") {
            line.scenarioFile = value();
        } else if (option == "--trust") {
            line.trustedAuthorities = value();
        } else if (option == "--schemas") {
            line.schemaFolder = value();
        } else if (option == "--uf") {
            line.uf = value();
            std::transform(line.uf.begin(), line.uf.end(), line.uf.begin(), [](unsigned char c) { return std::toupper(c); });
            if (fiscal::ufCode(line.uf).empty()) throw UsageError("--uf: UF desconhecida \"" + line.uf + "\"");
        } else if (option == "--environment") {
            line.environment = integer(value(), option, 1, 2);
        } else if (option == "--plain-texts") {
            line.plainTexts = true;
        } else if (option == "--clock-tolerance") {
            const std::string& minutes = value();
            line.clockToleranceMinutes = minutes == "off" ? -1 : integer(minutes, option, 0, 100000);
        } else if (option == "--cancel-window") {
            line.cancelWindowMinutes = integer(value(), option, 0, 100000);
        } else if (option == "--late-cancel") {
            line.lateCancel = true;
        } else if (option == "--csc") {
            const std::string& given = value();
            const auto colon = given.find(':');
            const std::string id = given.substr(0, colon);
            if (colon == std::string::npos || colon + 1 == given.size() || id.empty() ||
                id.find_first_not_of("0123456789") != std::string::npos)
                throw UsageError("--csc: informe IDENTIFICADOR:CSC, como 000001:0123456789ABCDEF");
            const auto digit = id.find_first_not_of('0');
            line.cscs[digit == std::string::npos ? "0" : id.substr(digit)] = given.substr(colon + 1);
        } else if (option == "--quiet") {
            line.quiet = true;
        } else if (option == "--help" || option == "-h") {
            line.help = true;
            return line;
        } else {
            throw UsageError("opção desconhecida: " + option);
        }
    }
    if (line.port < 0) throw UsageError("falta --listen HOST:PORTA");
    if (line.stateFolder.empty()) throw UsageError("falta --state PASTA");
    if (!line.tlsCertificate.empty() && line.clientCa.empty())
        throw UsageError("--tls exige --client-ca: o serviço verifica o certificado do cliente");
    if (line.tlsCertificate.empty() && !line.clientCa.empty()) throw UsageError("--client-ca só vale com --tls");
    return line;
}

}  // namespace quorvanti::sefaz
