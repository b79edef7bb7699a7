// Where things live on this machine: the program folder and the user's desktop (which holds the log).
#pragma once

#include <string>

namespace quorvanti::platform {

// The folder of the running executable, without a trailing "/".
std::string executableFolder();

// The desktop folder: `override` when not empty, else $XDG_DESKTOP_DIR, else the desktop named in the
// user's xdg-user-dirs settings (a Portuguese desktop is "~/Área de Trabalho"), else ~/Desktop;
// created when missing. No trailing "/".
std::string desktopFolder(const std::string& override = {});

// The current user's home folder: $HOME, else the user database's entry. No trailing "/".
std::string homeFolder();

// `folder` with a "/" appended unless it already ends with one ("" stays "").
std::string withTrailingSlash(std::string folder);

// True when `path` names an existing regular file (`ArquivoExiste` for a plain path).
bool fileExists(const std::string& path);

}  // namespace quorvanti::platform
