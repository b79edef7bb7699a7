// Durable whole-file writes, and the error every checked write raises.
//
// A file written with writeFileDurably is either the old one or the whole new one under its name, and
// the new one is on the disk (file and folder synced) before the call returns: a full disk, a folder
// that cannot be written or a power cut never leave a partial file there. A failure raises
// FileWriteError, whose text names the file and the reason in Portuguese, for the operator and the log.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

struct stat;

namespace quorvanti::platform {

// "Não foi possível gravar o arquivo '<path>': <writeFailureReason(error)>".
class FileWriteError : public std::runtime_error {
public:
    FileWriteError(const std::string& path, int error);

    const std::string& path() const noexcept { return path_; }
    int error() const noexcept { return error_; }  // the errno of the failure

private:
    std::string path_;
    int error_;
};

// Why a write failed, in words for the operator: ENOSPC and EDQUOT "disco cheio", EACCES and EPERM
// "sem permissão de escrita", EROFS "sistema de arquivos somente leitura", others the system's text
// (strerror).
std::string writeFailureReason(int error);

// Writes `bytes` as the whole content of `path`: into a temporary file beside it (".<name>.tmp-..."),
// synced, renamed over `path`, then the folder synced. Missing folders are made (kFolderMode); a new
// file gets kFileMode (less the umask); a replaced one keeps its owner (when the process may give it)
// and its owner's and group's permissions, and loses any of the others'. A symbolic link at `path` is
// replaced by the file. On failure the temporary is removed, the old file is left as it was, and
// FileWriteError is raised; only a failure to sync the folder comes after the rename (the new file is
// then in place but its name may not survive a power cut), and it is raised too.
// `written`, when given, receives the new file's status (as fstat tells it before the rename).
void writeFileDurably(const std::string& path, std::string_view bytes, struct stat* written = nullptr);

// The same, answering the errno of the failure instead of raising (0 when written).
int tryWriteFileDurably(const std::string& path, std::string_view bytes, struct stat* written = nullptr) noexcept;

// The same for a secret: the file is made 0600 and owned by the running user, whatever an old file at
// `path` was (its folder's modes are the caller's to set).
int tryWriteSecretFileDurably(const std::string& path, std::string_view bytes) noexcept;

// ---- Test seam: for tests only; production code never calls the first two. ----
// While armed, every platform write of a file under `folder` (writeFileDurably, writeWholeFile,
// writeSecretFile, the INI writers, appendLogLine, the fiscal component's files) fails with `error`
// as if the system had answered it, before touching anything. Process-wide and thread-safe; several
// folders may be armed at once; stopFailingWrites disarms them all.
namespace test_seam {
void failWritesUnder(std::string folder, int error);
void stopFailingWrites();
// What the writers ask: the errno a write of `path` must fail with; 0 (always, outside tests) for none.
int injectedWriteFailure(const std::string& path);
}  // namespace test_seam

}  // namespace quorvanti::platform
