// The CUPS calls the printer layers need: raw jobs for the receipt ports, PDF jobs for the printer
// object. The server is the one libcups finds (CUPS_SERVER, client.conf, the local socket).
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::printing::devices {

// Empty when the server answers and knows the queue `name`; else why not, naming the queue (no
// server, or no such queue), in words the operator can act on.
std::string cupsQueueProblem(const std::string& name);
// True when the server answers and knows the queue `name`.
bool cupsQueueExists(const std::string& name);
// The default destination (LPDEST / PRINTER variables, then the server's); empty when none.
std::string cupsDefaultQueue();
// Submits `document` as one job named `title` to `queue`; `format` is a MIME type
// ("application/vnd.cups-raw", "application/pdf"). Answers an empty text, or the problem naming the queue.
// A job is delivered only when the queue takes it: a stopped (disabled) or rejecting queue is a failure
// before anything is sent, and the job is followed until it is printed (for up to 10 s: a job still
// queued or printing then, in a queue that runs and with a device that answers, is the queue's). A job
// the queue holds, stops or aborts, a queue that stops meanwhile (a failing device stops it) or a device
// the server cannot reach is a failure, and the job is cancelled: the operator reprints it, so it never
// prints twice.
std::string cupsSubmit(const std::string& queue, const std::string& title, std::string_view document,
                       const std::string& format);

}  // namespace quorvanti::printing::devices
