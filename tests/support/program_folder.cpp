#include "support/program_folder.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/ini_file.h"

namespace quorvanti::testing {

ProgramFolder::ProgramFolder(database::DbKind kind)
    : programFolder_(root_.file("app")), desktop_(root_.file("desktop")), database_(kind) {
    std::filesystem::create_directories(programFolder_);
    std::filesystem::create_directories(desktop_);
    setSetting("NTerminal", "1");
    setSetting("ambienteNFCE", "2");
    setSetting("CSC", "0123456789ABCDEF0123456789ABCDEF");
    setSetting("CertificadoSerie", "1A2B3C");
    setSetting("IDtoken", "000001");
    setSetting("TipoConexao_BD", database_.kindSetting());
    // The shop's receipts go to a file, so that emissions print without a printer.
    setSetting("PathImpressoraNFCE", "EPSON");
    setSetting("PortaBematech", "file:" + programFolder_ + "/receipts.bin");
    if (kind == database::DbKind::MariaDb) {
        const auto& p = database_.mariaDb();
        setSetting("host", p.socket, "Conexao");
        setSetting("base", p.database, "Conexao");
        setSetting("usuarioD", p.user, "Conexao");
        setSetting("Senha", p.password, "Conexao");
    } else {
        setSetting("Caminho", database_.sqlitePath());
    }
    execute("INSERT INTO DatEmit (CNPJ, UF, codmunicipio, CODUF, nomeJS, RazaoSocial, Endereco, numero, bairro, "
            "Municipio, cep, Telefone, IE) VALUES ('11.222.333/0001-81', 'mt', '5103403', '51', 'Loja Teste', "
            "'Quorvanti Loja Teste Ltda', 'Rua São João', '123', 'Centro', 'Cuiabá', '78000-000', "
            "'(65) 3333-4444', '13.123.456-7')");
    execute("INSERT INTO config (NumeroNFCE, token, ValAproxTrib, Serv_ImpresNFCE) VALUES (1, '1', 0, 0)");
}

void ProgramFolder::setSetting(const std::string& key, const std::string& value, const std::string& section) {
    platform::iniWrite(settingsPath(), section, key, value);
}

std::string ProgramFolder::setting(const std::string& key, const std::string& section) const {
    return platform::iniRead(settingsPath(), section, key);
}

void ProgramFolder::removeSetting(const std::string& key) {
    const std::string text = readFile(settingsPath());
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) continue;
        kept += line + "\n";
    }
    writeFile(settingsPath(), kept);
}

void ProgramFolder::execute(const std::string& sql) const { database_.connect()->execute(sql); }

std::string ProgramFolder::value(const std::string& sql, const std::string& column) const {
    const auto rows = connect()->open(sql);
    return rows.recordCount() == 0 ? "<none>" : rows.field(column).text();
}

std::string sqlQuoted(const std::optional<std::string>& text) {
    if (!text) return "NULL";
    std::string out = "'";
    for (char c : *text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

void ProgramFolder::addItem(const SaleItemRow& row) const {
    const auto number = [](const std::optional<double>& value) { return value ? std::to_string(*value) : "NULL"; };
    execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, "
            "ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES (" + sqlQuoted(row.sale) + ", '2026-03-05', " +
            sqlQuoted(row.client) + ", " + std::to_string(row.code) + ", " + sqlQuoted(row.description) + ", " +
            number(row.quantity) + ", 0, " + number(row.total) + ", " + number(row.discount) + ", " +
            sqlQuoted(row.unit) + ")");
}

void ProgramFolder::addProduct(int code, const std::optional<std::string>& cfop,
                               const std::optional<std::string>& ncm) const {
    execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES (" + std::to_string(code) +
            ", 'PRODUTO', " + sqlQuoted(cfop) + ", '102', " + sqlQuoted(ncm) + ")");
}

void ProgramFolder::queueSale(const std::string& sale) const {
    execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES (" + sqlQuoted(sale) +
            ", 'enviar', '2026-03-05', '<NFe/>')");
}

bool ProgramFolder::queued(const std::string& sale) const {
    return connect()->open("select * from TabNCEAEnviar where codvenda = " + sqlQuoted(sale)).recordCount() > 0;
}

std::optional<ExitStatus> exitStatusOf(const std::function<void()>& run) {
    try {
        run();
        return std::nullopt;
    } catch (const ProgramExit& exit) {
        return exit.status;
    }
}

TestMonitor::TestMonitor(const ProgramFolder& folder, fiscal::ComponentFactory& components)
    : registry(folder.registryFile()),
      ctx(context::Services{clock, frontend, loop, registry, shell, components},
          context::Locations{.programFolder = folder.path(), .desktopFolder = folder.desktop(), .devSettingsPath = ""}) {}

std::vector<std::string> TestMonitor::messageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : frontend.messages()) out.push_back(m.text);
    return out;
}

bool TestMonitor::shown(const std::string& text) const {
    const auto texts = messageTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool TestMonitor::shownContaining(const std::string& part) const {
    for (const auto& m : frontend.messages())
        if (m.text.find(part) != std::string::npos) return true;
    return false;
}

bool TestMonitor::captioned(const std::string& caption, const std::string& label) const {
    const auto captions = frontend.captionsOf(label);
    return std::find(captions.begin(), captions.end(), caption) != captions.end();
}

}  // namespace quorvanti::testing
