#include "platform/version.h"

namespace quorvanti::platform {

const int kVersionMajor = QUORVANTI_VERSION_MAJOR;
const int kVersionMinor = QUORVANTI_VERSION_MINOR;
const int kVersionRevision = QUORVANTI_VERSION_PATCH;

}  // namespace quorvanti::platform
