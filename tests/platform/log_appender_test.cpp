#include "platform/log_appender.h"

#include "support/error_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace quorvanti::platform {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// The message of the LogWriteError raised by appending to `path`; "" when nothing was raised.
std::string failureOf(const std::string& path) {
    return testing::errorText<LogWriteError>([&] { appendLogLine(path, "linha"); });
}

std::string osReason(int error) { return std::system_category().message(error); }

TEST(LogAppenderTest, AppendsEachLineAsWindows1252EndedByCrLfCreatingTheFile) {
    TempDir dir;
    const std::string log = dir.file("LOG_NFCE.txt");
    writeFile(log, "anterior\r\n");
    appendLogLine(log, "Venda 12 - Açaí €");
    appendLogLine(log, "");
    appendLogLine(log, "Venda 13: Rejeição");
    EXPECT_EQ(readFile(log), "anterior\r\nVenda 12 - A\xE7" "a\xED \x80\r\n\r\nVenda 13: Rejei\xE7\xE3o\r\n");
    // A missing log file is created.
    appendLogLine(dir.file("novo.txt"), "primeira");
    EXPECT_EQ(readFile(dir.file("novo.txt")), "primeira\r\n");
}

TEST(LogAppenderTest, FailureToOpenOrWriteNamesThePathAndTheReason) {
    TempDir dir;
    const std::string missingFolder = dir.file("Desktop/LOG_NFCE.txt");
    EXPECT_NE(failureOf(missingFolder).find(missingFolder), std::string::npos);
    EXPECT_NE(failureOf(missingFolder).find(osReason(ENOENT)), std::string::npos);

    writeFile(dir.file("arquivo"), "x");  // a parent that is a file fails even for root
    const std::string underFile = dir.file("arquivo/LOG_NFCE.txt");
    EXPECT_NE(failureOf(underFile).find(underFile), std::string::npos);
    EXPECT_NE(failureOf(underFile).find(osReason(ENOTDIR)), std::string::npos);

    EXPECT_NE(failureOf(dir.path()).find(osReason(EISDIR)), std::string::npos);

    // A failure to write raises too.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    const std::string message = failureOf("/dev/full");
    EXPECT_NE(message.find("/dev/full"), std::string::npos);
    EXPECT_NE(message.find(osReason(ENOSPC)), std::string::npos);
}

}  // namespace
}  // namespace quorvanti::platform
