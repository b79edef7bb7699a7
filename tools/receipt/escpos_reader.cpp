#include "receipt/escpos_reader.h"

namespace quorvanti::receipt {

PrintedReceipt readEscPos(std::string_view) { return {}; }
std::string goldenText(const PrintedReceipt&) { return {}; }

}  // namespace quorvanti::receipt
