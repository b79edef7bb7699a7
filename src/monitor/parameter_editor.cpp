#include "monitor/parameter_editor.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "context/program_files.h"
#include "monitor/setting_domains.h"

namespace quorvanti::monitor {

namespace {

constexpr int kEnvironment = 0, kCsc = 1, kSerial = 2, kIdToken = 3;

int boxIndex(const std::string& control) {
    for (int i = 0; i < 4; ++i) {
        if (control == "tx(" + std::to_string(i) + ")" || control == windows::frm_ini::kKeys[static_cast<std::size_t>(i)])
            return i;
    }
    throw std::invalid_argument("frm_ini has no text box " + control);
}

}  // namespace

std::string retorna_tag(const std::string& programFolder, const std::string& openingTag, const std::string& closingTag) {
    std::ifstream in(context::withTrailingSlash(programFolder) + "configuracao.xml", std::ios::binary);
    if (!in) return "";
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    const auto open = text.find(openingTag);
    if (open == std::string::npos) return "";
    const auto start = open + openingTag.size();
    const auto end = text.find(closingTag, start);
    if (end == std::string::npos) return "";
    return text.substr(start, end - start);
}

void ParameterEditor::load() {
    closed_ = false;
    for (std::size_t i = 0; i < 4; ++i) model_.tx[i].text = context::readGeral(ctx_, windows::frm_ini::kKeys[i]);
    const auto& folder = ctx_.locations.programFolder;
    if (model_.tx[kEnvironment].text.empty()) model_.tx[kEnvironment].text = "1";
    if (model_.tx[kCsc].text.empty()) model_.tx[kCsc].text = retorna_tag(folder, "<CSC>", "</CSC>");
    if (model_.tx[kSerial].text.empty()) model_.tx[kSerial].text = retorna_tag(folder, "<Serial>", "</Serial>");
    if (model_.tx[kIdToken].text.empty()) model_.tx[kIdToken].text = retorna_tag(folder, "<cIdToken>", "</cIdToken>");
}

void ParameterEditor::typeText(const std::string& control, const std::string& text) {
    const int box = boxIndex(control);
    // The CSC box shows asterisks: a frontend that hands them back must not replace the code with them.
    if (box == kCsc && !text.empty() && text.find_first_not_of('*') == std::string::npos) return;
    model_.tx[static_cast<std::size_t>(box)].text = text;
}

void ParameterEditor::click(const std::string& control) {
    if (control != "Command1") throw std::invalid_argument("frm_ini has no button " + control);
    Command1_Click();
}

void ParameterEditor::keyPress(const std::string&, int keyAscii) {
    if (keyAscii == 27) closed_ = true;
}

std::vector<std::pair<std::string, std::string>> ParameterEditor::controls() const {
    const windows::Label* labels[] = {&model_.Label2, &model_.Label3, &model_.Label4, &model_.Label5};
    std::vector<std::pair<std::string, std::string>> out{{model_.Label1.name, model_.Label1.caption}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& value = model_.tx[i].text;
        out.emplace_back(labels[i]->name, labels[i]->caption);
        out.emplace_back(windows::frm_ini::kKeys[i],
                         i == kCsc && !value.empty() ? std::string(value.size(), '*') : value);
    }
    out.emplace_back(model_.Command1.name, model_.Command1.caption);
    return out;
}

void ParameterEditor::answerUnattended(const std::function<void(const std::string&)>& say) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (!context::readGeral(ctx_, windows::frm_ini::kKeys[i]).empty()) continue;
        const char* key = windows::frm_ini::kKeys[i];
        say(std::string("configuração obrigatória ausente: \"") + key + "\" da seção [Geral] de " +
            ctx_.settings.SettingsPath);
    }
    for (const std::string& problem : settingsOutsideDomain(ctx_)) say(problem);
    say("Grave as chaves com a linha " + std::string("\"chave=valor\"") + " na seção [Geral] de " +
        ctx_.settings.SettingsPath + " (ambienteNFCE: 1 produção ou 2 homologação; CSC e IDtoken: " +
        "o código de segurança do contribuinte e seu identificador, dados pela SEFAZ; CertificadoSerie: " +
        "o número de série do certificado na pasta de certificados) e inicie o monitor novamente.");
    keyPress("", 27);
}

void ParameterEditor::Command1_Click() {
    // What start-up would refuse (an empty box: each of the four is required; a value outside its domain)
    // is not saved: saved, it would end the next start. The operator corrects it in the open editor.
    const windows::Label* labels[] = {&model_.Label2, &model_.Label3, &model_.Label4, &model_.Label5};
    for (std::size_t i = 0; i < 4; ++i) {
        std::string problem = settingDomainProblem(windows::frm_ini::kKeys[i], model_.tx[i].text);
        if (model_.tx[i].text.find_first_not_of(" \t") == std::string::npos)
            problem = "Preencha \"" + std::string(windows::frm_ini::kKeys[i]) + "\" (" + labels[i]->caption +
                      "): o monitor não inicia sem ele. Nada foi gravado.";
        if (problem.empty()) continue;
        ctx_.frontend().messageBox(problem, platform::MessageStyle::Ok);
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) context::writeGeral(ctx_, windows::frm_ini::kKeys[i], model_.tx[i].text);
    ctx_.frontend().messageBox("Gravado", platform::MessageStyle::Ok);
    closed_ = true;
}

}  // namespace quorvanti::monitor
