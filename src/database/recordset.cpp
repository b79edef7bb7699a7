#include "database/recordset.h"

#include <utility>

#include "database/db_error.h"

namespace quorvanti::database {

namespace {

// The description of the original's "no current record" error; callers look for "BOF" in it.
constexpr const char* kNoCurrentRecord =
    "BOF ou EOF é True, ou o registro atual foi excluído. A operação solicitada requer um registro atual.";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

Recordset::Recordset(std::vector<std::string> columns, std::vector<std::vector<DbValue>> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {
    for (const auto& row : rows_) {
        if (row.size() != columns_.size()) throw DbError("Recordset: a row does not match the columns");
    }
}

void Recordset::moveNext() {
    if (eof()) throw DbError(kNoCurrentRecord);
    ++position_;
}

const DbValue& Recordset::field(std::string_view column) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (!sameName(columns_[i], column)) continue;
        if (eof()) throw DbError(kNoCurrentRecord);
        return rows_[position_][i];
    }
    throw DbError("O item não pode ser encontrado na coleção correspondente ao nome ou ordinal solicitado: " +
                  std::string(column));
}

bool Recordset::hasColumn(std::string_view column) const {
    for (const auto& name : columns_) {
        if (sameName(name, column)) return true;
    }
    return false;
}

}  // namespace quorvanti::database
