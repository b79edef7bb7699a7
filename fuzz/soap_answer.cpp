// readSoapAnswer over any HTTP status and body, for each service and the message it expects. Besides no
// crash, leak or undefined behaviour: an answer is either a failure or the expected message, never
// both nor neither; a failure has one of the codes of the transport's table (9096-9099, or 9000 + a
// status other than 2xx when no SOAP Fault came) and a UTF-8 text that never names NCM; the message is
// the expected element of the NF-e namespace, inside the envelope the reading keeps alive.
//
// Input: "<HTTP status> <service 0-3>" %% body (parts separated by lines "%%").
#include <libxml/tree.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fiscal_component/sefaz/soap_transport.h"
#include "fiscal_component/document/xml_names.h"
#include "fuzz_support.h"

namespace {

using namespace quorvanti;
using namespace quorvanti::fiscal;
using fuzz::shown;

constexpr WebService kServices[] = {WebService::Authorisation, WebService::ReceiptConsultation,
                                    WebService::ProtocolConsultation, WebService::ServiceStatus};
constexpr const char* kMessages[] = {"retEnviNFe", "retConsReciNFe", "retConsSitNFe", "retConsStatServ"};

bool namesNcm(std::string_view text) {
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) == 'N' &&
            std::toupper(static_cast<unsigned char>(text[i + 1])) == 'C' &&
            std::toupper(static_cast<unsigned char>(text[i + 2])) == 'M')
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parts(fuzz::asText(data, size), 2);
    char* rest = nullptr;
    // curl answers a three-digit status, or 0 when no HTTP answer came.
    const long status = std::labs(std::strtol(input[0].c_str(), &rest, 10)) % 1000;
    const std::size_t which = static_cast<std::size_t>(std::labs(std::strtol(rest, nullptr, 10)) % 4);
    const std::string& body = input[1];

    const SoapReading reading = readSoapAnswer(kServices[which], status, body, kMessages[which]);
    const TransportFailure& failure = reading.failure;
    FUZZ_CHECK(static_cast<bool>(failure) != (reading.message != nullptr),
               "failure " + std::to_string(failure.code) + " with a message: " + shown(failure.text));
    if (failure) {
        const bool ok2xx = status >= 200 && status <= 299;
        const int code = failure.code;
        FUZZ_CHECK(code == kFailureNotXml || code == kFailureMissingMessage || code == kFailureSoapFault ||
                       code == kFailureXmlDocument || (!ok2xx && code == kFailureHttpBase + status),
                   "code " + std::to_string(code) + " for HTTP " + std::to_string(status));
        FUZZ_CHECK(!failure.text.empty() && fuzz::validUtf8(failure.text), shown(failure.text));
        FUZZ_CHECK(!namesNcm(failure.text), shown(failure.text));
        FUZZ_CHECK(reading.envelope == nullptr, "a failed reading keeps its envelope");
        return 0;
    }
    FUZZ_CHECK(status >= 200 && status <= 299, "an answer accepted with HTTP " + std::to_string(status));
    FUZZ_CHECK(reading.envelope != nullptr && reading.message->doc == reading.envelope.get(), "message outside its envelope");
    FUZZ_CHECK(isElement(reading.message, kMessages[which], kNfeNamespace), "not the expected message");
    return 0;
}
