// The monitor's command line:
//   quorvanti [--app-dir DIR] [--frontend headless|web] [--once] [--desktop-dir DIR] [--registry FILE]
//             [--cert-dir DIR] [--answer-yes-no yes|no] [--listen HOST:PORT] [--tls CERT KEY]
//             [--panel-name NAME[,NAME...]] [--reprint KEY] [--panel-url] [--check-sefaz]
//             [--cancel KEY --reason TEXT] [--void FROM TO --reason TEXT] [--gaps]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvanti::startup {

struct CommandLine {
    std::string appDir;          // program folder; "" = the executable's folder
    std::string frontend = "headless";
    bool once = false;           // end after the first poll that finds no work
    std::string desktopDir;      // "" = $XDG_DESKTOP_DIR or ~/Desktop
    std::string registryFile;    // "" = the default registry store
    std::string certificateDir;  // "" = <program folder>/certificados
    bool answerYes = true;       // how the headless frontend answers Yes/No boxes
    bool help = false;
    // The web panel (--frontend web): where it listens, and its TLS certificate and key (required off
    // the loopback).
    std::string listenHost = "127.0.0.1";
    int listenPort = 0;  // 0: a free port
    std::string tlsCertificate, tlsKey;
    // Other names the panel is reached by (--panel-name, repeatable, comma-separated); with --tls the
    // first names the page's address.
    std::vector<std::string> panelNames;
    std::string reprintKey;      // --reprint: print the stored NFC-e of this key again and end
    bool panelUrl = false;       // --panel-url: print the panel's address with its kept token and end
    bool checkSefaz = false;     // --check-sefaz: check the connection to each web service and end
    std::string cancelKey;       // --cancel: cancel this authorised NFC-e (with --reason) and end
    long long voidFrom = 0, voidTo = 0;  // --void: void this range of numbers (with --reason) and end
    std::string reason;          // --reason: the justification of --cancel and --void
    bool gaps = false;           // --gaps: list the numbers neither used nor voided and end
};

// Parses the arguments (without the program name). On a bad argument answers nullopt and sets `error`.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string& error);

// The usage text.
const char* usageText();

}  // namespace quorvanti::startup
