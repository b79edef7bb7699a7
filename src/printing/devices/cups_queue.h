// The CUPS calls the printer layers need: raw jobs for the receipt ports, PDF jobs for the printer
// object. The server is the one libcups finds (CUPS_SERVER, client.conf, the local socket).
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::printing::devices {

// True when the server answers and knows the queue `name`.
bool cupsQueueExists(const std::string& name);
// The default destination (LPDEST / PRINTER variables, then the server's); empty when none.
std::string cupsDefaultQueue();
// Submits `document` as one job named `title` to `queue`; `format` is a MIME type
// ("application/vnd.cups-raw", "application/pdf"). Answers an empty text, or the problem naming the queue.
std::string cupsSubmit(const std::string& queue, const std::string& title, std::string_view document,
                       const std::string& format);

}  // namespace quorvanti::printing::devices
