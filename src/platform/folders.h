// Where things live on this machine: the program folder and the user's desktop (which holds the log).
#pragma once

#include <string>

namespace quorvanti::platform {

// The folder of the running executable, without a trailing "/".
std::string executableFolder();

// The desktop folder: `override` when not empty, else $XDG_DESKTOP_DIR, else ~/Desktop; created when
// missing. No trailing "/".
std::string desktopFolder(const std::string& override = {});

// True when `path` names an existing regular file (`ArquivoExiste` for a plain path).
bool fileExists(const std::string& path);

}  // namespace quorvanti::platform
