// Behaviour of the main window `frmEmitirNFCe`: showing and hiding around a batch, the tray icon, the
// print check box and the close command.
#pragma once

#include "context/app_context.h"
#include "context/program_end.h"

namespace quorvanti::monitor {

// Shows the window (modeless). The first showing runs the load and first-activation handlers: the
// version label is set, the tray icon is added and the window hides itself until a batch shows it.
void showMainWindow(context::AppContext& ctx);
// Shows the window and brings it to the front (batch start).
void bringMainWindowToFront(context::AppContext& ctx);
void hideMainWindow(context::AppContext& ctx);

// Sets the print check box's state and caption as start-up leaves them: checked with "Ativar Impressão"
// when printing is off ("1"), else cleared with "Desativar Impressão".
void initCheck1(context::AppContext& ctx);
// The operator clicks the print check box: toggles it, writes "ImprimiNFCESistema" and recaptions it.
void Check1_Click(context::AppContext& ctx);
// The operator clicks "CPF - NOTA": toggles it; the recipient group reads the state.
void Check2_Click(context::AppContext& ctx);

// The close command: requests the end of the program after the current sale.
void Image3_Click(context::AppContext& ctx);
// Window click: the sale-code label becomes visible.
void Form_Click(context::AppContext& ctx);
// Window double-click, version label double-click and tray double-click: the shutdown dialog.
void Form_DblClick(context::AppContext& ctx);
// A tray-icon mouse message (515 double-click: shutdown dialog; 517 right button: pop-up menu).
void trayMouseMessage(context::AppContext& ctx, int message);
// The configuration button: the fiscal parameter editor, modally.
void Command1_Click(context::AppContext& ctx);
// The tray animation tick.
void Timer2_Timer(context::AppContext& ctx);

// "V." followed by the program's revision number.
std::string versionCaption();

}  // namespace quorvanti::monitor
