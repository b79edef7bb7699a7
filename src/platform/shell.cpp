#include "platform/shell.h"

#include "platform/folders.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>

extern char** environ;

namespace quorvanti::platform {

bool SystemShell::runRegistrationScript(const std::string& programFolder) {
    const std::string script = programFolder + "/registraDLL.sh";
    if (!fileExists(script)) return false;

    // The script starts with default signal handling and nothing blocked, whatever the monitor's
    // event loop has arranged for itself.
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return false;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string shell = "/bin/sh";
    std::string scriptArgument = script;
    char* argv[] = {shell.data(), scriptArgument.data(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return false;

    // The program does not wait for the script, but someone must collect its exit status or it stays
    // a zombie for the life of the monitor.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the script still runs; its exit leaves one zombie, which is harmless.
    }
    return true;
}

}  // namespace quorvanti::platform
