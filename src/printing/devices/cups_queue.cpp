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

namespace quorvanti::printing::devices {
namespace {

constexpr int kConnectMilliseconds = 3000;
// The whole of one call, however often libcups retries within it. A server that accepts the
// connection and then stays silent costs this much, not minutes.
constexpr auto kQueryBudget = std::chrono::seconds(5);
constexpr auto kSubmitBudget = std::chrono::seconds(20);
constexpr std::size_t kBlockSize = 64 * 1024;

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

std::string environmentQueue() {
    for (const char* variable : {"LPDEST", "PRINTER"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}

}  // namespace

bool cupsQueueExists(const std::string& name) {
    if (!validQueueName(name)) return false;
    Connection connection(kQueryBudget);
    if (connection.get() == nullptr) return false;
    ipp_t* request = queueRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
    static const char* const attributes[] = {"printer-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr, attributes);
    ipp_t* response = cupsDoRequest(connection.get(), request, "/");
    const bool found = response != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING &&
                       ippFindAttribute(response, "printer-name", IPP_TAG_NAME) != nullptr;
    ippDelete(response);
    return found;
}

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
    ippDelete(response);
    if (accepted) return {};
    return answered ? refused(queue, "o trabalho") : connection.silent(queue);
}

}  // namespace quorvanti::printing::devices
