// Where a receipt printer's bytes go. The port text decides:
//   "/dev/usb/lp0" (any path starting with "/")   a device file
//   "USB"                                         the first /dev/usb/lp* present
//   "COM1", "COM2", ...                           the n-th serial port (/dev/ttyS0, /dev/ttyS1, ...)
//   "host:port" / "host"                          raw TCP (port 9100 when none is given)
//   "cups:NAME"                                   a raw job on CUPS queue NAME
//   "file:PATH"                                   bytes appended to the file PATH
// A job is collected and leaves in one piece when the port is closed, so a receipt is never
// interleaved with another program's.
// Serial ports (COMn, or a device path that is a terminal) run raw at 115200 baud, 8 data bits, no
// parity, 1 stop bit, with RTS/CTS handshake: the receipt printers' usual serial setting. A TCP
// connection must be made within 5 s. A device or socket that takes no byte for the stall time
// (DeviceFolders, 30 s) fails the close with a message, so a printer that is off never hangs the
// monitor; a TCP job is delivered only once the printer has acknowledged its last byte (a printer
// that accepts the connection and never reads would otherwise lose the job's tail in the socket). "host" alone needs a dot in it
// (or "localhost"): "LPT1" is an unknown port text, not a host name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "printing/devices/device_settings.h"

namespace quorvanti::printing::devices {

class PrinterPort {
public:
    virtual ~PrinterPort() = default;
    // Adds bytes to the job.
    virtual void write(std::string_view bytes) = 0;
    // Sends the job. Answers an empty text, or what went wrong (naming the port or queue).
    virtual std::string close() = 0;
};

struct PortOpening {
    std::unique_ptr<PrinterPort> port;  // null when the port could not be opened
    // 1 when open; 0 or less when not (the vendor libraries' convention): 0 unknown port text,
    // -1 device missing or refused, -2 no such CUPS queue or no CUPS server, -3 TCP connection refused.
    int code = 0;
    std::string problem;  // why, naming the port; empty when open
};

PortOpening openPort(const std::string& portText, const DeviceFolders& folders = {});

}  // namespace quorvanti::printing::devices
