// Where receipt bytes go and the pictures the layers load (printers.ini is the layers' code-page case). The QR codes the layers
// draw are scanned from whole receipts (the layout tests).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <tuple>

#include "printing/devices/device_settings.h"
#include "printing/devices/picture.h"
#include "printing/devices/printer_port.h"
#include "printing/deaf_listener.h"
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
    std::filesystem::create_directory(dir.file("usb"));
    // (A device by its path is the missing-device fault test's reprint.)
    for (const char* device : {"usb/lp3", "usb/lp1", "usb/lpt", "ttyS0", "ttyS1"}) writeFile(dir.file(device), "");
    const DeviceFolders folders{dir.path()};
    EXPECT_EQ(send("USB", "to lp1", folders), "");
    EXPECT_EQ(send("COM2", "to ttyS1", folders), "");
    EXPECT_EQ(readFile(dir.file("usb/lp1")) + "|" + readFile(dir.file("usb/lp3")) + "|" + readFile(dir.file("ttyS1")),
              "to lp1||to ttyS1");
}

TEST(PrinterPorts, PortsThatCannotOpenGiveANonPositiveCodeNamingThem) {
    TempDir dir;
    const DeviceFolders folders{dir.path()};
    // The port, the code its opening answers, and what its problem names.
    for (const auto& [port, code, named] : std::initializer_list<std::tuple<std::string, int, std::string>>{
             {"USB", -1, "USB"}, {"/nowhere/lp0", -1, "/nowhere/lp0"}, {"LPT1", 0, "LPT1"},
             {"cups:quorvanti-no-such-queue", -2, "quorvanti-no-such-queue"}, {"127.0.0.1:1", -3, "127.0.0.1:1"}}) {
        const PortOpening opening = openPort(port, folders);
        EXPECT_EQ(std::make_tuple(opening.port == nullptr, opening.code), std::make_tuple(true, code)) << port;
        EXPECT_NE(opening.problem.find(named), std::string::npos) << opening.problem;
    }
    // What the layers make of it reaches the log: the printing test of failed receipts names each port.
}

// A logo as a shop keeps it: a 24-bit BMP of 2 x 2 pixels (top row red, white; bottom row black, blue),
// stored bottom-up, at 192 dpi.
std::string logoBmp() {
    std::string out = "BM";
    const auto le = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    for (std::uint32_t v : {54u + 16, 0u, 54u, 40u, 2u, 2u}) le(v, 4);
    le(1, 2), le(24, 2);
    for (std::uint32_t v : {0u, 0u, 3780u * 2, 3780u * 2, 0u, 0u}) le(v, 4);
    for (const auto& [left, right] : {std::pair{0x000000u, 0x0000FFu}, {0xFF0000u, 0xFFFFFFu}})
        le(left, 3), le(right, 3), le(0, 2);  // each row padded to 8 bytes
    return out;
}

// (The 1-bit bitmaps are the QR codes, which the receipt tests scan.)
TEST(Pictures, ALogoIsReadAtItsSizeAndACutFileRefused) {
    const Picture picture = decodePicture(logoBmp());
    ASSERT_EQ(picture.widthPixels, 2);
    EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{0xFFFF0000, 0xFFFFFFFF, 0xFF000000, 0xFF0000FF}));
    EXPECT_DOUBLE_EQ(picture.widthTwips, 2 * 1440 / (3780 * 2 * 0.0254));  // 192 dpi
    std::string truncated = logoBmp();
    truncated.resize(truncated.size() - 3);
    EXPECT_THROW(decodePicture(truncated), PictureError);
    EXPECT_THROW(loadPicture("/nowhere/logo.png"), PictureError);
}

// Delivery to a printer that reads is the end-to-end fault test's reprint; a receipt that fits the sockets'
// buffers, left unacknowledged, and the reset of its connection are its TcpPrinterThatNeverReads row. Here
// a job that does not fit: the write itself stalls, and fails within the stall time instead of hanging.
TEST(PrinterPorts, ATcpPrinterThatNeverReadsFailsAJobLargerThanTheSocketsWithinTheStallTime) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const std::string port = testing::listenDeaf(listener, 1);
    ASSERT_FALSE(port.empty());
    DeviceFolders folders;
    folders.stall = std::chrono::milliseconds(300);
    const auto start = std::chrono::steady_clock::now();
    const std::string problem = send(port, std::string(std::size_t{8} << 20, 'x'), folders);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(problem.rfind("Porta " + port + ": a impressora ", 0), 0u) << problem;
    EXPECT_NE(problem.find(" bytes não "), std::string::npos) << problem;
    ::close(listener);
}

}  // namespace
}  // namespace quorvanti::printing::devices
