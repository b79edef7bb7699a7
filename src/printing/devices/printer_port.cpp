#include "printing/devices/printer_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/folders.h"
#include "printing/devices/cups_queue.h"

namespace quorvanti::printing::devices {
namespace {

// How often the socket's unacknowledged bytes are looked at while the printer takes the job's tail.
constexpr int kDrainCheckMs = 20;
constexpr int kConnectTimeoutMs = 5000;
constexpr const char* kDefaultTcpPort = "9100";

std::string upper(std::string_view text) {
    std::string out;
    for (char c : text) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

PortOpening failed(int code, std::string problem) {
    PortOpening opening;
    opening.code = code;
    opening.problem = std::move(problem);
    return opening;
}

PortOpening opened(std::unique_ptr<PrinterPort> port) {
    PortOpening opening;
    opening.port = std::move(port);
    opening.code = 1;
    return opening;
}

int pollMs(std::chrono::milliseconds duration) {
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(duration.count(), 0));
}

// Writes everything, waiting while the device or socket is busy; empty text, or why not.
std::string writeAll(int fd, std::string_view bytes, bool socket, std::chrono::milliseconds stall) {
    while (!bytes.empty()) {
        const ssize_t n = socket ? ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                 : ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = ::poll(&waiting, 1, pollMs(stall));
            } while (ready < 0 && errno == EINTR);
            if (ready == 0)
                return "a impressora não recebe dados (desligada, sem papel ou sem conexão); " +
                       std::to_string(bytes.size()) + " bytes não enviados";
            if (ready < 0) return std::strerror(errno);
            continue;
        }
        return n == 0 ? std::string("nada foi gravado") : std::string(std::strerror(errno));
    }
    return {};
}

// A socket's write only hands the bytes to the kernel: a printer that accepted the connection and never
// reads leaves the job's tail in the send queue, and closing would drop it without a word. The job is
// delivered once the printer has acknowledged every byte; no progress for `stall` is a failure.
std::string awaitAcknowledged(int fd, std::chrono::milliseconds stall) {
    using Clock = std::chrono::steady_clock;
    int unsent = 0;
    if (::ioctl(fd, SIOCOUTQ, &unsent) != 0) return {};  // not a TCP socket: nothing to wait for
    auto lastProgress = Clock::now();
    while (unsent > 0) {
        pollfd waiting{fd, 0, 0};  // errors and hang-ups only: they end the wait early
        if (::poll(&waiting, 1, kDrainCheckMs) > 0 && (waiting.revents & (POLLERR | POLLHUP)) != 0) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            return "a impressora encerrou a conexão antes de receber o trabalho (" +
                   std::string(error != 0 ? std::strerror(error) : "conexão fechada") + "); " +
                   std::to_string(unsent) + " bytes não entregues";
        }
        int now = 0;
        if (::ioctl(fd, SIOCOUTQ, &now) != 0) return std::strerror(errno);
        if (now < unsent) lastProgress = Clock::now();
        unsent = now;
        if (unsent > 0 && Clock::now() - lastProgress >= stall)
            return "a impressora aceitou a conexão mas não recebe os dados (ocupada, sem papel ou travada); " +
                   std::to_string(unsent) + " bytes não entregues";
    }
    return {};
}

// Bytes kept until close, then written to a descriptor in one piece.
class DescriptorPort : public PrinterPort {
public:
    DescriptorPort(int fd, std::string name, bool socket, std::chrono::milliseconds stall)
        : fd_(fd), name_(std::move(name)), socket_(socket), stall_(stall) {}
    ~DescriptorPort() override {
        if (fd_ >= 0) ::close(fd_);
    }
    void write(std::string_view bytes) override { job_ += bytes; }
    std::string close() override {
        if (fd_ < 0) return {};
        std::string problem = writeAll(fd_, job_, socket_, stall_);
        if (problem.empty() && socket_) problem = awaitAcknowledged(fd_, stall_);
        if (!problem.empty() && socket_) {
            // A failed job is reprinted: its tail must not reach the printer later as a second, torn copy.
            const linger abort{1, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        if (::close(fd_) != 0 && problem.empty() && errno != EINTR) problem = std::strerror(errno);
        fd_ = -1;
        job_.clear();
        return problem.empty() ? problem : "Porta " + name_ + ": " + problem;
    }

private:
    int fd_;
    std::string name_;
    bool socket_;
    std::chrono::milliseconds stall_;
    std::string job_;
};

class CupsPort : public PrinterPort {
public:
    explicit CupsPort(std::string queue) : queue_(std::move(queue)) {}
    void write(std::string_view bytes) override { job_ += bytes; }
    std::string close() override {
        if (job_.empty()) return {};
        std::string problem = cupsSubmit(queue_, "DANFE NFC-e", job_, "application/vnd.cups-raw");
        job_.clear();
        return problem;
    }

private:
    std::string queue_;
    std::string job_;
};

// Serial receipt printers: 115200 baud, 8 data bits, no parity, 1 stop bit, RTS/CTS handshake (the
// printers' hardware flow control, so a long raster image is never overrun), raw bytes.
void configureSerial(int fd) {
    termios tty{};
    if (::tcgetattr(fd, &tty) != 0) return;
    ::cfmakeraw(&tty);
    ::cfsetispeed(&tty, B115200);
    ::cfsetospeed(&tty, B115200);
    tty.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE);
    tty.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
    ::tcsetattr(fd, TCSANOW, &tty);
}

PortOpening openDevice(const std::string& path, const std::string& portText, std::chrono::milliseconds stall) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return failed(-1, "Não foi possível abrir a porta " + portText + " (" + path + "): " + std::strerror(errno));
    }
    if (::isatty(fd)) configureSerial(fd);
    return opened(std::make_unique<DescriptorPort>(fd, portText, false, stall));
}

// The first /dev/usb/lp* by number.
std::string firstUsbPrinter(const std::string& dev) {
    const std::string folder = platform::withTrailingSlash(dev) + "usb";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return {};
    long best = -1;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() > 2 && name.substr(0, 2) == "lp" && allDigits(name.substr(2)) && name.size() < 12) {
            const long number = std::stol(std::string(name.substr(2)));
            if (best < 0 || number < best) best = number;
        }
    }
    ::closedir(dir);
    return best < 0 ? std::string() : folder + "/lp" + std::to_string(best);
}

PortOpening openTcp(const std::string& host, const std::string& service, const std::string& portText,
                    std::chrono::milliseconds stall) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); status != 0) {
        return failed(-3, "Não foi possível conectar à impressora " + portText + ": " + ::gai_strerror(status));
    }
    std::string why = "sem endereço";
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd waiting{fd, POLLOUT, 0};
                const int ready = ::poll(&waiting, 1, kConnectTimeoutMs);
                socklen_t length = sizeof error;
                if (ready == 0) {
                    error = ETIMEDOUT;
                } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
        }
        if (error == 0) {
            ::freeaddrinfo(found);
            return opened(std::make_unique<DescriptorPort>(fd, portText, true, stall));
        }
        why = error == ETIMEDOUT ? "tempo de conexão esgotado" : std::strerror(error);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return failed(-3, "Não foi possível conectar à impressora " + portText + ": " + why);
}

}  // namespace

PortOpening openPort(const std::string& portText, const DeviceFolders& folders) {
    const std::string text = portText;
    const std::string capitals = upper(text);
    if (text.rfind("file:", 0) == 0) {
        const std::string path = text.substr(5);
        if (path.empty()) return failed(0, "Porta de impressora sem arquivo: \"" + text + "\"");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, platform::kFileMode);
        if (fd < 0) return failed(-1, "Não foi possível abrir a porta " + text + ": " + std::strerror(errno));
        return opened(std::make_unique<DescriptorPort>(fd, text, false, folders.stall));
    }
    if (text.rfind("cups:", 0) == 0) {
        const std::string queue = text.substr(5);
        if (queue.empty()) return failed(-2, "Porta de impressora sem fila do CUPS: \"" + text + "\"");
        if (std::string problem = cupsQueueProblem(queue); !problem.empty())
            return failed(-2, problem + " (porta " + text + ")");
        return opened(std::make_unique<CupsPort>(queue));
    }
    if (!text.empty() && text[0] == '/') return openDevice(text, text, folders.stall);
    if (capitals == "USB") {
        const std::string device = firstUsbPrinter(folders.dev);
        if (device.empty()) {
            return failed(-1, "Não foi possível abrir a porta USB: nenhuma impressora em " +
                                  platform::withTrailingSlash(folders.dev) + "usb/lp*");
        }
        return openDevice(device, text, folders.stall);
    }
    if (capitals.size() > 3 && capitals.substr(0, 3) == "COM" && allDigits(capitals.substr(3)) && capitals.size() < 8) {
        const int number = std::stoi(capitals.substr(3));
        if (number < 1) return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
        return openDevice(platform::withTrailingSlash(folders.dev) + "ttyS" + std::to_string(number - 1), text, folders.stall);
    }
    // host:port, [v6 address]:port, or a host name with a dot ("LPT1" is no host).
    std::string host = text, service = kDefaultTcpPort;
    if (!host.empty() && host[0] == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
        const std::string rest = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!rest.empty()) {
            if (rest[0] != ':' || !allDigits(rest.substr(1))) return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
            service = rest.substr(1);
        }
    } else if (const std::size_t colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) {
        service = host.substr(colon + 1);
        host = host.substr(0, colon);
        if (host.empty() || !allDigits(service)) return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
    } else if (host.find('.') == std::string::npos && capitals != "LOCALHOST") {
        return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
    }
    if (service.size() > 5 || std::stol(service) < 1 || std::stol(service) > 65535) {
        return failed(0, "Porta de impressora desconhecida: \"" + text + "\"");
    }
    return openTcp(host, service, text, folders.stall);
}

}  // namespace quorvanti::printing::devices
