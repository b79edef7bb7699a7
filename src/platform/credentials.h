// Secrets handed to the service by its manager instead of files on the disk: systemd's credentials
// (LoadCredential=, LoadCredentialEncrypted=), files of $CREDENTIALS_DIRECTORY that exist only in the
// service's memory while it runs and that only the service's user can read. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::platform {

// The variable through which the service manager names the folder of the credentials.
inline constexpr const char* kCredentialsDirectoryVariable = "CREDENTIALS_DIRECTORY";

// The path of the credential `name` when the service manager passed one by that name; "" when there is
// no credentials folder, `name` is not a plain file name, or no such credential exists.
std::string credentialPath(std::string_view name);

}  // namespace quorvanti::platform
