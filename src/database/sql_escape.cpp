#include "database/sql_escape.h"

namespace quorvanti::database {

std::string sqlEscape(DbKind kind, std::string_view value) {
    const bool backslashes = kind == DbKind::MariaDb;
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        escaped += c;
        if (c == '\'' || (backslashes && c == '\\')) escaped += c;
    }
    return escaped;
}

}  // namespace quorvanti::database
