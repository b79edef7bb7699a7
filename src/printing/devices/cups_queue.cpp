// Each call opens its own connection with short time-outs instead of libcups's shared default one,
// whose connect and read waits run to minutes: a missing or stuck server must cost the monitor
// seconds, and the sale stays authorised whatever happens here.
#include "printing/devices/cups_queue.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace quorvanti::printing::devices {
namespace {

constexpr int kConnectMilliseconds = 3000;
// The whole of one call, however often libcups retries within it. A server that accepts the
// connection and then stays silent costs this much, not minutes.
constexpr auto kQueryBudget = std::chrono::seconds(5);
constexpr auto kSubmitBudget = std::chrono::seconds(20);
constexpr std::size_t kBlockSize = 64 * 1024;
// How long a submitted job is followed. A job still waiting its turn or printing by then, in a queue
// that runs and with a device that answers, is the queue's to print; one the queue stops or holds, or
// whose device fails, is seen well within it (a receipt takes a second or two).
constexpr auto kFollowBudget = std::chrono::seconds(10);
constexpr auto kFollowStep = std::chrono::milliseconds(100);

std::string lastError() {
    const char* text = cupsLastErrorString();
    return text != nullptr && *text != '\0' ? text : ippErrorString(cupsLastError());
}

class Connection {
public:
    explicit Connection(std::chrono::steady_clock::duration budget)
        : deadline_(std::chrono::steady_clock::now() + budget) {
        server_ = cupsServer();
        // Created unconnected (no wait) so that a refused connection keeps its reason.
        http_ = httpConnect2(server_.c_str(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 0, nullptr);
        if (http_ == nullptr) {
            reason_ = lastError();
            return;
        }
        if (httpReconnect2(http_, kConnectMilliseconds, nullptr) != 0) {
            // libcups reports every failed address as "host is down"; a missing socket says more.
            struct stat socketFile;
            const int error = server_[0] == '/' && ::stat(server_.c_str(), &socketFile) != 0 ? errno : httpError(http_);
            reason_ = error != 0 ? std::strerror(error) : "sem resposta";
            httpClose(http_);
            http_ = nullptr;
            return;
        }
        // Waits are checked every second against the call's deadline.
        httpSetTimeout(http_, 1.0, &Connection::keepWaiting, this);
    }
    ~Connection() {
        if (http_ != nullptr) httpClose(http_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    http_t* get() const { return http_; }
    bool expired() const { return std::chrono::steady_clock::now() >= deadline_; }
    std::string unreachable(const std::string& queue) const {
        return "Impressora \"" + queue + "\": o servidor CUPS " + server_ + " não responde (" + reason_ + ")";
    }
    // A failure that is not the server's answer (silence, a closed connection, not a CUPS server).
    std::string silent(const std::string& queue) const {
        return "Impressora \"" + queue + "\": o servidor CUPS " + server_ + " não respondeu ao pedido (" +
               (expired() ? std::string("tempo esgotado") : lastError()) + ")";
    }
    bool answered() const { return !expired() && httpGetStatus(http_) == HTTP_STATUS_OK; }

private:
    static int keepWaiting(http_t* http, void* self) {
        if (!static_cast<Connection*>(self)->expired()) return 1;
        // Past the deadline: the connection is closed so that libcups's retries end too.
        httpShutdown(http);
        return 0;
    }

    std::chrono::steady_clock::time_point deadline_;
    std::string server_;
    std::string reason_;
    http_t* http_ = nullptr;
};

std::string refused(const std::string& queue, const std::string& what) {
    return "Impressora \"" + queue + "\": o CUPS recusou " + what + " (" + lastError() + ")";
}

// CUPS queue names are printable characters other than space, "/", "\\", "#", quotes (and at most 127 bytes).
bool validQueueName(const std::string& name) {
    if (name.empty() || name.size() > 127) return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == 127 || c == '/' || c == '\\' || c == '#' || c == '"' || c == '\'') return false;
    }
    return true;
}

ipp_t* queueRequest(ipp_op_t operation, const std::string& queue) {
    ipp_t* request = ippNewRequest(operation);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     queue.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    return request;
}


// What the server says of a queue; nullopt when it does not know it (or did not answer).
struct QueueState {
    int state = IPP_PSTATE_IDLE;
    bool accepting = true;
    std::string message;  // printer-state-message, else the reasons
};

std::string attributeText(ipp_t* response, const char* name) {
    ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
    std::string text;
    for (int i = 0; attribute != nullptr && i < ippGetCount(attribute); ++i) {
        const char* value = ippGetString(attribute, i, nullptr);
        if (value == nullptr || *value == '\0' || std::strcmp(value, "none") == 0) continue;
        text += (text.empty() ? "" : ", ") + std::string(value);
    }
    return text;
}

std::optional<QueueState> queueState(http_t* http, const std::string& queue) {
    ipp_t* request = queueRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
    static const char* const attributes[] = {"printer-name", "printer-state", "printer-is-accepting-jobs",
                                             "printer-state-message", "printer-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 5, nullptr, attributes);
    ipp_t* response = cupsDoRequest(http, request, "/");
    std::optional<QueueState> found;
    if (response != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING &&
        ippFindAttribute(response, "printer-name", IPP_TAG_NAME) != nullptr) {
        QueueState state;
        if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM)) state.state = ippGetInteger(a, 0);
        if (ipp_attribute_t* a = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
            state.accepting = ippGetBoolean(a, 0) != 0;
        state.message = attributeText(response, "printer-state-message");
        if (state.message.empty()) state.message = attributeText(response, "printer-state-reasons");
        found = state;
    }
    ippDelete(response);
    return found;
}

// Why a queue that exists takes no job now; empty when it runs.
std::string queueRefusal(const std::string& queue, const QueueState& state) {
    const std::string why = state.message.empty() ? "" : " (" + state.message + ")";
    if (state.state == IPP_PSTATE_STOPPED)
        return "Impressora \"" + queue + "\": a fila está parada no CUPS" + why + "; reative a fila (cupsenable " +
               queue + ") e reimprima";
    if (!state.accepting)
        return "Impressora \"" + queue + "\": a fila não aceita trabalhos no CUPS" + why +
               "; libere a fila (cupsaccept " + queue + ") e reimprima";
    return {};
}

int jobState(http_t* http, int jobId) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const attributes[] = {"job-state"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr, attributes);
    ipp_t* response = cupsDoRequest(http, request, "/");
    // A job the server no longer lists has left the queue: its history is not kept.
    int state = cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? IPP_JSTATE_COMPLETED : 0;
    if (response != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) {
        if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) state = ippGetInteger(a, 0);
    }
    ippDelete(response);
    return state;
}

const char* jobStateName(int state) {
    switch (state) {
        case IPP_JSTATE_HELD: return "retido";
        case IPP_JSTATE_STOPPED: return "parado";
        case IPP_JSTATE_CANCELED: return "cancelado";
        case IPP_JSTATE_ABORTED: return "abortado";
        case IPP_JSTATE_PENDING: return "pendente";
        default: return "não impresso";
    }
}

std::string environmentQueue() {
    for (const char* variable : {"LPDEST", "PRINTER"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}

// Device states that mean the job in hand is not reaching paper.
bool deviceAway(const std::string& reasons) {
    return reasons.find("offline") != std::string::npos || reasons.find("connecting-to-device") != std::string::npos;
}

// Follows job `jobId` on `queue` (see cupsSubmit); empty when it was printed, or when by the deadline the
// queue still has it in hand with a device that answers.
std::string followJob(const std::string& queue, int jobId) {
    const auto deadline = std::chrono::steady_clock::now() + kFollowBudget;
    for (;;) {
        Connection connection(kQueryBudget);
        if (connection.get() == nullptr) return connection.unreachable(queue) + " depois de receber o trabalho";
        const int state = jobState(connection.get(), jobId);
        if (state == IPP_JSTATE_COMPLETED) return {};
        const std::optional<QueueState> queueNow = queueState(connection.get(), queue);
        const std::string why = queueNow && !queueNow->message.empty() ? " (" + queueNow->message + ")" : "";
        const bool late = std::chrono::steady_clock::now() + kFollowStep >= deadline;
        std::string problem = queueNow ? queueRefusal(queue, *queueNow) : std::string();
        if (problem.empty() && state >= IPP_JSTATE_HELD && state != IPP_JSTATE_PROCESSING)
            problem = "Impressora \"" + queue + "\": o CUPS deixou o trabalho " + std::to_string(jobId) + " " +
                      jobStateName(state) + why + "; verifique a impressora e reimprima";
        if (problem.empty() && late && queueNow && deviceAway(queueNow->message))
            problem = "Impressora \"" + queue + "\": o CUPS não alcança a impressora" + why +
                      "; verifique se está ligada e conectada e reimprima";
        if (!problem.empty()) {
            // The operator reprints it: a job left in the queue would print a second copy later.
            if (state < IPP_JSTATE_CANCELED) cupsCancelJob2(connection.get(), queue.c_str(), jobId, 1);
            return problem;
        }
        // Pending or printing in a queue that runs, by the deadline: the queue has it in hand.
        if (late) return {};
        std::this_thread::sleep_for(kFollowStep);
    }
}

}  // namespace

std::string cupsQueueProblem(const std::string& name) {
    if (!validQueueName(name)) return "Impressora \"" + name + "\": nome de fila CUPS inválido";
    Connection connection(kQueryBudget);
    if (connection.get() == nullptr) return connection.unreachable(name) + "; verifique se o CUPS está no ar";
    const std::optional<QueueState> state = queueState(connection.get(), name);
    if (state) return {};
    if (!connection.answered() && cupsLastError() > IPP_STATUS_OK_CONFLICTING &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
        return connection.silent(name);
    return "Impressora \"" + name + "\": fila não encontrada no CUPS (confira o nome da impressora na configuração)";
}

bool cupsQueueExists(const std::string& name) { return cupsQueueProblem(name).empty(); }

std::string cupsDefaultQueue() {
    if (std::string named = environmentQueue(); !named.empty()) return named;
    Connection connection(kQueryBudget);
    if (connection.get() == nullptr) return {};
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    static const char* const attributes[] = {"printer-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr, attributes);
    ipp_t* response = cupsDoRequest(connection.get(), request, "/");
    std::string name;
    if (response != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) {
        if (ipp_attribute_t* attribute = ippFindAttribute(response, "printer-name", IPP_TAG_NAME)) {
            if (const char* text = ippGetString(attribute, 0, nullptr)) name = text;
        }
    }
    ippDelete(response);
    return name;
}

std::string cupsSubmit(const std::string& queue, const std::string& title, std::string_view document,
                       const std::string& format) {
    if (!validQueueName(queue)) return "Impressora \"" + queue + "\": nome de fila CUPS inválido";
    Connection connection(kSubmitBudget);
    http_t* http = connection.get();
    if (http == nullptr) return connection.unreachable(queue);
    if (const std::optional<QueueState> state = queueState(http, queue)) {
        if (std::string refusal = queueRefusal(queue, *state); !refusal.empty()) return refusal;
    }

    // One Print-Job request carrying the document, on this connection alone: libcups's job calls
    // look the queue up again on connections of their own, without this call's deadline. The server
    // creates the job only once the whole document has arrived, so a broken upload leaves nothing.
    const std::string resource = "/printers/" + queue;
    ipp_t* request = queueRequest(IPP_OP_PRINT_JOB, queue);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
    http_status_t status = cupsSendRequest(http, request, resource.c_str(), ippLength(request) + document.size());
    for (std::size_t offset = 0; status == HTTP_STATUS_CONTINUE && offset < document.size(); offset += kBlockSize) {
        status = cupsWriteRequestData(http, document.data() + offset, std::min(kBlockSize, document.size() - offset));
    }
    ippDelete(request);
    ipp_t* response = status == HTTP_STATUS_CONTINUE ? cupsGetResponse(http, resource.c_str()) : nullptr;
    const bool answered = response != nullptr && connection.answered();
    const bool accepted = answered && cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
    int jobId = 0;
    if (accepted) {
        if (ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)) jobId = ippGetInteger(id, 0);
    }
    ippDelete(response);
    if (!accepted) return answered ? refused(queue, "o trabalho") : connection.silent(queue);
    return jobId > 0 ? followJob(queue, jobId) : std::string();
}

}  // namespace quorvanti::printing::devices
