#include "startup/command_line.h"

#include <algorithm>

#include "platform/ui/web_frontend.h"

namespace quorvanti::startup {

const char* usageText() {
    return "uso: quorvanti [--app-dir PASTA] [--frontend headless|web] [--once] [--desktop-dir PASTA]\n"
           "                [--registry ARQUIVO] [--cert-dir PASTA] [--answer-yes-no yes|no]\n"
           "                [--listen ENDEREÇO:PORTA] [--tls CERTIFICADO CHAVE] [--panel-name NOME[,NOME...]]\n"
           "                [--reprint CHAVE] [--panel-url] [--check-sefaz]\n"
           "                [--cancel CHAVE --reason TEXTO] [--void DE ATE --reason TEXTO] [--gaps]\n"
           "  --app-dir        pasta do programa (ConfigINI.ini, nfe/, NFCe.ini); padrão: a do executável\n"
           "  --frontend       headless: mensagens e legendas na saída de erro (padrão);\n"
           "                   web: painel do operador numa página local (o endereço sai no diário)\n"
           "  --listen         onde o painel escuta; padrão: 127.0.0.1 numa porta livre\n"
           "  --tls            certificado e chave do painel (HTTPS); obrigatório fora do loopback\n"
           "  --panel-name     outros nomes ou endereços pelos quais o painel é aberto (repetível ou separados\n"
           "                   por vírgula); com --tls o primeiro vai no endereço; padrão: o nome da máquina\n"
           "  --once           termina após a primeira consulta da fila que não encontra trabalho\n"
           "  --desktop-dir    pasta do LOG_NFCE.txt; padrão: $XDG_DESKTOP_DIR ou ~/Desktop\n"
           "  --registry       arquivo do registro do usuário; padrão: ~/.config/quorvanti/registry.ini\n"
           "  --cert-dir       pasta de certificados; padrão: <pasta do programa>/certificados\n"
           "  --answer-yes-no  resposta às perguntas Sim/Não sem operador; padrão: yes\n"
           "  --reprint        imprime de novo o DANFE NFC-e gravado com esta chave de acesso e termina\n"
           "  --panel-url      mostra o endereço do painel com o token guardado em <pasta>/painel e termina\n"
           "  --check-sefaz    testa a conexão com cada serviço da SEFAZ configurado (uma linha por serviço)\n"
           "                   e termina\n"
           "  --cancel         cancela a NFC-e autorizada desta chave (com --reason, 15 a 255 caracteres)\n"
           "  --void           inutiliza os números DE a ATE da série configurada (com --reason)\n"
           "  --gaps           lista os números sem NFC-e autorizada nem inutilização e termina\n";
}

namespace {

// "HOST:PORT" or "[IPv6]:PORT"; the port 0 to 65535.
bool parseListen(const std::string& where, CommandLine& line, std::string& error) {
    const auto colon = where.rfind(':');
    std::string host = colon == std::string::npos ? "" : where.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : where.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535) {
        error = "--listen espera ENDEREÇO:PORTA, como 127.0.0.1:8080: " + where;
        return false;
    }
    line.listenHost = host;
    line.listenPort = std::stoi(port);
    return true;
}

}  // namespace

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string& error) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "falta o valor de " + arg;
                return false;
            }
            into = args[++i];
            return true;
        };
        if (arg == "--once") {
            line.once = true;
        } else if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--app-dir") {
            if (!value(line.appDir)) return std::nullopt;
        } else if (arg == "--frontend") {
            if (!value(line.frontend)) return std::nullopt;
            if (line.frontend != "headless" && line.frontend != "web") {
                error = "frontend desconhecido: " + line.frontend + " (disponíveis: headless, web)";
                return std::nullopt;
            }
        } else if (arg == "--desktop-dir") {
            if (!value(line.desktopDir)) return std::nullopt;
        } else if (arg == "--registry") {
            if (!value(line.registryFile)) return std::nullopt;
        } else if (arg == "--cert-dir") {
            if (!value(line.certificateDir)) return std::nullopt;
        } else if (arg == "--reprint") {
            if (!value(line.reprintKey)) return std::nullopt;
        } else if (arg == "--answer-yes-no") {
            std::string answer;
            if (!value(answer)) return std::nullopt;
            if (answer != "yes" && answer != "no") {
                error = "--answer-yes-no aceita yes ou no";
                return std::nullopt;
            }
            line.answerYes = answer == "yes";
        } else if (arg == "--listen") {
            std::string where;
            if (!value(where)) return std::nullopt;
            if (!parseListen(where, line, error)) return std::nullopt;
        } else if (arg == "--panel-name") {
            std::string names;
            if (!value(names)) return std::nullopt;
            for (std::size_t start = 0; start <= names.size();) {
                const std::size_t comma = std::min(names.find(',', start), names.size());
                const std::string name = names.substr(start, comma - start);
                if (!platform::isPanelName(name)) {
                    error = "--panel-name espera nomes ou endereços separados por vírgula, como caixa.loja,192.168.0.10: " +
                            names;
                    return std::nullopt;
                }
                line.panelNames.push_back(name);
                start = comma + 1;
            }
        } else if (arg == "--panel-url") {
            line.panelUrl = true;
        } else if (arg == "--check-sefaz") {
            line.checkSefaz = true;
        } else if (arg == "--cancel") {
            if (!value(line.cancelKey)) return std::nullopt;
        } else if (arg == "--reason") {
            if (!value(line.reason)) return std::nullopt;
        } else if (arg == "--void") {
            std::string from, to;
            if (!value(from) || !value(to)) return std::nullopt;
            const auto number = [](const std::string& text) {
                return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos
                           ? std::stoll(text)
                           : -1LL;
            };
            line.voidFrom = number(from);
            line.voidTo = number(to);
            if (line.voidFrom < 1 || line.voidTo < 1) {
                error = "--void espera dois números de NFC-e, de 1 a 999999999: " + from + " " + to;
                return std::nullopt;
            }
        } else if (arg == "--gaps") {
            line.gaps = true;
        } else if (arg == "--tls") {
            if (!value(line.tlsCertificate) || !value(line.tlsKey)) return std::nullopt;
        } else {
            error = "argumento desconhecido: " + arg;
            return std::nullopt;
        }
    }
    if ((line.listenPort != 0 || line.listenHost != "127.0.0.1" || !line.tlsCertificate.empty() ||
         !line.panelNames.empty()) &&
        line.frontend != "web") {
        error = "--listen, --tls e --panel-name valem só com --frontend web";
        return std::nullopt;
    }
    if (line.tlsCertificate.empty() && !platform::isLoopbackHost(line.listenHost)) {
        error = "o painel só escuta fora do loopback (" + line.listenHost + ") com --tls CERTIFICADO CHAVE";
        return std::nullopt;
    }
    const int commands = line.panelUrl + !line.reprintKey.empty() + line.checkSefaz + !line.cancelKey.empty() +
                         (line.voidFrom != 0) + line.gaps;
    if (commands > 1) {
        error = "--panel-url, --reprint, --check-sefaz, --cancel, --void e --gaps não vão juntos";
        return std::nullopt;
    }
    if ((!line.cancelKey.empty() || line.voidFrom != 0) && line.reason.empty()) {
        error = "--cancel e --void pedem a justificativa em --reason \"TEXTO\" (15 a 255 caracteres)";
        return std::nullopt;
    }
    if (!line.reason.empty() && line.cancelKey.empty() && line.voidFrom == 0) {
        error = "--reason vale só com --cancel ou --void";
        return std::nullopt;
    }
    return line;
}

}  // namespace quorvanti::startup
