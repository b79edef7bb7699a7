// Whether a file the monitor depends on can be read, and why not, in words for the operator.
#pragma once

#include <string>

namespace quorvanti::platform {

// True when `path` names a regular file this process can open for reading; otherwise false, with
// `reason` saying why ("arquivo não encontrado", "sem permissão de leitura", "não é um arquivo", ...).
bool readableFile(const std::string& path, std::string& reason);

}  // namespace quorvanti::platform
