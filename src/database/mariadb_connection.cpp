#include "database/mariadb_connection.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <charconv>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "database/db_error.h"

namespace quorvanti::database {

namespace {

// The error of the last statement: a connection that is gone (the server went away, the link was lost,
// the server cannot be reached) or a lock wait that ran out passes; anything else is the statement's.
DbError statementError(MYSQL* mysql) {
    const unsigned code = mysql_errno(mysql);
    const bool passing = code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == CR_CONNECTION_ERROR ||
                         code == CR_CONN_HOST_ERROR || code == ER_LOCK_WAIT_TIMEOUT || code == ER_LOCK_DEADLOCK;
    return DbError(mysql_error(mysql), passing);
}

// mysql_library_init is not thread-safe and must run once before the first connection.
void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (mysql_library_init(0, nullptr, nullptr) != 0) throw DbError("MariaDB Connector/C não pôde ser iniciado");
    });
}

struct ResultDeleter {
    void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
using Result = std::unique_ptr<MYSQL_RES, ResultDeleter>;

// The password never reaches a message, even if the server echoed it back in its text.
std::string withoutSecret(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4)) {
        text.replace(at, secret.size(), "****");
    }
    return text;
}

int digits(const char* text, std::size_t length, std::size_t pos, std::size_t count) {
    if (pos + count > length) return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "yyyy-mm-dd" as the server sends DATE; the zero date ("0000-00-00") has no calendar day and reads
// as null.
bool readServerDate(const char* text, std::size_t length, DbDate& date) {
    if (length < 10 || text[4] != '-' || text[7] != '-') return false;
    date = DbDate{digits(text, length, 0, 4), digits(text, length, 5, 2), digits(text, length, 8, 2)};
    return date.year > 0 && date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31;
}

DbValue fieldValue(const MYSQL_FIELD& field, const char* text, std::size_t length) {
    if (text == nullptr) return DbValue();
    switch (field.type) {
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_YEAR: {
            std::int64_t value = 0;
            auto [end, error] = std::from_chars(text, text + length, value);
            if (error == std::errc{} && end == text + length) return DbValue(value);
            // An unsigned BIGINT beyond the signed range.
            double wide = 0;
            auto [wideEnd, wideError] = std::from_chars(text, text + length, wide);
            if (wideError == std::errc{} && wideEnd == text + length) return DbValue(wide);
            return DbValue(std::string(text, length));
        }
        case MYSQL_TYPE_BIT: {
            std::int64_t value = 0;
            for (std::size_t i = 0; i < length; ++i) value = (value << 8) | static_cast<unsigned char>(text[i]);
            return DbValue(value);
        }
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE: {
            double value = 0;
            auto [end, error] = std::from_chars(text, text + length, value);
            if (error == std::errc{} && end == text + length) return DbValue(value);
            return DbValue(std::string(text, length));
        }
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE: {
            DbDate date;
            if (readServerDate(text, length, date)) return DbValue(date);
            return DbValue();
        }
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_DATETIME2:
        case MYSQL_TYPE_TIMESTAMP2: {
            DbDate date;
            if (!readServerDate(text, length, date)) return DbValue();
            DbDateTime value{date, 0, 0, 0};
            if (length >= 19) {
                value.hour = digits(text, length, 11, 2);
                value.minute = digits(text, length, 14, 2);
                value.second = digits(text, length, 17, 2);  // fractions of a second are dropped
            }
            if (value.hour < 0 || value.minute < 0 || value.second < 0) return DbValue(std::string(text, length));
            return DbValue(value);
        }
        case MYSQL_TYPE_NULL:
            return DbValue();
        default:
            return DbValue(std::string(text, length));
    }
}

}  // namespace

MariaDbConnection::MariaDbConnection(const MariaDbParameters& parameters) {
    initialiseLibraryOnce();
    mysql_ = mysql_init(nullptr);
    if (mysql_ == nullptr) throw DbError("MariaDB: memória insuficiente para a conexão");

    unsigned connectTimeout = parameters.connectTimeoutSeconds;
    unsigned commandTimeout = parameters.commandTimeoutSeconds;
    my_bool reconnect = 0;  // nothing reconnects: a lost connection makes later statements fail
    unsigned localInfile = 0;
    mysql_options(mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(mysql_, MYSQL_OPT_READ_TIMEOUT, &commandTimeout);
    mysql_options(mysql_, MYSQL_OPT_WRITE_TIMEOUT, &commandTimeout);
    mysql_options(mysql_, MYSQL_OPT_RECONNECT, &reconnect);
    mysql_options(mysql_, MYSQL_OPT_LOCAL_INFILE, &localInfile);
    mysql_options(mysql_, MYSQL_SET_CHARSET_NAME, "utf8mb4");

    const bool viaSocket = !parameters.socket.empty();
    const char* host = viaSocket ? "localhost" : (parameters.host.empty() ? nullptr : parameters.host.c_str());
    const char* database = parameters.database.empty() ? nullptr : parameters.database.c_str();
    if (mysql_real_connect(mysql_, host, parameters.user.c_str(), parameters.password.c_str(), database,
                           viaSocket ? 0 : parameters.port, viaSocket ? parameters.socket.c_str() : nullptr,
                           0) == nullptr) {
        const std::string where = viaSocket ? parameters.socket
                                            : (parameters.host.empty() ? "localhost" : parameters.host) +
                                                  (parameters.port ? ":" + std::to_string(parameters.port) : "");
        std::string message = "Não foi possível conectar ao servidor MariaDB/MySQL (" + where + ", base \"" +
                              parameters.database + "\", usuário \"" + parameters.user + "\"): " +
                              mysql_error(mysql_);
        mysql_close(mysql_);
        mysql_ = nullptr;
        throw DbError(withoutSecret(std::move(message), parameters.password));
    }

    // Values are escaped by doubling backslashes (sql_escape.h); a server configured with
    // NO_BACKSLASH_ESCAPES would store them doubled, so this session keeps backslash escapes on.
    try {
        Recordset mode = open("SELECT @@SESSION.sql_mode AS mode");
        std::string current = mode.field("mode").text();
        if (current.find("NO_BACKSLASH_ESCAPES") != std::string::npos) {
            std::string kept;
            std::size_t start = 0;
            while (start <= current.size()) {
                std::size_t comma = current.find(',', start);
                if (comma == std::string::npos) comma = current.size();
                std::string item = current.substr(start, comma - start);
                if (!item.empty() && item != "NO_BACKSLASH_ESCAPES") kept += (kept.empty() ? "" : ",") + item;
                start = comma + 1;
            }
            execute("SET SESSION sql_mode = '" + kept + "'");
        }
    } catch (...) {
        mysql_close(mysql_);
        mysql_ = nullptr;
        throw;
    }
}

MariaDbConnection::~MariaDbConnection() {
    if (mysql_ != nullptr) mysql_close(mysql_);
}

void MariaDbConnection::execute(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
        throw statementError(mysql_);
    }
    // A statement that answers rows must have them read before the next one can run.
    if (mysql_field_count(mysql_) > 0) {
        Result discarded(mysql_store_result(mysql_));
        if (!discarded) throw statementError(mysql_);
    }
}

Recordset MariaDbConnection::open(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
        throw statementError(mysql_);
    }
    // mysql_store_result reads every row now: the static client-side snapshot.
    Result result(mysql_store_result(mysql_));
    if (!result) {
        if (mysql_field_count(mysql_) == 0) return Recordset({}, {});  // a statement without rows
        throw statementError(mysql_);
    }
    const unsigned count = mysql_num_fields(result.get());
    const MYSQL_FIELD* fields = mysql_fetch_fields(result.get());
    std::vector<std::string> columns;
    columns.reserve(count);
    for (unsigned i = 0; i < count; ++i) columns.emplace_back(fields[i].name ? fields[i].name : "");

    std::vector<std::vector<DbValue>> rows;
    rows.reserve(static_cast<std::size_t>(mysql_num_rows(result.get())));
    while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
        const unsigned long* lengths = mysql_fetch_lengths(result.get());
        std::vector<DbValue> values;
        values.reserve(count);
        for (unsigned i = 0; i < count; ++i) values.push_back(fieldValue(fields[i], row[i], lengths[i]));
        rows.push_back(std::move(values));
    }
    return Recordset(std::move(columns), std::move(rows));
}

}  // namespace quorvanti::database
