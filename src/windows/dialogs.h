// Models of the modal dialogs: their controls as plain fields. Behaviour lives with the procedures that
// show them.
#pragma once

#include <array>
#include <string>

#include "windows/controls.h"

namespace quorvanti::windows {

// The shutdown dialog.
struct frm_encerrar {
    static constexpr const char* kName = "frm_encerrar";
    Label Label1{kName, "Label1", "Deseja encerrar o monitor de NFC-e?"};
    CommandButton Command1{kName, "Command1", "Encerrar"};
    CommandButton Command2{kName, "Command2", "Voltar"};
    CommandButton Command3{kName, "Command3", "Status WS"};
    CommandButton btnCertificado{kName, "btnCertificado", "Certificado"};
};

// The fiscal parameter editor: one box per required setting, in this order.
struct frm_ini {
    static constexpr const char* kName = "frm_ini";
    static constexpr std::array<const char*, 4> kKeys{"ambienteNFCE", "CSC", "CertificadoSerie", "IDtoken"};
    std::array<TextBox, 4> tx{TextBox{kName, "tx(0)", ""}, TextBox{kName, "tx(1)", ""}, TextBox{kName, "tx(2)", ""},
                              TextBox{kName, "tx(3)", ""}};
    CommandButton Command1{kName, "Command1", "Gravar"};
    Label Label1{kName, "Label1", "Parâmetros da NFC-e"};
    Label Label2{kName, "Label2", "Ambiente (1 produção, 2 homologação)"};
    Label Label3{kName, "Label3", "CSC (código de segurança do contribuinte)"};
    Label Label4{kName, "Label4", "Número de série do certificado"};
    Label Label5{kName, "Label5", "Identificador do CSC"};
};

// The consumer document dialog.
struct frm_cpfC {
    static constexpr const char* kName = "frm_cpfC";
    static constexpr const char* kCaption = "CPF/CNPJ na nota";
    TextBox Text1{kName, "Text1", ""};
    Label Label1{kName, "Label1", "DIGITE OU DEIXE EM BRANCO E TECLE ENTER"};
};

}  // namespace quorvanti::windows
