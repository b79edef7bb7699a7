#include "startup/command_line.h"

namespace quorvanti::startup {

const char* usageText() {
    return "uso: quorvanti [--app-dir PASTA] [--frontend headless] [--once] [--desktop-dir PASTA]\n"
           "                [--registry ARQUIVO] [--cert-dir PASTA] [--answer-yes-no yes|no]\n"
           "                [--reprint CHAVE]\n"
           "  --app-dir        pasta do programa (ConfigINI.ini, nfe/, NFCe.ini); padrão: a do executável\n"
           "  --frontend       headless: mensagens e legendas na saída de erro (padrão)\n"
           "  --once           termina após a primeira consulta da fila que não encontra trabalho\n"
           "  --desktop-dir    pasta do LOG_NFCE.txt; padrão: $XDG_DESKTOP_DIR ou ~/Desktop\n"
           "  --registry       arquivo do registro do usuário; padrão: ~/.config/quorvanti/registry.ini\n"
           "  --cert-dir       pasta de certificados; padrão: <pasta do programa>/certificados\n"
           "  --answer-yes-no  resposta às perguntas Sim/Não sem operador; padrão: yes\n"
           "  --reprint        imprime de novo o DANFE NFC-e gravado com esta chave de acesso e termina\n";
}

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
            if (line.frontend != "headless") {
                error = "frontend desconhecido: " + line.frontend + " (disponível: headless)";
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
        } else {
            error = "argumento desconhecido: " + arg;
            return std::nullopt;
        }
    }
    return line;
}

}  // namespace quorvanti::startup
