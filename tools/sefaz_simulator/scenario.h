// The scenario: rules that make the local authority depart from its normal answers, for tests and
// rehearsals: answer a given status and text, stay "in processing" for some calls, wait before
// answering, drop the connection without an answer, or answer an HTTP error. A rule selects calls by
// their order (the nth call of a service) or by the access key they carry. The file format is
// described in tools/sefaz_simulator/README.md; in short:
//
//   # comment
//   [call NFeAutorizacao4 1]         the first call of the service (also "2-4", "3+", "*")
//   drop
//   [key 5126...44 digits consulta]  calls carrying this key (service optional: any service)
//   processing = 2                   105 "Lote em processamento" for two calls, then the next rule
//   [key 5126...]
//   protocol = 539                   the document's protocol answers 539 with the standard text
//                                    (for an event: its retEvento; for a voiding: the answer)
//   delay = 200                      milliseconds, before the answer
//
// The first rule (in file order) that matches a call and is not used up decides it. Call numbers
// count from 1 for each service since the scenario was (re)loaded, and uses start again at a reload.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sefaz_simulator/messages/service.h"

namespace quorvanti::sefaz {

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A status code with its text; an empty text means the authority's standard text for the code.
struct ForcedStatus {
    int cStat = 0;
    std::string xMotivo;
};

enum class Drop { No, BeforeProcessing, AfterProcessing };

// What a rule makes of a call. The default action is the authority's normal behaviour.
struct ScenarioAction {
    std::optional<ForcedStatus> status;    // the answer message's own cStat/xMotivo
    std::optional<ForcedStatus> protocol;  // the protocol (protNFe) of the document(s); 100, 150 (use
                                           // authorised), 110, 301-303 (use denied) keep the document;
                                           // an event's retEvento (135, 136, 155 register it); a
                                           // voiding's answer (102 voids the range)
    int delayMs = 0;                       // waited before the answer is sent
    Drop drop = Drop::No;                  // close the connection without an answer
    int httpStatus = 0;                    // answer this HTTP status instead of SOAP (0: no)
};

// The rule that decided a call.
struct ScenarioDecision {
    ScenarioAction action;
    std::string key;     // the key of a key rule ("" for a call rule: every document of the call)
    int line = 0;        // the rule's line in the file; 0 when no rule matched
    long callNumber = 0; // the call's number for its service
};

struct ScenarioRule {
    enum class Kind { Call, Key } kind = Kind::Call;
    std::optional<Service> service;  // always set for a call rule
    long firstCall = 1, lastCall = 1;  // call rules; lastCall -1 = no upper end
    std::string key;                 // key rules
    long times = 0;                  // how many calls the rule decides; 0 = no limit
    ScenarioAction action;
    int line = 0;
};

class Scenario {
public:
    Scenario() = default;
    // Reads a scenario text. Raises ScenarioError "linha N: ..." naming the first fault.
    static Scenario parse(std::string_view text);

    const std::vector<ScenarioRule>& rules() const { return rules_; }

    // Counts one call of `service` carrying `keys` and answers the decision of the first rule that
    // matches it and is not used up (line 0 and the normal action when none does).
    ScenarioDecision decide(Service service, const std::vector<std::string>& keys);

private:
    std::vector<ScenarioRule> rules_;
    std::vector<long> uses_;
    long calls_[kServiceCount] = {};
};

// A scenario file, read again whenever it changes (looked at on every call: a file replaced, touched or
// with other content). A missing file, or no file at all, is an empty scenario. Replace the file whole
// (write another, rename it over) so that a call never reads it half-written.
class ScenarioFile {
public:
    // `path` "" = no scenario. Reads the file now; raises ScenarioError for an invalid one.
    explicit ScenarioFile(std::string path);

    // As Scenario::decide, on the current content of the file. Raises ScenarioError (naming the file
    // and line) while the file is invalid, so that every call shows the mistake until it is mended.
    ScenarioDecision decide(Service service, const std::vector<std::string>& keys);
    // Whether the last decide() read the file again.
    bool reloaded() const { return reloaded_; }

private:
    // What tells one version of the file from another. The content is compared too: two versions of
    // the same size can be written within one tick of the file system's clock onto a reused inode.
    struct Version {
        bool exists = false;
        ino_t inode = 0;
        std::timespec modified{};
        std::string content;
        bool operator==(const Version& other) const;
    };
    Version current() const;
    void load(Version version);

    std::string path_;
    Version loaded_;
    Scenario scenario_;
    std::string error_;
    bool reloaded_ = false;
};

}  // namespace quorvanti::sefaz
