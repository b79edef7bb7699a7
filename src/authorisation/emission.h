// The inside of one run of the emission routine, shared by its phases: building (emission_routine.cpp),
// sending and consultation (sending.cpp), completion and contingency storing (completion.cpp). Not a
// public interface: callers use EmiteNFCeVenda.
#pragma once

#include <memory>
#include <string>

#include "authorisation/attempt_journal.h"
#include "authorisation/emission_routine.h"
#include "context/app_context.h"

namespace quorvanti::authorisation {

// The whole text of a file; raises when it cannot be read.
std::string wholeText(const std::string& path);

// How a phase ended, and where the routine goes next.
enum class Step {
    CommonExit,          // the routine's common exit
    EmitterFailureExit,  // the exit of an item group that dropped the sale (invalid NCM)
    Restart,             // duplicity: emit the same sale again under the next number
    Completion,          // protocol status 100 (or 150)
    Done,                // ended; only the release remains
    Keep,                // the outcome is not known or the sale cannot go now: the row stays for a later try
    Build,               // (recovery) nothing of an earlier attempt stands in the way: build the document
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
    // Follows `key`, this sale's own earlier document, until the authority's answer on it is final.
    Step earlierDocument(const std::string& key);
    // Makes `key` (this sale's own document) the one the emission completes: key, files and number.
    void useOwnDocument(const std::string& key);
    // Takes the number `key` carries as the sale's.
    void takeNumberOf(const std::string& key);
    // True when `failure` is not the one the sale was last kept for (the operator has not heard of it).
    bool isNewFailure(const std::string& failure) const;
    // Every duplicity answer: the document named is this sale's own (complete with it), or the number is
    // another document's (emit again under the next free number; a stored document is never renumbered).
    Step duplicity(const std::string& caption, const std::string& answerText);
    Step rejectionExit();
    // Ends the program with the status of an answer the shop must act on (emitter not enabled, emission
    // time ahead or late, wrong environment); returns when `answer` is none of them.
    void stopIfTheShopMustAct(const std::string& answer);
    // Use denied (301, 302): the number is used; the sale stays queued for a new document.
    Step denied(const std::string& reason);
    // A send the authority did not answer: the row stays for a later try.
    Step keepForOutage();
    // Keeps the row for `reason` with a log line (once per failure) and no message box: an outage is
    // told once, not for every sale it holds up.
    Step keepQuietly(const std::string& reason);
    // Counts an exchange with the authority towards an outage (cStat above 8999: no answer), or ends the
    // outage (an answer); shows the outage box once when 50 exchanges in a row went unanswered.
    void noteExchange(int cStat);
    Step invalidNcmExit();
    Step xmlErrorExit();
    // A Yes/No wait box: No ends the program; Yes ends this attempt with the sale kept, to be consulted
    // again after its retry delay (the monitor goes on with the other sales meanwhile).
    Step keepWaiting(const char* title, const std::string& text);
    // Ends the attempt with the row kept because of `reason`; the operator is told (a message box and a
    // log line) only when it differs from the sale's previous failure.
    Step keep(const std::string& reason, bool tellOperator = true);
    // Tells the operator that the authority's rejection dropped the sale.
    void tellDropped(const std::string& reason);
    // A group procedure failed (its box is shown): nothing is generated from part of a sale.
    Step keepForGroupFailure();
    // The last answer said nothing final about the document: the row stays, the answer named.
    Step keepUnanswered();
    // A deliberate drop: runs `deleteSql` and lets the row go.
    Step drop(const std::string& deleteSql);
    // Recovery before rebuilding: the sale already has a key from an earlier attempt.
    Step recoverEarlierAttempt(const std::string& key);
    // A sale already emitted and recorded (by this or another monitor, in the journal or in nfce_gerada)
    // is completed from the record, never sent again: answers true when it was.
    bool completedFromRecord();
    // The sale cannot go now for `reason` (no document is made): noted in the journal, the row stays, the
    // others go on; the operator hears of it once.
    Step setAside(const std::string& reason);
    // Journals the state of the current document; failures raise (the attempt ends with its row kept).
    void journal(const char* state, const std::string& reason = "");
    // Takes the authorised document `key` and the protocol of `result` as this emission's.
    void adoptAuthorised(const std::string& key, const fiscal::ConsultationResult& result);
    // True when `key` is a document this sale made (now or in an earlier attempt).
    bool isOwnKey(const std::string& key) const;
    // Writes ChaveNFCe for the sale (durably, before anything is sent), keeping the keys it replaces.
    void rememberKey(const std::string& key);
    // The number after `number`, or the next free one in config when that is higher.
    long long nextFreeNumber(long long number);
    // Moves config.NumeroNFCE past `number` unless it already is; doing it twice equals doing it once.
    void advanceNumberPast(long long number);
    bool stopRequested() const { return ctx_.stopRequested(); }
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
    // A pause whose only purpose is to let the operator read a caption: skipped with [Geral]
    // EmissaoRapida=1.
    void sleep(int milliseconds);
    // A wait the authority's pace asks for (an answer not final yet, a send not answered): always taken.
    void wait(int milliseconds);
    void method(const std::string& label);
    void log(const std::string& line);
    void setNumber(long long number);
    std::string procNFePath() const;
    std::string signedPath() const;
    std::string nfceIni() const;
    std::string section() const;
    void readConsultation();
    void monitorShutdownDialog() {
        if (ctx_.showShutdownDialog) ctx_.showShutdownDialog();
    }

    context::AppContext& ctx_;
    context::RunSettings& s_;
    context::EmissionState& e_;
    SaleQueueEntry& in_;
    SaleRef sale_;
    AttemptJournal journal_;
    std::unique_ptr<fiscal::FiscalComponent> component_;
    EmissionOutcome outcome_;

    // Sending and consultation state.
    bool fromStoredDocument_ = false;
    bool completingFoundDocument_ = false;  // an earlier attempt's document, found authorised
    bool restarted_ = false;     // emitting again after a duplicity: the earlier key was just answered
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
