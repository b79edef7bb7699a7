// The name of this machine, as monitors sharing one database tell each other apart.
#pragma once

#include <string>

namespace quorvanti::platform {

// The host name; "localhost" when the system gives none.
std::string hostName();

}  // namespace quorvanti::platform
