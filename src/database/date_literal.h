// Dates inside SQL text. Queries on VendasConclu compare with a literal made of the kind's delimiter
// and format; nfce_gerada.dataG is stored as text in the kind's own date format.
#pragma once

#include <string>

#include "database/db_connection.h"

namespace quorvanti::database {

// The delimiter and format of date literals for a kind: MariaDB " ' " and "yyyy/mm/dd" (the blanks
// inside the delimiter are kept: stored statements were written that way and the server accepts them);
// SQLite "'" and "yyyy-mm-dd".
std::string dateQuote(DbKind kind);
std::string dateFormat(DbKind kind);

// A sale date as the program holds it ("dd/mm/yyyy", the regional form; "yyyy-mm-dd" is accepted too)
// written as a literal with `quote` and `format`. Raises std::invalid_argument for a text that is not
// a date.
std::string dateLiteral(const std::string& saleDate, const std::string& quote, const std::string& format);

// The text stored in nfce_gerada.dataG: with `time` empty the date "yyyy-mm-dd" (MariaDB) or
// "dd/mm/yyyy" (SQLite, as Access stored it); with `date` empty the time "hh:mm:ss". `date` is
// "dd/mm/yyyy" or "yyyy-mm-dd", `time` "hh:mm:ss".
std::string dateForStoring(DbKind kind, const std::string& date, const std::string& time);

}  // namespace quorvanti::database
