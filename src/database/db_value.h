// One field value read from the database. It knows null, so that the original's habit of joining a
// column to "" (a null gives "") and its null tests both keep their meaning.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quorvanti::database {

struct DbDate {
    int year = 0, month = 0, day = 0;
    friend bool operator==(const DbDate&, const DbDate&) = default;
};

struct DbDateTime {
    DbDate date;
    int hour = 0, minute = 0, second = 0;
    friend bool operator==(const DbDateTime&, const DbDateTime&) = default;
};

class DbValue {
public:
    DbValue() = default;  // null
    DbValue(std::int64_t v) : value_(v) {}
    DbValue(double v) : value_(v) {}
    DbValue(std::string v) : value_(std::move(v)) {}
    DbValue(DbDate v) : value_(v) {}
    DbValue(DbDateTime v) : value_(v) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(value_); }

    // The value joined to "": null gives "", integers their digits, decimals with a comma as the
    // Brazilian regional settings write them ("12,5", "10", "0,3" for 0,1 + 0,2: at most 15
    // significant digits, no thousands separator), dates "dd/mm/yyyy", date-times
    // "dd/mm/yyyy hh:mm:ss", text as stored.
    std::string text() const;

    // The value as a number. Null raises DbError ("Uso inválido de Null"); text that does not read as a
    // number ("", "abc") raises DbError ("Tipos incompatíveis"). Text is read with a decimal point
    // ("12.5") or a Brazilian decimal comma ("12,5", "1.234,5"), blanks around it ignored. Dates give
    // their day serial (days since 30/12/1899), as the original's date values did.
    double number() const;

    const auto& raw() const { return value_; }

private:
    std::variant<std::monostate, std::int64_t, double, std::string, DbDate, DbDateTime> value_;
};

}  // namespace quorvanti::database
