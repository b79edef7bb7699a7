#include "support/monitor_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/program_folder.h"

namespace quorvanti::testing {

void MonitorRun::signal(int number) {
    kill(pid, number);
    stopped = true;
}

MonitorRun runMonitor(const ProgramFolder& folder, const MonitorWatch& watch, const MonitorOptions& options) {
    const char* scale = std::getenv("QUORVANTI_TIME_SCALE");
    // env(1) sets the scale and then execs the monitor, under the same process id.
    const std::string chosen = scale != nullptr && *scale != '\0' ? scale : options.timeScale;
    std::vector<std::string> args{"/usr/bin/env", "QUORVANTI_TIME_SCALE=" + chosen};
    args.insert(args.end(), options.environment.begin(), options.environment.end());
    args.insert(args.end(), {QUORVANTI_BINARY_DIR "/quorvanti", "--app-dir", folder.path(), "--desktop-dir",
                             folder.desktop(), "--registry", folder.registryFile(), "--frontend", "headless"});
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv{nullptr};
    for (auto& arg : args) argv.insert(argv.end() - 1, arg.data());

    MonitorRun run;
    int out[2];
    // Close-on-exec: a monitor another thread starts meanwhile must not keep this pipe open.
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    run.pid = fork();
    if (run.pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + options.limit;
    std::string pending;
    for (;;) {
        using namespace std::chrono;
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) {
            kill(run.pid, SIGKILL);
            ADD_FAILURE() << "the monitor did not end in time:\n" << lastLines(run.output + pending);
            break;
        }
        pollfd ready{out[0], POLLIN, 0};
        const int timeout = watch ? 5 : static_cast<int>(left);
        if (poll(&ready, 1, timeout) <= 0) {
            if (watch) watch(run, "");
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::read(out[0], buffer, sizeof buffer);
        if (count <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            run.output += line + "\n";
            if (watch) watch(run, line);
        }
    }
    run.output += pending;
    ::close(out[0]);
    int raw = 0;
    waitpid(run.pid, &raw, 0);
    run.exited = WIFEXITED(raw);
    run.status = run.exited ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? WTERMSIG(raw) : -1;
    return run;
}

bool isCaption(const std::string& line, const std::string& caption) {
    const auto text = line.find("] ");
    return line.rfind("[frmEmitirNFCe.", 0) == 0 && text != std::string::npos &&
           line.compare(text + 2, caption.size(), caption) == 0;
}

std::vector<std::string> messageLines(const std::string& output, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix)) lines.push_back(line);
    return lines;
}

std::string lastLines(const std::string& output, std::size_t count) {
    std::size_t at = output.size();
    for (std::size_t n = 0; n <= count && at != std::string::npos && at > 0; ++n) at = output.rfind('\n', at - 1);
    return at == std::string::npos || at >= output.size() ? output : output.substr(at + 1);
}

std::size_t filesIn(const std::string& folder) {
    std::error_code ignored;
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder, ignored), {}));
}

}  // namespace quorvanti::testing
