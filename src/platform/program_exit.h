// Ending the program from deep inside a procedure. The Windows program ends the process on the spot in
// several places; here such a stop throws ProgramExit, which is deliberately not a std::exception so
// that the procedures' own error handlers (which catch std::exception) let it pass up to main, where the
// process ends with the status below.
#pragma once

#include <string>

namespace quorvanti {

enum class ExitStatus : int {
    Normal = 0,                    // operator closed the program, or --once found no work
    UsageError = 64,               // bad command line, or a bad QUORVANTI_TIME_SCALE
    AnotherInstanceRunning = 3,    // a second instance ends silently
    SettingsMissing = 4,           // required settings missing: the parameter editor was shown
    EmitterCnpjInvalid = 10,       // "CNPJ invalido"
    EmitterUfInvalid = 11,         // "UF invalido"
    EmitterCodUfInvalid = 12,      // "CODUF invalido do emitente, ..."
    DatabaseConnectionFailed = 13, // MariaDB connection failure message
    StartupError = 14,             // "ERRO SUB Main"
    PanelAddressInUse = 15,        // --frontend web: another program (monitor) listens on the panel's address
    ContingencyRequested = 20,     // "EnviandoNFCEVenda" = "sim": switched to contingency
    TokenMissing = 21,             // empty config.token
    EmitterNotEnabled = 23,        // "nao habilitado"
    EmissionTimeAhead = 24,        // "POSTERIOR"
    WrongEnvironment = 25,         // "AMBIENTE INFORMADO"
    EmissionTimeLate = 26,         // "ATRASAD"
    OperatorStoppedWait = 28,      // No in a wait dialog
    ReprintUnknownKey = 30,        // --reprint: no stored procNFe for that key
    ReprintNotPrinted = 31,        // --reprint: the DANFE did not reach the printer (reason on stderr)
    // 32 is --check-sefaz's (startup/check_sefaz.h).
    FiscalRequestRefused = 33,     // --cancel, --void: the authority refused (its answer on stderr)
    CancellationTooLate = 34,      // --cancel: 501, the state's window has passed
    AuthorityNoAnswer = 35,        // --cancel, --void: no answer; the request stays journalled: run again
    DocumentUnknown = 36,          // --cancel: no authorised NFC-e of that key stored here
    NumbersPartlyUsed = 37,        // --void: the authority holds documents under some numbers of the range
    UnhandledError = 70,           // a run-time error that no handler caught
};

struct ProgramExit {
    ExitStatus status;
    std::string reason;  // for the journal; never holds a secret
};

[[noreturn]] inline void endProgram(ExitStatus status, std::string reason = {}) {
    throw ProgramExit{status, std::move(reason)};
}

}  // namespace quorvanti
