#include "monitor/operator_panel.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "authorisation/outcome_texts.h"
#include "context/shop_clock.h"
#include "fiscal_events/authorised_nfce.h"
#include "monitor/main_window.h"
#include "monitor/stored_receipt.h"
#include "platform/file_access.h"
#include "platform/folders.h"

namespace quorvanti::monitor {

namespace {

using platform::jsonQuote;

std::string tokenFile(const std::string& programFolder) { return programFolder + "/painel/token"; }
std::string addressFile(const std::string& programFolder) { return programFolder + "/painel/endereco"; }

// The first line of a small file; "" when it cannot be read.
std::string firstLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool wellFormedToken(const std::string& token) {
    return token.size() == 64 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A token that other users could read, or swap for one they know, is no longer a secret.
bool keptPrivate(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    constexpr auto others = fs::perms::group_all | fs::perms::others_all;
    const auto file = fs::symlink_status(path, error);
    if (error || !fs::is_regular_file(file) || (file.permissions() & others) != fs::perms::none) return false;
    const auto folder = fs::status(fs::path(path).parent_path(), error);
    return !error && (folder.permissions() & others) == fs::perms::none;
}

std::string labelJson(const windows::Label& label) {
    return jsonQuote(label.name) + ":{\"caption\":" + jsonQuote(label.caption) +
           ",\"visible\":" + (label.visible ? "true" : "false") + ",\"color\":" + std::to_string(label.foreColor) + "}";
}

std::string checkJson(const windows::CheckBox& box) {
    return jsonQuote(box.name) + ":{\"caption\":" + jsonQuote(box.caption) +
           ",\"checked\":" + (box.checked ? "true" : "false") + "}";
}

std::string noCheck(const std::string&) { return ""; }

// An NFC-e number (up to the layout's 9 digits) or an access key.
bool plausibleLookup(const std::string& query) {
    const bool digits = !query.empty() && query.find_first_not_of("0123456789") == std::string::npos;
    return digits && (query.size() <= 9 || authorisation::isAccessKey(query));
}

// The exit statuses the monitor itself ends with, in the operator's words (as the README's table).
const char* exitMeaning(int status) {
    switch (status) {
        case 0: return "encerrado normalmente";
        case 4: return "configurações obrigatórias ausentes ou fora do domínio: corrija-as no editor de parâmetros";
        case 10: return "CNPJ do emitente inválido";
        case 11: return "UF do emitente inválida";
        case 12: return "código da UF do emitente inválido";
        case 13: return "o banco de dados MySQL/MariaDB não respondeu por 10 minutos, ou caiu durante o início";
        case 14: return "erro na inicialização";
        case 20: return "o programa de vendas pediu contingência: o modo foi gravado";
        case 21: return "config.token vazio";
        case 23: return "a SEFAZ diz que o emitente não está habilitado";
        case 24: return "data e hora de emissão à frente do relógio da SEFAZ";
        case 25: return "ambiente informado diverge do da SEFAZ";
        case 26: return "data e hora de emissão atrasadas";
        case 28: return "o operador escolheu não esperar pela SEFAZ";
        case 70: return "erro em tempo de execução não tratado";
        default: return "veja a tabela de status de saída no README";
    }
}

}  // namespace

PanelToken panelToken(const std::string& programFolder) {
    const std::string path = tokenFile(programFolder);
    if (std::string kept = firstLine(path); wellFormedToken(kept) && keptPrivate(path)) return {std::move(kept), false};
    return {platform::newPanelToken(), true};
}

void keepPanel(const std::string& programFolder, const PanelToken& token, const std::string& address) {
    const std::string path = tokenFile(programFolder);
    if (token.created && !platform::writeSecretFile(path, token.value + "\n"))
        throw std::runtime_error("não foi possível gravar o token do painel em " + path);
    const std::string where = addressFile(programFolder);
    if (firstLine(where) != address && !platform::writeSecretFile(where, address + "\n"))
        throw std::runtime_error("não foi possível gravar o endereço do painel em " + where);
}

std::string panelUrlWithToken(const std::string& address, const std::string& token) {
    return address + "?token=" + token;
}

std::string keptPanelUrl(const std::string& programFolder, std::string& problem) {
    for (const std::string& path : {tokenFile(programFolder), addressFile(programFolder)}) {
        if (std::string reason; !platform::readableFile(path, reason)) {
            problem = path + ": " + reason + " (o painel ainda não foi iniciado nesta pasta, ou rode como o usuário do serviço)";
            return "";
        }
    }
    const std::string token = firstLine(tokenFile(programFolder)), address = firstLine(addressFile(programFolder));
    if (!wellFormedToken(token) || address.empty()) {
        problem = "token ou endereço do painel ilegível em " + programFolder + "/painel: o próximo início faz outro token";
        return "";
    }
    return panelUrlWithToken(address, token);
}

std::string cancelCommandProblem(const std::string& argument) {
    const std::string key = argument.substr(0, 44);
    if (!authorisation::isAccessKey(key) || argument.size() < 45 || argument[44] != ' ')
        return "chave de acesso inválida: são 44 dígitos, seguidos da justificativa";
    if (const std::string problem = fiscal_events::reasonProblem(argument.substr(45)); !problem.empty())
        return "cancelamento não enviado: " + problem;
    return "";
}

std::string endedJson(int status, const std::string& at) {
    return "{\"status\":" + std::to_string(status) + ",\"meaning\":" + jsonQuote(exitMeaning(status)) +
           ",\"at\":" + jsonQuote(at) + "}";
}

std::string mainWindowJson(const windows::frmEmitirNFCe& w) {
    std::string labels;
    for (const windows::Label* label : {&w.Label1, &w.Label2, &w.Label3, &w.Label4, &w.Label5, &w.Label6, &w.Label7,
                                        &w.Label8, &w.Label9, &w.Label10, &w.Label11, &w.Label12, &w.Label13,
                                        &w.Label14, &w.Label15, &w.Label17, &w.MethodLabel})
        labels += (labels.empty() ? "" : ",") + labelJson(*label);
    return "{\"labels\":{" + labels + "},\"checks\":{" + checkJson(w.Check1) + "," + checkJson(w.Check2) +
           "},\"buttons\":{\"Command1\":" + jsonQuote(w.Command1.caption) +
           "},\"tray\":{\"added\":" + (w.tray.added ? "true" : "false") + ",\"tip\":" + jsonQuote(w.tray.szTip) +
           "},\"visible\":" + (w.visible ? "true" : "false") +
           ",\"closeRequested\":" + (w.CloseRequested ? "true" : "false") + "}";
}

OperatorPanel::OperatorPanel(context::AppContext& ctx, platform::WebFrontend& web, std::string certificateFolder)
    : ctx_(ctx), web_(web), dashboard_(ctx, std::move(certificateFolder)) {
    const auto plain = [this](void (*handler)(context::AppContext&)) {
        return platform::PanelCommand{noCheck, [this, handler](const std::string&) {
                                          handler(ctx_);
                                          publishWindow();
                                      }};
    };
    web.addCommand("Check1", plain(Check1_Click));
    web.addCommand("Check2", plain(Check2_Click));
    web.addCommand("Image3", plain(Image3_Click));
    web.addCommand("Form_Click", plain(Form_Click));
    web.addCommand("Form_DblClick", plain(Form_DblClick));
    web.addCommand("Label9_DblClick", plain(Form_DblClick));
    web.addCommand("Command1", plain(Command1_Click));
    web.addCommand("tray", {[](const std::string& message) {
                                return message == "515" || message == "517" ? "" : "mensagem da bandeja inválida";
                            },
                            [this](const std::string& message) {
                                trayMouseMessage(ctx_, std::stoi(message));
                                publishWindow();
                            }});
    web.addCommand("requeue", {[](const std::string& sale) {
                                   return plausibleSaleCode(sale) ? std::string()
                                                                  : "código de venda inválido: use dígitos-terminal, "
                                                                    "como 1001-01";
                               },
                               [this](const std::string& sale) {
                                   web_.notice(dashboard_.requestRequeue(sale));
                                   publishDashboard();
                               }});
    web.addCommand("reprint", {[](const std::string& key) {
                                   return authorisation::isAccessKey(key) ? "" : "chave de acesso inválida: são 44 dígitos";
                               },
                               [this](const std::string& key) {
                                   web_.notice(dashboard_.requestReprint(key));
                                   publishDashboard();
                               }});
    web.addCommand("cancel", {cancelCommandProblem, [this](const std::string& argument) {
                                  web_.notice(dashboard_.requestCancel(argument.substr(0, 44), argument.substr(45)));
                                  publishDashboard();
                              }});
    web.addCommand("lookup", {[](const std::string& query) {
                                  return query.empty() || plausibleLookup(query)
                                             ? ""
                                             : "informe o número da NFC-e ou a chave de acesso (44 dígitos)";
                              },
                              [this](const std::string& query) {
                                  dashboard_.lookUp(query);
                                  publishDashboard();
                              }});
    web.addCommand("refresh", {noCheck, [this](const std::string&) {
                                   dashboard_.refreshFiscal();
                                   publishWindow();
                                   publishDashboard();
                               }});
    // A sale pumps few loop passes: captions and visibility changes carry the window's state at once.
    web.onRepaint([this] { publishWindow(); });
    ctx.services.loop.attach(windowTimer_, [this] { publishWindow(); });
    // The dashboard reads the log and the database: only for a page that follows it (the first time
    // for the snapshot a page opens with), or for a request that waits for the end of a batch.
    ctx.services.loop.attach(dashboardTimer_, [this] {
        if (!dashboardPublished_ || web_.watched() || dashboard_.hasPending()) publishDashboard();
    });
}

void OperatorPanel::publishWindow() {
    web_.publish("main", mainWindowJson(ctx_.mainWindow));
    web_.publishPicture(ctx_.mainWindow.ImgNFCE.name, ctx_.mainWindow.ImgNFCE.fileBytes);
    // The protocol XML is kilobytes that change once a sale: fetched by the page when its version
    // changes, instead of riding along every event.
    web_.publishPicture(kProtocolXml, ctx_.mainWindow.rtfb);
    web_.settle();
}

void OperatorPanel::publishDashboard() {
    web_.publish("dashboard", dashboard_.gather());
    dashboardPublished_ = true;
    web_.settle();
    // A request done at this gathering (a cancellation's answer, a reprint) is told once, as a notice.
    if (dashboard_.lastNote() != noticed_) {
        noticed_ = dashboard_.lastNote();
        web_.notice(noticed_);
    }
}

void OperatorPanel::ended(int status) {
    std::string at;
    try {
        at = context::brazilianDateTimeText(context::shopNow(ctx_));
    } catch (const std::exception&) {
    }
    if (status != 0) web_.markEnding();
    web_.publish("ended", endedJson(status, at));
    web_.settle(true);
    web_.flush(kEndedFlush);
}

}  // namespace quorvanti::monitor
