#include "startup/program.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "authorisation/emission_routine.h"
#include "fiscal_component/real_component.h"
#include "monitor/main_window.h"
#include "monitor/operator_panel.h"
#include "platform/folders.h"
#include "platform/instance_lock.h"
#include "platform/program_exit.h"
#include "platform/stop_signal.h"
#include "platform/ui/headless_frontend.h"
#include "platform/ui/web_frontend.h"
#include "startup/check_sefaz.h"
#include "startup/command_line.h"
#include "startup/fiscal_commands.h"
#include "startup/reprint.h"
#include "startup/sub_main.h"

namespace quorvanti::startup {

int runMonitor(context::AppContext& ctx, const monitor::EmissionRoutine& emiteNFCeVenda) {
    auto& loop = ctx.services.loop;
    try {
        SubMain(ctx);
        loop.attach(ctx.mainWindow.Timer1, [&] { monitor::Timer1_Timer(ctx, emiteNFCeVenda); });
        loop.attach(ctx.mainWindow.Timer2, [&] { monitor::Timer2_Timer(ctx); });
        return loop.run();
    } catch (const ProgramExit& exit) {
        return static_cast<int>(exit.status);
    } catch (const std::exception& error) {
        // A run-time error that no handler caught ends the program, as it always did; the operator is
        // told what it was.
        ctx.frontend().messageBox(std::string("Erro em tempo de execução: ") + error.what(),
                                  platform::MessageStyle::OkCritical);
        return static_cast<int>(ExitStatus::UnhandledError);
    }
}

namespace {

// Starts the panel with its kept token. The journal gets the address with the token only when the token
// is new: a service's journal is read by more people than the token's file.
void startPanel(platform::WebFrontend& web, const CommandLine& line, const std::string& programFolder) {
    // A token is kept only once the panel listens: a start that fails leaves the next one to show it.
    const monitor::PanelToken token = monitor::panelToken(programFolder);
    const std::string address =
        web.start({.host = line.listenHost, .port = line.listenPort, .tlsCertificate = line.tlsCertificate,
                   .tlsKey = line.tlsKey, .names = line.panelNames},
                  token.value);
    monitor::keepPanel(programFolder, token, address);
    if (token.created)
        std::cerr << "[painel] " << monitor::panelUrlWithToken(address, token.value) << std::endl;
    else
        std::cerr << "[painel] escutando em " << address << " (endereço com o token: quorvanti --app-dir "
                  << programFolder << " --panel-url)" << std::endl;
}

}  // namespace

int quorvantiMain(const std::vector<std::string>& args) {
    // Sales, keys and settings are the shop's: nothing the monitor makes is readable by other users.
    platform::restrictCreationModes();
    std::string error;
    const auto line = parseCommandLine(args, error);
    if (!line) {
        std::cerr << "quorvanti: " << error << "\n" << usageText();
        return static_cast<int>(ExitStatus::UsageError);
    }
    if (line->help) {
        std::cout << usageText();
        return 0;
    }
    const std::string programFolder = line->appDir.empty()
                                          ? platform::executableFolder()
                                          : std::filesystem::absolute(line->appDir).lexically_normal().string();
    if (!std::filesystem::is_directory(programFolder)) {
        std::cerr << "quorvanti: a pasta do programa não existe: " << programFolder << "\n";
        return static_cast<int>(ExitStatus::UsageError);
    }

    if (line->panelUrl) {
        std::string problem;
        const std::string url = monitor::keptPanelUrl(programFolder, problem);
        if (url.empty()) {
            std::cerr << "quorvanti: " << problem << "\n";
            return static_cast<int>(ExitStatus::UsageError);
        }
        std::cout << url << std::endl;
        return 0;
    }

    double timeScale = 1.0;
    try {
        timeScale = platform::timeScaleFromEnvironment();
    } catch (const std::invalid_argument& error) {
        std::cerr << "quorvanti: " << error.what() << "\n";
        return static_cast<int>(ExitStatus::UsageError);
    }
    platform::SystemClock clock(timeScale);
    platform::EventLoop loop(clock);
    const auto yesNo = line->answerYes ? platform::MessageAnswer::Yes : platform::MessageAnswer::No;
    std::unique_ptr<platform::WebFrontend> web;
    std::unique_ptr<platform::HeadlessFrontend> headless;
    if (line->frontend == "web") {
        web = std::make_unique<platform::WebFrontend>(loop, std::cerr, yesNo, platform::stopSignalled);
        web->useClock(clock);  // the unattended dialogs' wait follows the monitor's (possibly scaled) time
    } else
        headless = std::make_unique<platform::HeadlessFrontend>(std::cerr, yesNo);
    platform::Frontend& frontend = web ? static_cast<platform::Frontend&>(*web) : *headless;
    platform::RegistryStore registry(line->registryFile.empty() ? platform::RegistryStore::defaultPath()
                                                                : line->registryFile);
    platform::SystemShell shell;
    const std::string certificateFolder =
        line->certificateDir.empty() ? programFolder + "/certificados" : line->certificateDir;
    fiscal::RealComponentFactory components(certificateFolder, frontend);

    context::AppContext ctx(context::Services{clock, frontend, loop, registry, shell, components},
                            context::Locations{.programFolder = programFolder,
                                               .desktopFolder = line->desktopDir,
                                               .devSettingsPath = QUORVANTI_DEV_SETTINGS_PATH});
    if (!line->reprintKey.empty()) {
        try {
            return reprintNFCe(ctx, line->reprintKey, std::cerr);
        } catch (const ProgramExit& exit) {
            return static_cast<int>(exit.status);
        }
    }
    if (line->checkSefaz) return checkSefaz(ctx, certificateFolder, std::cout, std::cerr);
    if (!line->cancelKey.empty() || line->voidFrom != 0 || line->gaps)
        return runFiscalCommand(ctx, *line, std::cout, std::cerr);
    ctx.endWhenIdle = line->once;
    platform::installStopSignals();
    ctx.stopRequested = platform::stopSignalled;
    std::unique_ptr<monitor::OperatorPanel> panel;
    // A second instance ends in start-up; its panel would only overwrite the running one's token.
    if (web && platform::InstanceLock(programFolder + "/quorvanti.lock").acquired()) {
        panel = std::make_unique<monitor::OperatorPanel>(ctx, *web, certificateFolder);
        try {
            startPanel(*web, *line, programFolder);
        } catch (const platform::PanelAddressInUse& error) {
            std::cerr << "quorvanti: " << error.what() << "\n";
            return static_cast<int>(ExitStatus::PanelAddressInUse);
        } catch (const std::exception& error) {
            std::cerr << "quorvanti: " << error.what() << "\n";
            return static_cast<int>(ExitStatus::UsageError);
        }
    }
    const int status = runMonitor(ctx, authorisation::EmiteNFCeVenda);
    if (panel) panel->ended(status);
    if (web) web->stop();
    return status;
}

}  // namespace quorvanti::startup
