// Where receipt bytes go (ports, printers.ini), the pictures the layers load and write, and the preview
// tool that draws printed bytes as paper.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <tuple>
#include <unistd.h>

#include "printing/devices/daruma_framework.h"
#include "printing/devices/device_settings.h"
#include "printing/devices/epson_interface.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_port.h"
#include "printing/deaf_listener.h"
#include "support/environment_needs.h"
#include "support/temp_dir.h"

namespace quorvanti::printing::devices {
namespace {

using quorvanti::testing::readFile;
using quorvanti::testing::TempDir;
using quorvanti::testing::writeFile;

std::string send(const std::string& portText, const std::string& bytes, const DeviceFolders& folders = {}) {
    PortOpening opening = openPort(portText, folders);
    if (!opening.port) return "not opened: " + opening.problem;
    opening.port->write(bytes);
    return opening.port->close();
}

TEST(PrinterPorts, FilePortsAppendEachJobAndUsbAndComNamesResolveInTheDeviceFolder) {
    TempDir dir;
    writeFile(dir.file("out.bin"), "old;");
    EXPECT_EQ(send("file:" + dir.file("out.bin"), "first;"), "");
    EXPECT_EQ(send("file:" + dir.file("out.bin"), "second"), "");
    EXPECT_EQ(readFile(dir.file("out.bin")), "old;first;second");
    ::mkdir(dir.file("usb").c_str(), 0700);
    for (const char* device : {"usb/lp3", "usb/lp1", "usb/lpt", "ttyS0", "ttyS1"}) writeFile(dir.file(device), "");
    const DeviceFolders folders{dir.path()};
    EXPECT_EQ(send("USB", "to lp1", folders), "");
    EXPECT_EQ(send("COM2", "to ttyS1", folders), "");
    EXPECT_EQ(send(dir.file("ttyS0"), "by path", folders), "");
    EXPECT_EQ(readFile(dir.file("usb/lp1")) + "|" + readFile(dir.file("usb/lp3")) + "|" + readFile(dir.file("ttyS1")) +
                  "|" + readFile(dir.file("ttyS0")),
              "to lp1||to ttyS1|by path");
}

TEST(PrinterPorts, PortsThatCannotOpenGiveANonPositiveCodeNamingThem) {
    TempDir dir;
    const DeviceFolders folders{dir.path()};
    // The port, the code its opening answers, and what its problem names.
    for (const auto& [port, code, named] : std::initializer_list<std::tuple<std::string, int, std::string>>{
             {"USB", -1, "USB"}, {"COM3", -1, "COM3"}, {"/nowhere/lp0", -1, "/nowhere/lp0"},
             {"file:/nowhere/out.bin", -1, "/nowhere/out.bin"}, {"LPT1", 0, "LPT1"},
             {"cups:quorvanti-no-such-queue", -2, "quorvanti-no-such-queue"}, {"127.0.0.1:1", -3, "127.0.0.1:1"}}) {
        const PortOpening opening = openPort(port, folders);
        EXPECT_EQ(std::make_tuple(opening.port == nullptr, opening.code), std::make_tuple(true, code)) << port;
        EXPECT_NE(opening.problem.find(named), std::string::npos) << opening.problem;
    }
    // The layers answer the opening's code and keep its message.
    DeviceSettings settings;
    settings.folders = folders;
    EpsonInterface epson(settings);
    EXPECT_EQ(epson.IniciaPorta("COM3"), -1);
    EXPECT_NE(epson.lastProblem().find("COM3"), std::string::npos);
    EXPECT_EQ(epson.ImprimeTexto("x"), 0);
    DarumaFramework daruma(settings);  // the default port, "USB", is not there
    EXPECT_EQ(daruma.iImprimirTexto_DUAL_DarumaFramework("x", 0), -1);
    EXPECT_NE(daruma.lastProblem().find("USB"), std::string::npos);
}

TEST(DeviceSettingsFile, ReadsPortsAndCodePagesAndNamesAnUnknownPage) {
    TempDir dir;
    std::string problem;
    EXPECT_EQ(readDeviceSettings(dir.path(), &problem).darumaPort, "USB");
    EXPECT_EQ(problem, "");
    writeFile(dir.file("printers.ini"),
              "[DARUMA]\r\nPort=COM2\r\nCodePage=cp860\r\n[BEMATECH]\r\nCodePage=CP437\r\n[EPSON]\r\nCodePage=CP1252\r\n");
    const DeviceSettings s = readDeviceSettings(dir.path(), &problem);
    EXPECT_EQ(std::tie(s.darumaPort, s.darumaCodePage, s.bematechCodePage, s.epsonCodePage),
              std::make_tuple("COM2", CodePage::Cp860, CodePage::Cp850, CodePage::Windows1252));
    EXPECT_NE(problem.find("[BEMATECH] CodePage=CP437"), std::string::npos) << problem;
}

// A BMP of 2 x 2 pixels (top row red, white; bottom row black, blue) at the given depth.
std::string smallBmp(int bits, bool topDown) {
    auto le = [](std::string& out, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    const std::uint32_t colours[2][2] = {{0xFF0000, 0xFFFFFF}, {0x000000, 0x0000FF}};
    const int paletteSize = bits == 8 ? 4 * 4 : bits == 1 ? 2 * 4 : 0;
    const int rowBytes = ((2 * bits + 31) / 32) * 4;
    std::string out = "BM";
    le(out, 54 + paletteSize + rowBytes * 2, 4);
    le(out, 0, 4);
    le(out, 54 + paletteSize, 4);
    for (std::uint32_t v : {40u, 2u, topDown ? static_cast<std::uint32_t>(-2) : 2u}) le(out, v, 4);
    le(out, 1, 2);
    le(out, bits, 2);
    for (std::uint32_t v : {0u, 0u, 3780u * 2, 3780u * 2, bits == 8 ? 4u : 0u, 0u}) le(out, v, 4);
    if (bits == 8) for (std::uint32_t c : {0xFF0000u, 0xFFFFFFu, 0x000000u, 0x0000FFu}) le(out, c, 4);
    if (bits == 1) for (std::uint32_t c : {0x000000u, 0xFFFFFFu}) le(out, c, 4);
    for (int row = 0; row < 2; ++row) {
        const int y = topDown ? row : 1 - row;
        std::string line;
        for (int x = 0; x < 2; ++x) {
            const std::uint32_t c = colours[y][x];
            if (bits == 8) line += static_cast<char>(y * 2 + x);
            if (bits == 24) le(line, c, 3);
            if (bits == 32) le(line, c, 4);
        }
        if (bits == 1) line += static_cast<char>((colours[y][0] == 0xFFFFFF ? 0x80 : 0) | (colours[y][1] == 0xFFFFFF ? 0x40 : 0));
        line.resize(static_cast<std::size_t>(rowBytes), '\0');
        out += line;
    }
    return out;
}

TEST(Pictures, BitmapDepthsAndRowOrder) {
    for (int bits : {8, 24, 32}) {
        for (bool topDown : {false, true}) {
            const Picture picture = decodePicture(smallBmp(bits, topDown));
            ASSERT_EQ(picture.widthPixels, 2);
            EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{0xFFFF0000, 0xFFFFFFFF, 0xFF000000, 0xFF0000FF}))
                << bits << " bits, top-down " << topDown;
            EXPECT_DOUBLE_EQ(picture.widthTwips, 2 * 1440 / (3780 * 2 * 0.0254));  // 192 dpi
        }
    }
    EXPECT_EQ(decodePicture(smallBmp(1, false)).pixels,
              (std::vector<std::uint32_t>{0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFF000000}));
    std::string truncated = smallBmp(24, false);
    truncated.resize(truncated.size() - 3);
    EXPECT_THROW(decodePicture(truncated), PictureError);
    EXPECT_THROW(loadPicture("/nowhere/logo.png"), PictureError);
}

// The exit status of a shell command.
int statusOf(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(PreviewTool, QrCodesOfThePaperAndOfTheBitmapScanBack) {
    const std::string payload = "https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx?p=43240612345678000190650010000001231000001234|2|1|1|ABCDEF";
    TempDir dir;
    DeviceSettings settings;
    settings.darumaPort = "file:" + dir.file("receipt.bin");
    DarumaFramework daruma(settings);
    ASSERT_EQ(daruma.iImprimirTexto_DUAL_DarumaFramework(
                  "<ce><b>CHAVE DE ACESSO</b></ce>\r\n<ce><qrcode>" + payload + "</qrcode></ce>\r\nfim\r\n<gui></gui>", 0), 1);
    ASSERT_EQ(daruma.eGerarQrCodeArquivo_DUAL_DarumaFramework(dir.file("qrcode.bmp"), payload), 1);
    const Picture bitmap = loadPicture(dir.file("qrcode.bmp"));
    EXPECT_EQ(bitmap.widthPixels, bitmap.heightPixels);
    EXPECT_GE(bitmap.widthPixels, 200);

    const std::string tool = std::string(QUORVANTI_BINARY_DIR) + "/quorvanti-receipt";
    ASSERT_EQ(statusOf(tool + " " + dir.file("receipt.bin") + " " + dir.file("receipt.png") + " >" + dir.file("log") + " 2>&1"), 0)
        << readFile(dir.file("log"));
    for (const auto& [arguments, status] : std::initializer_list<std::pair<std::string, int>>{
             {"--help", 0}, {"", 2}, {dir.file("none.bin") + " x.png", 1}, {dir.file("receipt.bin") + " /nowhere/x.png", 1}})
        EXPECT_EQ(statusOf(tool + " " + arguments + " >/dev/null 2>&1"), status) << arguments;
    QUORVANTI_NEEDS(statusOf("command -v zbarimg >/dev/null 2>&1") == 0,
                    "zbarimg is not installed (zbar-tools): the scans were not checked");
    for (const char* picture : {"receipt.png", "qrcode.bmp"}) {
        EXPECT_EQ(quorvanti::testing::commandOutput("zbarimg -q --raw " + dir.file(picture)), payload + "\n") << picture;
    }
}

// A printer that accepts the connection and never reads: its receive window is tiny and nobody takes
// the connection from the backlog, so the job's bytes can only sit in the sockets.
struct DeafPrinter {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string port;
    DeafPrinter() { port = testing::listenDeaf(listener, 1); }
    ~DeafPrinter() { ::close(listener); }
};

TEST(PrinterPorts, ATcpPrinterThatNeverReadsFailsTheJobWithinTheStallTime) {
    DeafPrinter printer;
    ASSERT_FALSE(printer.port.empty());
    DeviceFolders folders;
    folders.stall = std::chrono::milliseconds(300);
    // A job that fits the sockets' buffers (left in the send queue, unacknowledged) and one that does not
    // (the write itself stalls): both are failures, neither hangs.
    for (const std::size_t size : {std::size_t{17783}, std::size_t{8} << 20}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string problem = send(printer.port, std::string(size, 'x'), folders);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << size;
        EXPECT_EQ(problem.rfind("Porta " + printer.port + ": a impressora ", 0), 0u) << problem;
        EXPECT_NE(problem.find(" bytes não "), std::string::npos) << problem;
    }
}

TEST(PrinterPorts, TcpPortDeliversTheJobToTheListener) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    // The kernel completes the connection before accept, so one thread is enough for a small job.
    EXPECT_EQ(send("127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "receipt bytes"), "");
    const int connection = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    std::string received;
    char buffer[64];
    for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(received, "receipt bytes");
    ::close(connection);
    ::close(listener);
}

}  // namespace
}  // namespace quorvanti::printing::devices
