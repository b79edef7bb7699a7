// A result set opened as a static client-side snapshot: every row is fetched when it is opened, so
// rows that others insert or delete afterwards do not change it. Fields are read by column name
// without regard to case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "database/db_value.h"

namespace quorvanti::database {

class Recordset {
public:
    Recordset(std::vector<std::string> columns, std::vector<std::vector<DbValue>> rows);

    std::size_t recordCount() const { return rows_.size(); }
    bool eof() const { return position_ >= rows_.size(); }
    // Before the first row: true only for an empty snapshot (the position starts on the first row).
    bool bof() const { return rows_.empty(); }
    void moveFirst() { position_ = 0; }
    // Raises DbError when already at the end, as the original's result sets did.
    void moveNext();

    // The field of the current row. Raises DbError when the column does not exist or when there is no
    // current row (end of file, or an empty snapshot); the latter's description contains "BOF" and
    // "EOF", which the emission routine's common exit looks for.
    const DbValue& field(std::string_view column) const;
    bool hasColumn(std::string_view column) const;
    const std::vector<std::string>& columns() const { return columns_; }

private:
    std::vector<std::string> columns_;
    std::vector<std::vector<DbValue>> rows_;
    std::size_t position_ = 0;
};

}  // namespace quorvanti::database
