// The real monitor executable as a process for a test: `quorvanti --app-dir DIR --frontend headless`
// on a ProgramFolder (its desktop and registry store), run to its end while a test watches each line it
// writes and may signal it (a power cut, a service stop) or act on the world around it.
//
// The executable sleeps for real. QUORVANTI_TIME_SCALE (taken from the test's environment, else the
// run's own) is handed to it so that its pauses and timers run faster while dates stay real.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
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

    // Sends `number` to the monitor and notes that it was stopped.
    void signal(int number);
};

// Called with each line the monitor writes (without its end), and with an empty line every few
// milliseconds while it writes nothing, so that a watch may look at files or the database too.
using MonitorWatch = std::function<void(MonitorRun& run, const std::string& line)>;

struct MonitorOptions {
    // After --app-dir, --desktop-dir, --registry and --frontend headless.
    std::vector<std::string> arguments{"--once"};
    // Used when the test's environment sets no QUORVANTI_TIME_SCALE.
    std::string timeScale = "0.02";
    // The run is killed, and the test fails, past this. Generous: at scale 1 one sale takes about half a
    // minute of pauses.
    std::chrono::seconds limit{240};
};

// Runs the monitor on `folder` until it ends. Safe to call from several threads at once.
MonitorRun runMonitor(const ProgramFolder& folder, const MonitorWatch& watch = {}, const MonitorOptions& options = {});

// True when `line` is a caption of the main window beginning with `caption` (the headless frontend
// writes each one as "[frmEmitirNFCe.control] text").
bool isCaption(const std::string& line, const std::string& caption);

// The message boxes a run showed: its lines that begin with "[message]", in order.
std::vector<std::string> messageLines(const std::string& output);

// The last `count` lines of `output`, for failure messages.
std::string lastLines(const std::string& output, std::size_t count = 40);

// How many entries `folder` holds (0 when it does not exist).
std::size_t filesIn(const std::string& folder);

}  // namespace quorvanti::testing
