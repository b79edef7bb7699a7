// Where receipt bytes go (ports, printers.ini) and the pictures the layers load. The QR codes the layers
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
    // What the layers make of it reaches the log: the printing test of failed receipts names each port.
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

// A BMP of 2 x 2 pixels (top row red, white; bottom row black, blue) at the given depth (the 1-bit ones
// are the QR bitmaps, which the receipt tests scan).
std::string smallBmp(int bits, bool topDown) {
    std::string out = "BM";
    const auto le = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    const std::uint32_t colours[4] = {0xFF0000, 0xFFFFFF, 0x000000, 0x0000FF};
    const std::uint32_t palette = bits == 8 ? 16 : 0, rowBytes = (2 * bits + 31) / 32 * 4;
    for (std::uint32_t v : {54 + palette + rowBytes * 2, 0u, 54 + palette, 40u, 2u, topDown ? ~1u : 2u}) le(v, 4);
    le(1, 2), le(bits, 2);
    for (std::uint32_t v : {0u, 0u, 3780u * 2, 3780u * 2, bits == 8 ? 4u : 0u, 0u}) le(v, 4);  // 192 dpi
    if (bits == 8) for (std::uint32_t c : colours) le(c, 4);
    for (int row = 0; row < 2; ++row) {
        const int y = topDown ? row : 1 - row;
        const std::size_t start = out.size();
        for (int x = 0; x < 2; ++x)
            bits == 8 ? le(static_cast<std::uint32_t>(y * 2 + x), 1) : le(colours[y * 2 + x], bits / 8);
        out.resize(start + rowBytes, '\0');
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
    std::string truncated = smallBmp(24, false);
    truncated.resize(truncated.size() - 3);
    EXPECT_THROW(decodePicture(truncated), PictureError);
    EXPECT_THROW(loadPicture("/nowhere/logo.png"), PictureError);
}

// Delivery to a printer that reads is the end-to-end fault test's reprint.
TEST(PrinterPorts, ATcpPrinterThatNeverReadsFailsTheJobWithinTheStallTime) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const std::string port = testing::listenDeaf(listener, 1);
    ASSERT_FALSE(port.empty());
    DeviceFolders folders;
    folders.stall = std::chrono::milliseconds(300);
    // A job that fits the sockets' buffers (left in the send queue, unacknowledged) and one that does not
    // (the write itself stalls): both are failures, neither hangs.
    for (const std::size_t size : {std::size_t{17783}, std::size_t{8} << 20}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string problem = send(port, std::string(size, 'x'), folders);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << size;
        EXPECT_EQ(problem.rfind("Porta " + port + ": a impressora ", 0), 0u) << problem;
        EXPECT_NE(problem.find(" bytes não "), std::string::npos) << problem;
    }
    ::close(listener);
}

}  // namespace
}  // namespace quorvanti::printing::devices
