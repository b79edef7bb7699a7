#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace quorvanti::platform {
namespace {

TEST(TextEncodingTest, EveryByteOfTheCodePageSurvivesARoundTripAsItsWindowsCharacter) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = windows1252ToUtf8(all);
    EXPECT_EQ(utf8ToWindows1252(utf8), all);
    // The block from 0x80 to 0x9F holds the Windows punctuation.
    EXPECT_EQ(windows1252ToUtf8("\x80\x82\x83\x84\x85\x8A\x8C\x91\x92\x93\x94\x96\x97\x99\x9F"),
              "€‚ƒ„…ŠŒ‘’“”–—™Ÿ");
    EXPECT_EQ(utf8ToWindows1252("€ ‚ƒ„ … † ‡ ˆ ‰ Š ‹ Œ Ž ‘ ’ “ ” • – — ˜ ™ š › œ ž Ÿ"),
              "\x80 \x82\x83\x84 \x85 \x86 \x87 \x88 \x89 \x8A \x8B \x8C \x8E \x91 \x92 \x93 \x94 \x95 \x96 "
              "\x97 \x98 \x99 \x9A \x9B \x9C \x9E \x9F");
    // Latin-1 letters are the same numbers in both.
    EXPECT_EQ(utf8ToWindows1252("Açaí São João ÿ"), "A\xE7" "a\xED S\xE3o Jo\xE3o \xFF");
}

// Characters outside the code page become one question mark each; invalid UTF-8 one per byte, without
// swallowing the next character.
TEST(TextEncodingTest, WhatTheCodePageCannotHoldBecomesQuestionMarks) {
    EXPECT_EQ(utf8ToWindows1252("a日本b"), "a??b");
    EXPECT_EQ(utf8ToWindows1252("x😀y"), "x?y");
    // U+0080 is not the euro sign: byte 0x80 belongs to "€".
    EXPECT_EQ(utf8ToWindows1252("\xC2\x80"), "?");
    EXPECT_EQ(utf8ToWindows1252("\xC5\x81"), "?");  // Ł
    EXPECT_EQ(utf8ToWindows1252("\xC3" "a"), "?a");           // truncated sequence
    EXPECT_EQ(utf8ToWindows1252("\xE2\x82" "x"), "?x");       // truncated three-byte sequence
    EXPECT_EQ(utf8ToWindows1252("\x80z"), "?z");              // stray continuation byte
    EXPECT_EQ(utf8ToWindows1252("\xC0\xAF"), "??");           // overlong "/"
    EXPECT_EQ(utf8ToWindows1252("\xED\xA0\x80"), "???");      // surrogate
    EXPECT_EQ(utf8ToWindows1252("\xF4\x90\x80\x80"), "????"); // beyond U+10FFFF
    EXPECT_EQ(utf8ToWindows1252("\xE2\x82"), "?");            // truncated at the end
}

}  // namespace
}  // namespace quorvanti::platform
