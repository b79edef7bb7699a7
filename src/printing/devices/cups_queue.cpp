// Each call opens its own connection with short time-outs instead of libcups's shared default one,
// whose connect and read waits run to minutes: a missing or stuck server must cost the monitor
// seconds, and the sale stays authorised whatever happens here.
#include "printing/devices/cups_queue.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quorvanti::printing::devices {
namespace {

constexpr int kConnectMilliseconds = 3000;
constexpr double kExchangeSeconds = 15.0;  // one request or one block of the document
constexpr std::size_t kBlockSize = 64 * 1024;

std::string lastError() {
    const char* text = cupsLastErrorString();
    return text != nullptr && *text != '\0' ? text : ippErrorString(cupsLastError());
}

class Connection {
public:
    Connection() {
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
        // Without a callback a wait that runs past the time-out fails the request.
        httpSetTimeout(http_, kExchangeSeconds, nullptr, nullptr);
    }
    ~Connection() {
        if (http_ != nullptr) httpClose(http_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    http_t* get() const { return http_; }
    std::string unreachable(const std::string& queue) const {
        return "Impressora \"" + queue + "\": o servidor CUPS " + server_ + " não responde (" + reason_ + ")";
    }

private:
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
    Connection connection;
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
    Connection connection;
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
    Connection connection;
    http_t* http = connection.get();
    if (http == nullptr) return connection.unreachable(queue);

    const int job = cupsCreateJob(http, queue.c_str(), title.c_str(), 0, nullptr);
    if (job == 0) return refused(queue, "o trabalho");
    auto abandon = [&](const std::string& problem) {
        cupsCancelJob2(http, queue.c_str(), job, 0);
        return problem;
    };

    if (cupsStartDocument(http, queue.c_str(), job, title.c_str(), format.c_str(), 1) != HTTP_STATUS_CONTINUE) {
        return abandon(refused(queue, "o documento do trabalho " + std::to_string(job)));
    }
    for (std::size_t offset = 0; offset < document.size(); offset += kBlockSize) {
        const std::size_t size = std::min(kBlockSize, document.size() - offset);
        if (cupsWriteRequestData(http, document.data() + offset, size) != HTTP_STATUS_CONTINUE) {
            const std::string problem = "Impressora \"" + queue + "\": o envio do trabalho " +
                                        std::to_string(job) + " ao CUPS falhou (" + lastError() + ")";
            cupsFinishDocument(http, queue.c_str());
            return abandon(problem);
        }
    }
    if (cupsFinishDocument(http, queue.c_str()) > IPP_STATUS_OK_CONFLICTING) {
        return abandon(refused(queue, "o documento do trabalho " + std::to_string(job)));
    }
    return {};
}

}  // namespace quorvanti::printing::devices
