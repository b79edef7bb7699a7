#include "support/test_databases.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "database/db_error.h"
#include "database/sqlite_connection.h"

namespace quorvanti::testing {

namespace {

std::string schemaText(const std::string& fileName) {
    const std::string path = std::string(QUORVANTI_SOURCE_DIR) + "/db/" + fileName;
    if (!std::filesystem::exists(path)) throw std::runtime_error("schema file missing: " + path);
    return readFile(path);
}

// The schema files hold plain statements separated by ";", with "--" comment lines and no ";" inside
// a literal.
std::vector<std::string> splitStatements(const std::string& script) {
    std::string code;
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line.compare(first, 2, "--") != 0) code += line + '\n';
    }
    std::vector<std::string> statements;
    std::istringstream parts(code);
    for (std::string statement; std::getline(parts, statement, ';');)
        if (statement.find_first_not_of(" \t\r\n") != std::string::npos) statements.push_back(statement);
    return statements;
}

std::string freshDatabaseName() {
    std::random_device seed;
    std::mt19937_64 generator((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
    static const char kHex[] = "0123456789abcdef";
    std::string name = "qt_";
    for (int i = 0; i < 16; ++i) name += kHex[generator() % 16];
    return name;
}

// Drops a database that createMariaDbDatabase made; errors are ignored.
void dropMariaDbDatabase(const database::MariaDbParameters& parameters) {
    try {
        database::MariaDbParameters server = parameters;
        server.database.clear();
        database::MariaDbConnection connection(server);
        connection.execute("DROP DATABASE IF EXISTS " + parameters.database);
    } catch (const database::DbError&) {
    }
}

// Creates a database with a fresh name (qt_<random>) on the private server and loads
// db/mariadb-schema.sql into it; answers the parameters that reach it.
database::MariaDbParameters createMariaDbDatabase() {
    database::MariaDbParameters parameters = mariaDbServerParameters();
    parameters.database = freshDatabaseName();
    {
        database::MariaDbConnection server(mariaDbServerParameters());
        server.execute("CREATE DATABASE " + parameters.database + " CHARACTER SET utf8mb4");
    }
    try {
        database::MariaDbConnection db(parameters);
        for (const std::string& statement : splitStatements(schemaText("mariadb-schema.sql"))) {
            db.execute(statement);
        }
    } catch (...) {
        dropMariaDbDatabase(parameters);
        throw;
    }
    return parameters;
}

}  // namespace

const char* const kMariaDbSkipMessage =
    "QUORVANTI_TEST_MYSQL_SOCKET is not set: start a server with scripts/mariadb-test-server.sh start DIR "
    "and export the socket path it prints to run the MariaDB tests";

std::string createSqliteDatabase(const std::string& folder, const std::string& fileName) {
    const std::string path = folder + "/" + fileName;
    if (std::filesystem::exists(path)) throw std::runtime_error("database file exists already: " + path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot create " + path + ": " + message);
    }
    char* error = nullptr;
    // One transaction: one sync of the file instead of one per table.
    const std::string schema = "BEGIN;\n" + schemaText("sqlite-schema.sql") + "\nCOMMIT;\n";
    if (sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        sqlite3_close(db);
        throw std::runtime_error("cannot load the SQLite schema into " + path + ": " + message);
    }
    sqlite3_close(db);
    return path;
}

std::string mariaDbTestSocket() {
    const char* socket = std::getenv("QUORVANTI_TEST_MYSQL_SOCKET");
    return socket ? socket : "";
}

database::MariaDbParameters mariaDbServerParameters() {
    database::MariaDbParameters parameters;
    parameters.socket = mariaDbTestSocket();
    if (parameters.socket.empty()) throw std::runtime_error(kMariaDbSkipMessage);
    // The user that scripts/mariadb-test-server.sh creates.
    parameters.user = "quorvanti";
    parameters.password = "quorvanti-test";
    parameters.connectTimeoutSeconds = 10;
    parameters.commandTimeoutSeconds = 60;
    return parameters;
}

ScratchDatabase::ScratchDatabase(database::DbKind kind) : kind_(kind) {
    if (kind == database::DbKind::Sqlite) {
        folder_ = std::make_unique<TempDir>();
        sqlitePath_ = createSqliteDatabase(folder_->path());
    } else {
        mariaDb_ = createMariaDbDatabase();
    }
}

ScratchDatabase::~ScratchDatabase() {
    if (kind_ == database::DbKind::MariaDb) dropMariaDbDatabase(mariaDb_);
}

std::unique_ptr<database::DbConnection> ScratchDatabase::connect() const {
    if (kind_ == database::DbKind::Sqlite) return std::make_unique<database::SqliteConnection>(sqlitePath_);
    return std::make_unique<database::MariaDbConnection>(mariaDb_);
}

std::string ScratchDatabase::kindSetting() const { return kind_ == database::DbKind::MariaDb ? "mysql" : "access"; }

std::string backendName(const ::testing::TestParamInfo<database::DbKind>& info) {
    return info.param == database::DbKind::MariaDb ? "MariaDb" : "Sqlite";
}

}  // namespace quorvanti::testing

namespace quorvanti::database {

void PrintTo(DbKind kind, std::ostream* out) { *out << (kind == DbKind::MariaDb ? "MariaDb" : "Sqlite"); }

}  // namespace quorvanti::database
