// A seam for the crash tests: the process stops itself at a named step of its work, at the exact
// moment it reaches it, so a test can place a power cut (SIGKILL) or a service stop (SIGTERM, then
// perhaps a second signal) before a given write, never a little later as a watcher outside would.
// The steps are the main window's captions: each step of a sale announces itself there.
//
// QUORVANTI_STOP_AT="SIGNALS:N:STEP" stops at the Nth caption beginning with STEP; SIGNALS is KILL,
// TERM or INT, or two of them joined by "+" (sent one right after the other). Unset: nothing happens.
// A malformed value ends the process at its first step with status 64 rather than run unchecked.
#pragma once

#include <string_view>

namespace quorvanti::platform {

// Called with each caption as it is shown.
void reachStep(std::string_view caption);

}  // namespace quorvanti::platform
