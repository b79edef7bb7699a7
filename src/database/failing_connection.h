// A connection for tests: it forwards every statement to a real connection, records each statement
// text it is given (so tests can assert the SQL a procedure ran), and raises DbError instead of
// forwarding on chosen statements, so a test can make the Nth statement, or one containing a given
// text, fail, or lose the connection from some point on.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/db_connection.h"

namespace quorvanti::database {

class FailingConnection final : public DbConnection {
public:
    // Forwards to `inner`, which must outlive this object.
    explicit FailingConnection(DbConnection& inner);
    // Forwards to `inner` and owns it.
    explicit FailingConnection(std::unique_ptr<DbConnection> inner);
    FailingConnection(const FailingConnection&) = delete;
    FailingConnection& operator=(const FailingConnection&) = delete;

    // Statement `n` (1-based, counting every execute and open since construction) fails.
    void failOnStatement(std::size_t n, std::string message = kDefaultMessage);
    // Statement `n` and every later one fail, as after a lost connection.
    void failFromStatement(std::size_t n, std::string message = kDefaultMessage);
    // Every statement containing `fragment` (compared without regard to case) fails.
    void failOnText(std::string fragment, std::string message = kDefaultMessage);
    // Forget every failure rule; the statements seen are kept.
    void clearFailures();

    // Every statement text seen, in order, failed ones included.
    const std::vector<std::string>& statements() const { return statements_; }
    // How many statements seen contain `fragment` (without regard to case).
    std::size_t countContaining(std::string_view fragment) const;

    DbKind kind() const override;
    void execute(const std::string& sql) override;
    Recordset open(const std::string& sql) override;

    static constexpr const char* kDefaultMessage = "Falha simulada do banco de dados";

private:
    struct Rule {
        std::size_t from = 0, to = 0;  // statement numbers, inclusive; 0 = any
        std::string fragment;          // empty = any text
        std::string message;
    };
    // Records the statement and raises when a rule matches it.
    void see(const std::string& sql);

    std::unique_ptr<DbConnection> owned_;
    DbConnection& inner_;
    std::vector<Rule> rules_;
    std::vector<std::string> statements_;
};

}  // namespace quorvanti::database
