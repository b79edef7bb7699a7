#include "platform/step_stops.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace quorvanti::platform {

namespace {

struct StopAt {
    std::vector<int> signals;
    int occurrence = 0;
    std::string step;
};

int signalNamed(std::string_view name) {
    if (name == "KILL") return SIGKILL;
    if (name == "TERM") return SIGTERM;
    if (name == "INT") return SIGINT;
    return 0;
}

// Empty when the variable is unset; `occurrence` 0 when it is malformed.
std::optional<StopAt> readStopAt() {
    const char* raw = std::getenv("QUORVANTI_STOP_AT");
    if (raw == nullptr || *raw == '\0') return std::nullopt;
    const std::string_view text(raw);
    StopAt stop;
    const auto first = text.find(':');
    const auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) return stop;
    for (std::string_view names = text.substr(0, first); !names.empty();) {
        const auto plus = names.find('+');
        const int number = signalNamed(names.substr(0, plus));
        if (number == 0) return StopAt{};
        stop.signals.push_back(number);
        names = plus == std::string_view::npos ? std::string_view{} : names.substr(plus + 1);
    }
    const std::string_view count = text.substr(first + 1, second - first - 1);
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), stop.occurrence);
    if (error != std::errc{} || end != count.data() + count.size() || stop.occurrence < 1 || stop.signals.empty())
        return StopAt{};
    stop.step = text.substr(second + 1);
    return stop;
}

}  // namespace

void reachStep(std::string_view caption) {
    static const std::optional<StopAt> stop = readStopAt();
    static std::atomic<int> seen{0};
    if (!stop) return;
    if (stop->occurrence == 0) _exit(64);
    if (!caption.starts_with(stop->step) || seen.fetch_add(1) + 1 != stop->occurrence) return;
    for (const int number : stop->signals) raise(number);
}

}  // namespace quorvanti::platform
