#include "database/sqlite_connection.h"

#include <sqlite3.h>

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "database/date_literal.h"
#include "database/db_error.h"

namespace quorvanti::database {

namespace {

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// isnull(x): 1 when x is NULL, else 0, as Access and MySQL define it.
void isNullFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    sqlite3_result_int(context, sqlite3_value_type(arguments[0]) == SQLITE_NULL ? 1 : 0);
}

enum class DeclaredType { Other, Date, DateTime };

DeclaredType declaredType(const char* declared) {
    if (declared == nullptr) return DeclaredType::Other;
    std::string upper;
    for (const char* p = declared; *p; ++p) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    if (upper == "DATE") return DeclaredType::Date;
    if (upper == "DATETIME" || upper == "TIMESTAMP") return DeclaredType::DateTime;
    return DeclaredType::Other;
}

// Reads `count` digits at `pos`; -1 when they are not all digits.
int digitsAt(const std::string& text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "yyyy-mm-dd" at the start of the text, a calendar date.
std::optional<DbDate> isoDate(const std::string& text) {
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    return readDate(text.substr(0, 10));
}

DbValue dateValue(const std::string& text) {
    auto date = isoDate(text);
    if (!date || text.size() != 10) return DbValue(text);
    return DbValue(*date);
}

// "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or with a "T" between; fractions of a second are dropped.
DbValue dateTimeValue(const std::string& text) {
    auto date = isoDate(text);
    if (!date) return DbValue(text);
    if (text.size() == 10) return DbValue(DbDateTime{*date, 0, 0, 0});
    if (text.size() < 19 || (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
        return DbValue(text);
    }
    DbDateTime value{*date, digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2)};
    if (value.hour < 0 || value.hour > 23 || value.minute < 0 || value.minute > 59 || value.second < 0 ||
        value.second > 59 || (text.size() > 19 && text[19] != '.')) {
        return DbValue(text);
    }
    return DbValue(value);
}

DbValue columnValue(sqlite3_stmt* statement, int column, DeclaredType declared) {
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_NULL:
            return DbValue();
        case SQLITE_INTEGER:
            return DbValue(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
        case SQLITE_FLOAT:
            return DbValue(sqlite3_column_double(statement, column));
        case SQLITE_BLOB: {
            const void* bytes = sqlite3_column_blob(statement, column);
            const int size = sqlite3_column_bytes(statement, column);
            return DbValue(bytes ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                                 : std::string());
        }
        default: {
            const unsigned char* chars = sqlite3_column_text(statement, column);
            const int size = sqlite3_column_bytes(statement, column);
            std::string text(chars ? reinterpret_cast<const char*>(chars) : "", static_cast<std::size_t>(size));
            if (declared == DeclaredType::Date) return dateValue(text);
            if (declared == DeclaredType::DateTime) return dateTimeValue(text);
            return DbValue(std::move(text));
        }
    }
}

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// SQLite reads the bare word ISNULL as its postfix operator ("x ISNULL"), so a call "isnull(x)" does
// not parse. Outside literals and comments, the word followed by "(" is sent as the quoted name
// "isnull", which calls the registered function; everything else reaches SQLite unchanged.
std::string withCallableIsNull(const std::string& sql) {
    std::string lowered;
    for (char c : sql) lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lowered.find("isnull") == std::string::npos) return sql;

    std::string out;
    out.reserve(sql.size() + 8);
    std::size_t i = 0;
    auto copyUntil = [&](std::size_t end) {
        out.append(sql, i, end - i);
        i = end;
    };
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            std::size_t end = i + 1;
            while (end < sql.size()) {
                if (sql[end] == close) {
                    // A doubled quote stands for itself inside the literal.
                    if (close != ']' && end + 1 < sql.size() && sql[end + 1] == close) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            copyUntil(end);
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            const std::size_t end = sql.find('\n', i);
            copyUntil(end == std::string::npos ? sql.size() : end);
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            copyUntil(end == std::string::npos ? sql.size() : end + 2);
        } else if (isWordChar(c)) {
            std::size_t end = i;
            while (end < sql.size() && isWordChar(sql[end])) ++end;
            std::size_t next = end;
            while (next < sql.size() && std::isspace(static_cast<unsigned char>(sql[next]))) ++next;
            if (lowered.compare(i, end - i, "isnull") == 0 && next < sql.size() && sql[next] == '(') {
                out += "\"isnull\"";
                i = end;
            } else {
                copyUntil(end);
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

bool onlyBlanksAndSemicolons(const char* text) {
    for (const char* p = text; p && *p; ++p) {
        if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') return false;
    }
    return true;
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& filePath, std::chrono::milliseconds lockWait) {
    // Without SQLITE_OPEN_CREATE: a wrong path must not leave an empty database behind.
    const int rc = sqlite3_open_v2(filePath.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError("Não foi possível abrir o banco de dados \"" + filePath + "\": " + message);
    }
    // The point-of-sale program writes the same file: wait for its lock as long as a MariaDB statement
    // would wait for its answer.
    sqlite3_busy_timeout(db_, static_cast<int>(lockWait.count()));
    sqlite3_extended_result_codes(db_, 1);
    if (sqlite3_create_function_v2(db_, "isnull", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, isNullFunction,
                                   nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError("Não foi possível preparar o banco de dados \"" + filePath + "\": " + message);
    }
    // Opening reads nothing; a file that is not a database shows itself at the first read.
    try {
        open("SELECT count(*) FROM sqlite_master");
    } catch (const DbError& error) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError("Não foi possível abrir o banco de dados \"" + filePath + "\": " + error.what());
    }
}

SqliteConnection::~SqliteConnection() { sqlite3_close(db_); }

namespace {

Statement prepare(sqlite3* db, const std::string& statementText) {
    const std::string sql = withCallableIsNull(statementText);
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK) {
        throw DbError(sqlite3_errmsg(db));
    }
    Statement statement(raw);
    // One statement per call, as on the server: whatever follows a value's quote never runs.
    if (!onlyBlanksAndSemicolons(tail)) throw DbError("Mais de uma instrução SQL em um comando");
    if (!statement) throw DbError("Instrução SQL vazia");
    return statement;
}

}  // namespace

void SqliteConnection::execute(const std::string& sql) {
    Statement statement = prepare(db_, sql);
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_));
}

Recordset SqliteConnection::open(const std::string& sql) {
    Statement statement = prepare(db_, sql);
    const int count = sqlite3_column_count(statement.get());
    std::vector<std::string> columns;
    std::vector<DeclaredType> declared;
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(statement.get(), i);
        columns.emplace_back(name ? name : "");
        declared.push_back(declaredType(sqlite3_column_decltype(statement.get(), i)));
    }
    std::vector<std::vector<DbValue>> rows;
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::vector<DbValue> row;
        row.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) row.push_back(columnValue(statement.get(), i, declared[i]));
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_));
    return Recordset(std::move(columns), std::move(rows));
}

}  // namespace quorvanti::database
