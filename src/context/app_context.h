// The context every procedure receives: the platform services, the program-wide records, the one
// database connection and the main window's model. One per process (tests build one per case); owned
// and used by the monitor thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "context/emission_state.h"
#include "context/retry_schedule.h"
#include "context/run_settings.h"
#include "database/db_connection.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "platform/registry_store.h"
#include "platform/shell.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/frontend.h"
#include "windows/frm_emitir_nfce.h"

namespace quorvanti::context {

// Where the program finds things on this machine; all redirectable so tests touch nothing of the user.
struct Locations {
    std::string programFolder;    // --app-dir, else the executable's folder; no trailing "/"
    std::string desktopFolder;    // holds LOG_NFCE.txt
    std::string devSettingsPath;  // a settings file that wins over the program folder's when it exists
};

struct Services {
    platform::Clock& clock;
    platform::Frontend& frontend;
    platform::EventLoop& loop;
    platform::RegistryStore& registry;
    platform::Shell& shell;
    fiscal::ComponentFactory& components;
};

struct AppContext {
    AppContext(Services services, Locations locations) : services(services), locations(std::move(locations)) {}
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    Services services;
    Locations locations;
    RunSettings settings;
    EmitterData emitter;
    EmissionState emission;
    std::unique_ptr<database::DbConnection> db;
    windows::frmEmitirNFCe mainWindow;
    // --once: end the program after the first poll that finds no work.
    bool endWhenIdle = false;
    // Opens the shutdown dialog; set by start-up so that procedures below the windows can offer it
    // (an answer that names the certificate does).
    std::function<void()> showShutdownDialog;
    // Queued sales that were kept, and when each is tried again.
    RetrySchedule retries;
    // True once the service manager (or Ctrl-C) asked the monitor to stop: the poll ends after the
    // current sale, and the routine's long waits end with the sale kept. Set by start-up.
    std::function<bool()> stopRequested = [] { return false; };
    // The authority's last answer to the service-status query ("107 - Serviço em Operação") and when it
    // came (shop time, "dd/mm/yyyy hh:mm:ss"), for the operator's panel.
    std::string lastServiceStatus;
    std::string lastServiceStatusAt;
    // Sends that got no answer from the authority since its last answer, across sales: an outage. The
    // operator is told once per outage, when they reach 50; the monitor goes on.
    struct Outage {
        int unansweredSends = 0;
        bool told = false;
    } outage;
    // While the authority denies the emitter (301), no new document is made until then (steady time).
    std::chrono::milliseconds newDocumentsPausedUntil{0};
    // When the idle poll next settles superseded documents and given-up numbers (steady time).
    std::chrono::milliseconds nextFiscalUpkeep{0};
    // Held for the life of the process: the previous-instance test of the next start finds it taken.
    std::unique_ptr<platform::InstanceLock> instanceLock;

    // Conveniences for the procedures' most frequent calls.
    platform::Frontend& frontend() { return services.frontend; }
    void caption(windows::Label& label, std::string text) { windows::setCaption(services.frontend, label, std::move(text)); }
    void status(std::string text) { caption(mainWindow.Label1, std::move(text)); }
    // One pass of the message loop.
    void doEvents() { services.loop.doEvents(); }
};

}  // namespace quorvanti::context
