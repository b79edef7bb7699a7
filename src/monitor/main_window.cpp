#include "monitor/main_window.h"

#include "context/program_files.h"
#include "monitor/parameter_editor.h"
#include "monitor/shutdown_dialog.h"
#include "platform/version.h"

namespace quorvanti::monitor {

namespace {

void Form_Load(context::AppContext& ctx) {
    ctx.doEvents();
    ctx.caption(ctx.mainWindow.Label9, versionCaption());
}

// The first activation puts the icon in the notification area and hides the window: it is a tray
// program, shown only while a batch runs.
void firstActivation(context::AppContext& ctx) {
    auto& tray = ctx.mainWindow.tray;
    tray.iconIndex = 0;
    tray.added = true;
    hideMainWindow(ctx);
}

}  // namespace

std::string versionCaption() { return "V." + std::to_string(platform::kVersionRevision); }

void showMainWindow(context::AppContext& ctx) {
    auto& w = ctx.mainWindow;
    const bool first = !w.tray.added;
    w.visible = true;
    ctx.frontend().windowShown(w.kName, true);
    if (first) {
        Form_Load(ctx);
        firstActivation(ctx);
    }
}

void bringMainWindowToFront(context::AppContext& ctx) {
    ctx.mainWindow.visible = true;
    ctx.frontend().windowShown(ctx.mainWindow.kName, true);
}

void hideMainWindow(context::AppContext& ctx) {
    ctx.mainWindow.visible = false;
    ctx.frontend().windowShown(ctx.mainWindow.kName, false);
}

void initCheck1(context::AppContext& ctx) {
    auto& box = ctx.mainWindow.Check1;
    box.checked = ctx.settings.PrintingOff == "1";
    windows::setCaption(ctx.frontend(), box, box.checked ? "Ativar Impressão" : "Desativar Impressão");
}

void Check1_Click(context::AppContext& ctx) {
    auto& box = ctx.mainWindow.Check1;
    box.checked = !box.checked;
    // The caption names what the next click does; the lower-case "impressão" differs from start-up's
    // capitalised caption, as operators have always seen it.
    if (box.checked) {
        context::writeGeral(ctx, "ImprimiNFCESistema", "1");
        windows::setCaption(ctx.frontend(), box, "Ativar impressão");
    } else {
        context::writeGeral(ctx, "ImprimiNFCESistema", "0");
        windows::setCaption(ctx.frontend(), box, "Desativar impressão");
    }
}

void Check2_Click(context::AppContext& ctx) { ctx.mainWindow.Check2.checked = !ctx.mainWindow.Check2.checked; }

void Image3_Click(context::AppContext& ctx) {
    auto& w = ctx.mainWindow;
    w.CloseRequested = true;
    ctx.status("AGUARDE");
    ctx.doEvents();
    w.Label7.foreColor = windows::kRed;
    ctx.caption(w.Label7, "AGUARDE - ENCERRANDO");
}

void Form_Click(context::AppContext& ctx) { ctx.mainWindow.Label2.visible = true; }

void Form_DblClick(context::AppContext& ctx) { showShutdownDialog(ctx); }

void trayMouseMessage(context::AppContext& ctx, int message) {
    if (message == 515) showShutdownDialog(ctx);
    // 517 opens the pop-up menu, whose only item ("Sair") has no action; every other message is ignored.
}

void Command1_Click(context::AppContext& ctx) {
    ParameterEditor editor(ctx);
    ctx.frontend().showModal(editor);
}

void Timer2_Timer(context::AppContext& ctx) {
    auto& w = ctx.mainWindow;
    w.tray.iconIndex = w.animationIndex;
    w.animationIndex = (w.animationIndex + 1) % 3;
}

}  // namespace quorvanti::monitor
