// The single-byte code pages a receipt printer prints text in. The program works in UTF-8; text
// leaves for the printer in the page the device is set to, selected with ESC t at the start of each job.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvanti::printing::devices {

enum class CodePage { Cp850, Cp860, Windows1252 };

// "CP850", "CP860", "WINDOWS-1252" / "CP1252" (any case); nothing for another name.
std::optional<CodePage> codePageNamed(std::string_view name);

// ESC t n selecting the page on an ESC/POS printer.
std::string selectCodePage(CodePage page);

// UTF-8 text in the page's bytes. Characters the page lacks become their plain letter where one
// exists ("ã" in a page without it -> "a"), else "?"; bytes that are not UTF-8 become "?". ASCII
// control characters pass unchanged (they are the printer's commands).
std::string encodeText(std::string_view utf8, CodePage page);

// The reverse, for readers of printed bytes (tests, the preview tool).
std::string decodeText(std::string_view bytes, CodePage page);

}  // namespace quorvanti::printing::devices
