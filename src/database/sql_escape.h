// The one place where values enter SQL text. The statements keep their quotes ("... where Codvenda = '"
// + value + "'"); the value is escaped so that an apostrophe is stored as typed instead of ending the
// literal. For a value without apostrophes (and, on MariaDB, without backslashes) the text is unchanged.
#pragma once

#include <string>
#include <string_view>

#include "database/db_connection.h"

namespace quorvanti::database {

// Apostrophes doubled; on MariaDB backslashes doubled as well, since its default mode reads them as
// escapes (MariaDbConnection keeps that mode on for its session, whatever the server's setting).
std::string sqlEscape(DbKind kind, std::string_view value);

}  // namespace quorvanti::database
