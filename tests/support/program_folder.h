// A program folder for one test: settings file, database (SQLite file or a MariaDB database on the
// private test server), desktop and registry store, all under a temporary folder; and a monitor context
// on it with a virtual clock, a scripted frontend and a recording shell.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "context/app_context.h"
#include "database/db_connection.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "platform/clock.h"
#include "platform/program_exit.h"
#include "platform/registry_store.h"
#include "platform/shell.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/scripted_frontend.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::testing {

// One row of VendasConclu, sold on 05/03/2026; an empty optional is written as NULL.
struct SaleItemRow {
    std::string sale = "000123-01";
    int code = 1;
    std::optional<std::string> description = "PRODUTO";
    std::optional<double> quantity = 1;
    std::optional<double> total = 10;  // ValorTotalItem: net of the discount
    std::optional<double> discount = 0;
    std::optional<std::string> unit = "UN";
    std::string client = "";
};

// `text` as an SQL literal, NULL when empty.
std::string sqlQuoted(const std::optional<std::string>& text);

class ProgramFolder {
public:
    // Creates the folders, the database and a settings file with every required setting, the database
    // kind and its connection, and one emitter and one config row.
    explicit ProgramFolder(database::DbKind kind);

    const std::string& path() const { return programFolder_; }
    const std::string& desktop() const { return desktop_; }
    std::string registryFile() const { return root_.file("registry.ini"); }
    std::string settingsPath() const { return programFolder_ + "/ConfigINI.ini"; }
    std::string logPath() const { return desktop_ + "/LOG_NFCE.txt"; }
    database::DbKind kind() const { return database_.kind(); }

    void setSetting(const std::string& key, const std::string& value, const std::string& section = "Geral");
    std::string setting(const std::string& key, const std::string& section = "Geral") const;
    // Removes a key from the settings file (the file is rewritten without that line).
    void removeSetting(const std::string& key);

    std::unique_ptr<database::DbConnection> connect() const { return database_.connect(); }
    // Runs statements on a connection of its own (seeding and assertions).
    void execute(const std::string& sql) const;
    // One column of the first row of `sql` as text; "<none>" without rows.
    std::string value(const std::string& sql, const std::string& column) const;

    // Seeding the point-of-sale tables: a sale's item, a catalogue row, the sale queued on 05/03/2026.
    void addItem(const SaleItemRow& row) const;
    void addProduct(int code, const std::optional<std::string>& cfop, const std::optional<std::string>& ncm) const;
    void queueSale(const std::string& sale) const;
    bool queued(const std::string& sale) const;

private:
    TempDir root_;
    std::string programFolder_;
    std::string desktop_;
    ScratchDatabase database_;
};

// The services and the context of one monitor run on a program folder.
class TestMonitor {
public:
    TestMonitor(const ProgramFolder& folder, fiscal::ComponentFactory& components);

    platform::VirtualClock clock;
    platform::ScriptedFrontend frontend;
    platform::EventLoop loop{clock};
    platform::RegistryStore registry;
    platform::RecordingShell shell;
    context::AppContext ctx;

    // Texts of the message boxes shown, in order.
    std::vector<std::string> messageTexts() const;
    // Whether a message box showed `text` (or one containing it), and whether `label` ever showed `caption`.
    bool shown(const std::string& text) const;
    bool shownContaining(const std::string& part) const;
    bool captioned(const std::string& caption, const std::string& label = "Label1") const;
};

// Runs `run` and answers the status of the ProgramExit it raised; empty when it returned.
std::optional<ExitStatus> exitStatusOf(const std::function<void()>& run);

}  // namespace quorvanti::testing
