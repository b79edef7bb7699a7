// The command line of quorvanti-sefaz (its contract is in main.cpp's header and the README).
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvanti::sefaz {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    std::string host;               // --listen HOST:PORT
    int port = -1;                  //   0 = any free port
    std::string stateFolder;        // --state DIR
    std::string tlsCertificate;     // --tls CERT KEY
    std::string tlsKey;
    std::string clientCa;           // --client-ca CA
    std::string scenarioFile;       // --scenario FILE
    std::string trustedAuthorities; // --trust CA
    std::string schemaFolder;       // --schemas DIR
    std::string uf = "MT";          // --uf UF
    int environment = 2;            // --environment 1|2
    bool plainTexts = false;        // --plain-texts
    int clockToleranceMinutes = 5;  // --clock-tolerance MINUTES|off (off = -1)
    int cancelWindowMinutes = 30;   // --cancel-window MINUTES
    bool lateCancel = false;        // --late-cancel
    std::map<std::string, std::string> cscs;  // --csc ID:CSC (repeatable; ID without leading zeros)
    bool quiet = false;             // --quiet
    bool help = false;              // --help
};

// Reads the arguments after the program name. Raises UsageError naming the fault.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The usage text printed by --help and after a usage error.
const char* usageText();

}  // namespace quorvanti::sefaz
