// The program's own files as every procedure reaches them: the settings file (section "Geral" of
// ConfigINI.ini at the path start-up chose), the log on the desktop, and path joining.
#pragma once

#include <string>

#include "context/app_context.h"

namespace quorvanti::context {

// A line break inside message texts and log lines, as the original writes it.
inline constexpr const char* kLineBreak = "\r\n";

// The settings file: the development path when that file exists, else "ConfigINI.ini" in the program
// folder. `folder` receives the folder that holds it.
std::string settingsPathFor(const Locations& locations, std::string& folder);

// Reads or writes a key of section "Geral" of the settings file (at most 199 characters read).
std::string readGeral(const AppContext& ctx, const std::string& key);
void writeGeral(const AppContext& ctx, const std::string& key, const std::string& value);

// Appends one line to LOG_NFCE.txt; raises platform::LogWriteError when the log cannot be written.
void GravaLog(const AppContext& ctx, const std::string& line);

// `folder` with a "/" appended unless it already ends with one.
std::string withTrailingSlash(const std::string& folder);

}  // namespace quorvanti::context
