// The world of a group procedure test: a program folder with its database (SQLite or MariaDB), a
// monitor context with the run settings the groups read and the emitter record as start-up reads it,
// the recording component the emission routine would hand to the groups, and helpers to seed the
// point-of-sale tables and read back what was sent.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "authorisation/emission_routine.h"
#include "database/date_literal.h"
#include "fiscal_component/recording_component.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::testing {

// One row of Clientes; an empty optional is written as NULL.
struct ClientRow {
    int number = 77;
    std::optional<std::string> name = "Maria da Silva";
    std::optional<std::string> street = "Rua das Flores";
    std::optional<std::string> houseNumber = "45";
    std::optional<std::string> district = "Jardim";
    std::optional<std::string> city = "Várzea Grande";
    std::optional<std::string> state = "mt";
    std::optional<std::string> postalCode = "78110000";
    std::optional<std::string> phone = "(65) 3333-4444";
    std::optional<std::string> municipalityCode = "5108402";
};

class GroupWorld {
public:
    explicit GroupWorld(database::DbKind kind)
        : folder(kind), monitor(folder, components), ctx(monitor.ctx), component(components.createComponent()) {
        ctx.db = folder.connect();
        startup::readEmitter(ctx);
        auto& s = ctx.settings;
        s.DocModel = "65";
        s.Series = "1";
        s.TimeZone = "-04:00";
        s.ContingencyReason = "Sistema WEB inoperante apresentando lentidao";
        s.SettingsPath = folder.settingsPath();
        ctx.emission.SaleCode = "000123-01";
        ctx.emission.NfceNumber = "42";
    }

    ProgramFolder folder;
    fiscal::RecordingComponentFactory components;
    TestMonitor monitor;
    context::AppContext& ctx;
    // The emission routine's instance (instance 1 of the factory).
    std::unique_ptr<fiscal::FiscalComponent> component;

    // The argument records of every call of `operation`, in order.
    template <class Args>
    std::vector<Args> sent(const std::string& operation) {
        std::vector<Args> out;
        for (const auto& call : components.state().callsOf(operation)) out.push_back(std::get<Args>(call.args));
        return out;
    }
    const std::vector<platform::ScriptedFrontend::ShownMessage>& messages() const { return monitor.frontend.messages(); }

    // Seeding (sale items, products and the queue through `folder`).
    void addClient(const ClientRow& c) {
        std::string values = std::to_string(c.number);
        for (const auto* text : {&c.name, &c.street, &c.houseNumber, &c.district, &c.city, &c.state, &c.postalCode,
                                 &c.phone, &c.municipalityCode})
            values += ", " + sqlQuoted(*text);
        folder.execute("INSERT INTO Clientes (Numero, Nome, Endereco, NumE, bairro, Cidade, UF, cep, Telefone, CodMun) "
                       "VALUES (" + values + ")");
    }
    // Opens the sale's item rows and summary row (of the day every seeded item carries) with the emission
    // routine's own queries, and sets SaleItemCount, as the routine does before the groups.
    void openItemRows(const std::string& sale) {
        ctx.emission.ItemRows = ctx.db->open(authorisation::saleItemsSql(ctx.db->kind(), sale, saleDay()));
        ctx.emission.SaleItemCount = static_cast<int>(ctx.emission.ItemRows->recordCount());
    }
    void openSaleHeader(const std::string& sale) {
        ctx.emission.SaleHeader = ctx.db->open(authorisation::saleHeaderSql(ctx.db->kind(), sale, saleDay()));
    }
    std::string saleDay() const {
        const auto kind = ctx.db->kind();
        return database::dateLiteral("05/03/2026", database::dateQuote(kind), database::dateFormat(kind));
    }
};

// Fixture of the suites that run on both backends.
class BackendTest : public ::testing::TestWithParam<database::DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        world = std::make_unique<GroupWorld>(GetParam());
    }
    std::unique_ptr<GroupWorld> world;
};

}  // namespace quorvanti::testing
