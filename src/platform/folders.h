// Where things live on this machine: the program folder and the user's desktop (which holds the log);
// and how the monitor makes its files and folders: files at most 0640 and folders at most 0750 whatever
// the umask, because they carry the shop's sales, keys and settings (the certificate store and the
// secret files keep their own 0600/0700).
#pragma once

#include <string>
#include <string_view>

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

// The modes of what the monitor creates.
inline constexpr unsigned kFileMode = 0640;
inline constexpr unsigned kFolderMode = 0750;

// Widens the process umask to at least 027, so that what libraries create (the SQLite file and its
// journal, answers written through streams) follows the same rule. Called once when the program starts.
void restrictCreationModes();

// Creates `folder` and its missing parents, each with kFolderMode; folders that exist are left as they
// are. False when the folder does not exist afterwards, with errno telling why.
bool createFolders(const std::string& folder);

// Writes `bytes` as the whole content of the file at `path`, making its missing folders. A new file gets
// kFileMode; an existing one keeps its owner's and group's permissions and loses any of the others'.
// False when the file could not be written. It is written in place and not synced: a file that must be
// whole after a failure or a power cut is written with writeFileDurably (durable_file.h).
bool writeWholeFile(const std::string& path, std::string_view bytes);

// Writes a secret (the panel's access token) as the whole content of `path`: the file is 0600 and its
// folder 0700 (made, or narrowed when it exists), both owned by the running user. Written durably (as
// writeFileDurably): a failure or a power cut leaves the old content or the new. False on failure.
bool writeSecretFile(const std::string& path, std::string_view bytes);

}  // namespace quorvanti::platform
