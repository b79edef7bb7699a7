// Cost the operator's panel adds to the monitor thread: every caption a procedure writes republishes
// the main window's state (its JSON, compared with the last one), and every event the page receives is
// the whole state built under the frontend's lock. The window carries a protocol XML of 8 KB in `rtfb`,
// as after a sale. CPU time per call; the goal is well under 100 µs per caption, so that the few hundred
// captions of one sale add at most milliseconds.
//
// Run: build/release/bench/quorvanti_bench_panel_publish
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "monitor/operator_panel.h"
#include "platform/clock.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/web_frontend.h"
#include "windows/frm_emitir_nfce.h"

namespace {

using namespace quorvanti;

struct Panel {
    platform::VirtualClock clock;
    platform::EventLoop loop{clock};
    std::ostringstream journal;
    platform::WebFrontend web{loop, journal, platform::MessageAnswer::Yes, [] { return false; }};
    windows::frmEmitirNFCe window;

    Panel() {
        window.rtfb = std::string(8 * 1024, 'x');
        web.onRepaint([this] { web.publish("main", monitor::mainWindowJson(window)); });
    }
};

void CaptionWithWindowPublish(benchmark::State& state) {
    Panel panel;
    long n = 0;
    for (auto _ : state) {
        // A new text each time, as the routine's status line changes at every step.
        windows::setCaption(panel.web, panel.window.Label1, "Realizando consulta " + std::to_string(++n));
        panel.journal.str("");
    }
}
BENCHMARK(CaptionWithWindowPublish);

void StateForOneEvent(benchmark::State& state) {
    Panel panel;
    windows::setCaption(panel.web, panel.window.Label1, "Recepção");
    panel.web.publish("dashboard", "{\"queue\":[" + std::string(2000, ' ') + "]}");
    for (auto _ : state) benchmark::DoNotOptimize(panel.web.stateJson());
}
BENCHMARK(StateForOneEvent);

}  // namespace

BENCHMARK_MAIN();
