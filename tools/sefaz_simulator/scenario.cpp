#include "sefaz_simulator/scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace quorvanti::sefaz {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    while (true) {
        text = trim(text);
        if (text.empty()) return found;
        std::size_t end = 0;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        found.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
}

[[noreturn]] void fail(int line, const std::string& message) {
    throw ScenarioError("linha " + std::to_string(line) + ": " + message);
}

long number(std::string_view text, int line, const char* what, long min, long max) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        fail(line, std::string(what) + " inválido: \"" + std::string(text) + "\" (de " + std::to_string(min) + " a " +
                       std::to_string(max) + ")");
    return value;
}

// The full names and the short Portuguese and English ones, in any case.
std::optional<Service> serviceNamed(std::string_view name) {
    const std::string word = lower(name);
    for (const Service service : kAllServices) {
        if (word == lower(serviceName(service))) return service;
    }
    if (word == "autorizacao" || word == "send" || word == "envio") return Service::Authorisation;
    if (word == "retautorizacao" || word == "recibo" || word == "receipt") return Service::ReceiptConsultation;
    if (word == "consulta" || word == "consult") return Service::ProtocolConsultation;
    if (word == "status") return Service::ServiceStatus;
    if (word == "evento" || word == "event") return Service::EventReception;
    if (word == "inutilizacao" || word == "voiding") return Service::NumberVoiding;
    return std::nullopt;
}

Service requireService(std::string_view name, int line) {
    const auto service = serviceNamed(name);
    if (!service)
        fail(line, "serviço desconhecido \"" + std::string(name) +
                       "\" (NFeAutorizacao4, NFeRetAutorizacao4, NFeConsultaProtocolo4, NFeStatusServico4, "
                       "NFeRecepcaoEvento4, NFeInutilizacao4)");
    return *service;
}

ScenarioRule sectionRule(std::string_view header, int line) {
    const std::vector<std::string_view> parts = words(header);
    ScenarioRule rule;
    rule.line = line;
    const std::string kind = parts.empty() ? "" : lower(parts[0]);
    if (kind == "call" || kind == "chamada") {
        if (parts.size() != 3) fail(line, "use [call SERVIÇO N], com N, N-M, N+ ou *");
        rule.kind = ScenarioRule::Kind::Call;
        rule.service = requireService(parts[1], line);
        const std::string_view calls = parts[2];
        if (calls == "*") {
            rule.firstCall = 1;
            rule.lastCall = -1;
        } else if (calls.back() == '+') {
            rule.firstCall = number(calls.substr(0, calls.size() - 1), line, "número de chamada", 1, 1000000000);
            rule.lastCall = -1;
        } else if (const auto dash = calls.find('-'); dash != std::string_view::npos) {
            rule.firstCall = number(calls.substr(0, dash), line, "número de chamada", 1, 1000000000);
            rule.lastCall = number(calls.substr(dash + 1), line, "número de chamada", rule.firstCall, 1000000000);
        } else {
            rule.firstCall = rule.lastCall = number(calls, line, "número de chamada", 1, 1000000000);
        }
        return rule;
    }
    if (kind == "key" || kind == "chave") {
        if (parts.size() != 2 && parts.size() != 3) fail(line, "use [key CHAVE] ou [key CHAVE SERVIÇO]");
        rule.kind = ScenarioRule::Kind::Key;
        rule.key = std::string(parts[1]);
        if (rule.key.size() != 44 ||
            !std::all_of(rule.key.begin(), rule.key.end(), [](unsigned char c) { return std::isdigit(c); }))
            fail(line, "a chave de acesso deve ter 44 dígitos: " + rule.key);
        if (parts.size() == 3) {
            rule.service = requireService(parts[2], line);
            if (*rule.service == Service::ServiceStatus) fail(line, "a consulta de status não traz chave de acesso");
            if (*rule.service == Service::NumberVoiding) fail(line, "a inutilização não traz chave de acesso");
        }
        return rule;
    }
    fail(line, "seção desconhecida [" + std::string(header) + "] (use [call ...] ou [key ...])");
}

ForcedStatus forcedStatus(std::string_view value, int line) {
    value = trim(value);
    std::size_t end = 0;
    while (end < value.size() && !std::isspace(static_cast<unsigned char>(value[end]))) ++end;
    ForcedStatus status;
    status.cStat = static_cast<int>(number(value.substr(0, end), line, "cStat", 100, 999));
    status.xMotivo = std::string(trim(value.substr(end)));
    return status;
}

void applySetting(ScenarioRule& rule, std::string_view name, std::string_view value, bool hasValue, int line) {
    ScenarioAction& action = rule.action;
    const std::string setting = lower(name);
    const auto requireValue = [&] {
        if (!hasValue || value.empty()) fail(line, "\"" + setting + "\" precisa de um valor (" + setting + " = ...)");
    };
    if (setting == "status") {
        requireValue();
        action.status = forcedStatus(value, line);
    } else if (setting == "protocol" || setting == "protocolo") {
        requireValue();
        action.protocol = forcedStatus(value, line);
    } else if (setting == "processing" || setting == "processamento") {
        requireValue();
        action.status = ForcedStatus{105, ""};
        rule.times = number(value, line, "número de vezes", 1, 1000000000);
    } else if (setting == "times" || setting == "vezes") {
        requireValue();
        rule.times = number(value, line, "número de vezes", 1, 1000000000);
    } else if (setting == "delay" || setting == "atraso") {
        requireValue();
        action.delayMs = static_cast<int>(number(value, line, "atraso em milissegundos", 0, 600000));
    } else if (setting == "drop" || setting == "derrubar") {
        const std::string when = lower(value);
        if (!hasValue || when == "before" || when == "antes") action.drop = Drop::BeforeProcessing;
        else if (when == "after" || when == "depois") action.drop = Drop::AfterProcessing;
        else fail(line, "drop aceita before ou after");
    } else if (setting == "http") {
        requireValue();
        action.httpStatus = static_cast<int>(number(value, line, "status HTTP", 300, 599));
    } else {
        fail(line, "instrução desconhecida \"" + std::string(name) +
                       "\" (status, protocol, processing, times, delay, drop, http)");
    }
}

void checkRule(const ScenarioRule& rule, const std::set<std::string>& settings, int headerLine) {
    const ScenarioAction& action = rule.action;
    if (settings.empty()) fail(headerLine, "seção sem instruções");
    if (action.httpStatus != 0 && action.drop != Drop::No) fail(headerLine, "http e drop não combinam");
    const bool forced = action.status.has_value() || action.protocol.has_value();
    if (forced && (action.httpStatus != 0 || action.drop == Drop::BeforeProcessing))
        fail(headerLine, "status ou protocol não têm efeito com http ou drop antes do processamento");
    if (settings.count("processing") + settings.count("processamento") > 0 &&
        settings.count("status") + settings.count("times") + settings.count("vezes") > 0)
        fail(headerLine, "processing já define status e times");
    if (action.protocol && rule.service == Service::ServiceStatus)
        fail(headerLine, "a consulta de status não tem protocolo");
}

}  // namespace

Scenario Scenario::parse(std::string_view text) {
    Scenario scenario;
    std::optional<ScenarioRule> open;
    std::set<std::string> settings;
    const auto close = [&] {
        if (!open) return;
        checkRule(*open, settings, open->line);
        scenario.rules_.push_back(std::move(*open));
        open.reset();
        settings.clear();
    };
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') fail(lineNumber, "seção sem \"]\"");
            close();
            open = sectionRule(trim(line.substr(1, line.size() - 2)), lineNumber);
            continue;
        }
        if (!open) fail(lineNumber, "instrução fora de seção: " + std::string(line));
        const std::size_t equals = line.find('=');
        const std::string_view name = trim(line.substr(0, equals));
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : trim(line.substr(equals + 1));
        if (!settings.insert(lower(name)).second) fail(lineNumber, "instrução repetida na seção: " + std::string(name));
        applySetting(*open, name, value, equals != std::string_view::npos, lineNumber);
    }
    close();
    scenario.uses_.assign(scenario.rules_.size(), 0);
    return scenario;
}

ScenarioDecision Scenario::decide(Service service, const std::vector<std::string>& keys) {
    ScenarioDecision decision;
    decision.callNumber = ++calls_[static_cast<int>(service)];
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const ScenarioRule& rule = rules_[i];
        if (rule.times > 0 && uses_[i] >= rule.times) continue;
        bool matches = false;
        if (rule.kind == ScenarioRule::Kind::Call) {
            matches = rule.service == service && decision.callNumber >= rule.firstCall &&
                      (rule.lastCall < 0 || decision.callNumber <= rule.lastCall);
        } else {
            matches = (!rule.service || rule.service == service) &&
                      std::find(keys.begin(), keys.end(), rule.key) != keys.end();
        }
        if (!matches) continue;
        ++uses_[i];
        decision.action = rule.action;
        decision.key = rule.key;
        decision.line = rule.line;
        return decision;
    }
    return decision;
}

bool ScenarioFile::Version::operator==(const Version& other) const {
    return exists == other.exists && inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && content == other.content;
}

ScenarioFile::ScenarioFile(std::string path) : path_(std::move(path)) {
    load(current());
    if (!error_.empty()) throw ScenarioError(error_);
}

ScenarioFile::Version ScenarioFile::current() const {
    Version version;
    struct stat info {};
    if (path_.empty() || ::stat(path_.c_str(), &info) != 0) return version;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return version;
    std::ostringstream content;
    content << in.rdbuf();
    version.exists = true;
    version.inode = info.st_ino;
    version.modified = info.st_mtim;
    version.content = content.str();
    return version;
}

void ScenarioFile::load(Version version) {
    loaded_ = std::move(version);
    error_.clear();
    scenario_ = Scenario();
    if (!loaded_.exists) return;
    try {
        scenario_ = Scenario::parse(loaded_.content);
    } catch (const ScenarioError& error) {
        error_ = "cenário " + path_ + ", " + error.what();
    }
}

ScenarioDecision ScenarioFile::decide(Service service, const std::vector<std::string>& keys) {
    Version now = current();
    reloaded_ = !(now == loaded_);
    if (reloaded_) load(std::move(now));
    if (!error_.empty()) throw ScenarioError(error_);
    return scenario_.decide(service, keys);
}

}  // namespace quorvanti::sefaz
