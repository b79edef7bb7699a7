// The inside of one run of the emission routine, shared by its phases: building (emission_routine.cpp),
// sending and consultation (sending.cpp), completion and contingency storing (completion.cpp). Not a
// public interface: callers use EmiteNFCeVenda.
#pragma once

#include <memory>
#include <string>

#include "authorisation/emission_routine.h"
#include "context/app_context.h"

namespace quorvanti::authorisation {

// How a phase ended, and where the routine goes next.
enum class Step {
    CommonExit,          // the routine's common exit
    EmitterFailureExit,  // the exit of a failed emitter group or a dropped item group
    Restart,             // duplicity: emit the same sale again under the next number
    Completion,          // protocol status 100
    Done,                // ended; only the release remains
};

class Emission {
public:
    Emission(context::AppContext& ctx, SaleQueueEntry& entry);
    EmissionOutcome run();

private:
    // Building (numbering, gathering, groups, generation, validation).
    Step build();
    // Sending and consultation.
    Step send();
    Step readSendAnswer();
    Step consult();
    Step reception();
    Step afterReception();
    Step earlierDocument();
    Step duplicityRecovery(const std::string& caption);
    Step rejectionExit();
    Step invalidNcmExit();
    Step xmlErrorExit();
    // A Yes/No wait box: Yes keeps waiting, No ends the program.
    void keepWaiting(const char* title, const std::string& text);
    // Completion, contingency storing and the not-sent exits.
    Step complete();
    Step storeContingencyDocument();
    Step notSent();
    void completionTail(bool fromStoredDocument);
    void GravaNFCeGerada(const std::string& protocoloEdata);

    // Exits.
    EmissionOutcome commonExit();
    EmissionOutcome emitterFailureExit();
    void release();

    // Helpers.
    std::string esc(const std::string& value) const;
    void sleep(int milliseconds);
    void method(const std::string& label);
    void log(const std::string& line);
    void setNumber(long long number);
    std::string procNFePath() const;
    std::string signedPath() const;
    void readConsultation();
    void monitorShutdownDialog() {
        if (ctx_.showShutdownDialog) ctx_.showShutdownDialog();
    }

    context::AppContext& ctx_;
    context::RunSettings& s_;
    context::EmissionState& e_;
    SaleQueueEntry& in_;
    std::unique_ptr<fiscal::FiscalComponent> component_;
    EmissionOutcome outcome_;

    // Sending and consultation state.
    bool fromStoredDocument_ = false;
    long long numberSent_ = 0;   // the number the document being sent carries
    double sendAttempts_ = 0;
    int waitCount_ = 0;
    int cStat_ = 0;
    int protocolStatus_ = 0;
    std::string reasonText_;
    std::string receiptText_;
    std::string itemPosition_;
    std::string printMarker_;
};

}  // namespace quorvanti::authorisation
