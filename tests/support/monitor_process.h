// The real monitor, headless on a ProgramFolder, run to its end while a watch sees each line and may
// signal it or act on the world; QUORVANTI_TIME_SCALE (the environment's, else the run's) speeds it up.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quorvanti::testing {

class ProgramFolder;

struct MonitorRun {
    pid_t pid = -1;
    bool stopped = false;  // the watch sent a signal
    bool exited = false;
    int status = -1;       // exit status, or the signal that ended it
    std::string output;    // standard output and error, as written so far
    void signal(int number);
};

// Called with each line written (without its end), and with "" every few milliseconds of silence.
using MonitorWatch = std::function<void(MonitorRun& run, const std::string& line)>;

struct MonitorOptions {
    std::vector<std::string> arguments{"--once"};  // after --app-dir, --desktop-dir, --registry, --frontend
    std::string timeScale = "0.02";                // unless the environment sets QUORVANTI_TIME_SCALE
    std::vector<std::string> environment{};        // more NAME=VALUE settings for the monitor
    std::chrono::seconds limit{240};               // then killed, and the test fails
};

// Runs the monitor on `folder` until it ends. Safe to call from several threads at once.
MonitorRun runMonitor(const ProgramFolder& folder, const MonitorWatch& watch = {}, const MonitorOptions& options = {});

// True when `line` is a main-window caption ("[frmEmitirNFCe.control] text") beginning with `caption`.
bool isCaption(const std::string& line, const std::string& caption);

// The run's lines beginning with `prefix` (by default its message boxes), in order.
std::vector<std::string> messageLines(const std::string& output, const std::string& prefix = "[message] ");

// The last `count` lines of `output`, for failure messages.
std::string lastLines(const std::string& output, std::size_t count = 40);

// How many entries `folder` holds (0 when it does not exist).
std::size_t filesIn(const std::string& folder);

}  // namespace quorvanti::testing
