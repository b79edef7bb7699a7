// The main window's model: the small status panel that lives in the notification area. Its controls
// carry the captions every procedure writes; behaviour lives in the monitor library.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/ui/event_loop.h"
#include "windows/controls.h"

namespace quorvanti::windows {

// The notification-area icon record as the window fills it (a frontend that draws a tray icon reads it).
struct TrayIconRecord {
    std::uint32_t cbSize = 88;
    std::uint32_t uID = 1;
    std::uint32_t uFlags = 7;             // message, icon and tip
    std::uint32_t uCallbackMessage = 513;
    int iconIndex = 0;                    // which of the three imgIcon pictures is shown
    std::string szTip = "MONITORANDO NFC-e";
    bool added = false;
};

struct frmEmitirNFCe {
    static constexpr const char* kName = "frmEmitirNFCe";

    Label Label1{kName, "Label1", "NFCe - Nota Fiscal de Venda Consumidor Final"};
    Label Label2{kName, "Label2", "COD.OP:", false};
    Label Label3{kName, "Label3", ""};
    Label Label4{kName, "Label4", ""};
    Label Label5{kName, "Label5", "Impressora"};
    Label Label6{kName, "Label6", "Nº NFC-e:"};
    Label Label7{kName, "Label7", "ENCERRAR"};
    Label Label8{kName, "Label8", "AMB:"};
    Label Label9{kName, "Label9", "VERSÃO"};
    Label Label10{kName, "Label10", "NFCe(s) a enviar: "};
    Label Label11{kName, "Label11", "0000"};
    Label Label12{kName, "Label12", "0"};
    Label Label13{kName, "Label13", "Nº Terminal:"};
    Label Label14{kName, "Label14", "NORMAL"};
    Label Label15{kName, "Label15", "Envio:"};
    Label Label17{kName, "Label17", ""};
    // The method label: names the component operation in progress; error log lines start with it.
    Label MethodLabel{kName, "MethodLabel", ""};
    CheckBox Check1{kName, "Check1", "Desativar Impressão"};
    CheckBox Check2{kName, "Check2", "CPF - NOTA"};
    CommandButton Command1{kName, "Command1", "Configurar"};
    CommandButton btnConfigurar{kName, "btnConfigurar", ""};
    // The NFC-e QR code of the last receipt, as the Windows-printer layouts draw it.
    Image ImgNFCE{kName, "ImgNFCE", ""};

    platform::Timer Timer1{"Timer1", std::chrono::milliseconds(3000), false};
    platform::Timer Timer2{"Timer2", std::chrono::milliseconds(1000), true};

    TrayIconRecord tray;
    int animationIndex = 0;
    bool visible = false;
    // Set by the close commands; honoured only between sales.
    bool CloseRequested = false;
    // Path of the signed XML of the sale being emitted.
    std::string SignedXmlPath;
    // The protocol XML of the last NFC-e, as the rich-text box shows it.
    std::string rtfb;
};

}  // namespace quorvanti::windows
