// Where receipt bytes go (printers.ini is the layers' code-page case; a printer that stalls is the fault
// test's TcpPrinterThatNeverReads row).
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "printing/devices/device_settings.h"
#include "printing/devices/printer_port.h"
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

}  // namespace
}  // namespace quorvanti::printing::devices
