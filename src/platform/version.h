// The program's version (major.minor.revision), from the build.
#pragma once

namespace quorvanti::platform {

extern const int kVersionMajor;
extern const int kVersionMinor;
extern const int kVersionRevision;

}  // namespace quorvanti::platform
