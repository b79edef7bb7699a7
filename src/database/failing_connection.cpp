#include "database/failing_connection.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "database/db_error.h"

namespace quorvanti::database {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool containsIgnoringCase(std::string_view text, std::string_view fragment) {
    auto it = std::search(text.begin(), text.end(), fragment.begin(), fragment.end(),
                          [](char a, char b) { return lower(a) == lower(b); });
    return it != text.end() || fragment.empty();
}

}  // namespace

FailingConnection::FailingConnection(DbConnection& inner) : inner_(inner) {}

FailingConnection::FailingConnection(std::unique_ptr<DbConnection> inner)
    : owned_(std::move(inner)), inner_(*owned_) {}

void FailingConnection::failOnStatement(std::size_t n, std::string message) {
    if (n == 0) throw std::invalid_argument("statements are counted from 1");
    rules_.push_back(Rule{n, n, "", std::move(message)});
}

void FailingConnection::failFromStatement(std::size_t n, std::string message) {
    if (n == 0) throw std::invalid_argument("statements are counted from 1");
    rules_.push_back(Rule{n, std::numeric_limits<std::size_t>::max(), "", std::move(message)});
}

void FailingConnection::failOnText(std::string fragment, std::string message) {
    rules_.push_back(Rule{0, 0, std::move(fragment), std::move(message)});
}

void FailingConnection::clearFailures() { rules_.clear(); }

std::size_t FailingConnection::countContaining(std::string_view fragment) const {
    return static_cast<std::size_t>(std::count_if(statements_.begin(), statements_.end(), [&](const std::string& s) {
        return containsIgnoringCase(s, fragment);
    }));
}

DbKind FailingConnection::kind() const { return inner_.kind(); }

void FailingConnection::see(const std::string& sql) {
    statements_.push_back(sql);
    const std::size_t number = statements_.size();
    for (const Rule& rule : rules_) {
        const bool numberMatches = rule.from == 0 || (number >= rule.from && number <= rule.to);
        const bool textMatches = rule.fragment.empty() || containsIgnoringCase(sql, rule.fragment);
        if (numberMatches && textMatches) throw DbError(rule.message);
    }
}

void FailingConnection::execute(const std::string& sql) {
    see(sql);
    inner_.execute(sql);
}

Recordset FailingConnection::open(const std::string& sql) {
    see(sql);
    return inner_.open(sql);
}

}  // namespace quorvanti::database
