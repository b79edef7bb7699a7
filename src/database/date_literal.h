// Dates inside SQL text. Queries on VendasConclu compare with a literal made of the kind's delimiter
// and format; nfce_gerada.dataG is stored as text in the kind's own date format.
#pragma once

#include <optional>
#include <string>

#include "database/db_connection.h"

namespace quorvanti::database {

// The delimiter and format of date literals for a kind: MariaDB " ' " (blank, apostrophe, blank) and
// "yyyy/mm/dd"; SQLite "'" and "yyyy-mm-dd". The blanks of the MariaDB delimiter stand outside the
// apostrophes of the literal (see dateLiteral), as the stored statements were written.
std::string dateQuote(DbKind kind);
std::string dateFormat(DbKind kind);

// A sale date as the program holds it ("dd/mm/yyyy", the regional form; "yyyy-mm-dd" is accepted too)
// written as a literal with `quote` and `format` (tokens "dd", "mm", "yyyy"). The delimiter opens
// without its trailing blanks and closes without its leading ones, so 5 March 2024 becomes
// " '2024/03/05' " on MariaDB and "'2024-03-05'" on SQLite. Raises std::invalid_argument for a text
// that is not a date.
std::string dateLiteral(const std::string& saleDate, const std::string& quote, const std::string& format);

// The text stored in nfce_gerada.dataG: with `time` empty the date "yyyy-mm-dd" (MariaDB) or
// "dd/mm/yyyy" (SQLite, as Access stored it); with `date` empty the time "hh:mm:ss". `date` is
// "dd/mm/yyyy" or "yyyy-mm-dd", `time` "hh:mm:ss" (or "hh:mm"). Both empty gives ""; both given, or a
// text that is not a date or time, raises std::invalid_argument.
std::string dateForStoring(DbKind kind, const std::string& date, const std::string& time);

// Reads a date as the program holds it: "dd/mm/yyyy" (day and month may have one digit) or
// "yyyy-mm-dd", blanks around it and a time after a blank ignored. Nothing when the text is not a
// calendar date.
std::optional<DbDate> readDate(const std::string& text);

}  // namespace quorvanti::database
