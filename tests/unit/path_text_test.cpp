// path_text_test.cpp - carrying file names exactly: the UTF-16/UTF-8 conversions and their
// refusals, the byte paths of Linux, and the firmware path from the wide
// command line.
#include <gtest/gtest.h>

#include <string>

#include "platform/path_text.h"
#include "shell/command_line.h"

namespace {

using platform::PathCarry;

std::string Utf8Of(const std::u16string& in, PathCarry& carry, int cap = platform::kPathBytes) {
    char out[platform::kPathBytes + 8];
    carry = platform::Utf16ToUtf8(in.data(), static_cast<int>(in.size()), out, cap);
    return out;
}

TEST(PathText, Utf16NamesBecomeTheirExactUtf8) {
    const struct {
        std::u16string in;
        const char* want;
    } cases[] = {
        {u"C:\\fw\\unit.mot", "C:\\fw\\unit.mot"},
        {u"J\u00E9r\u00F4me.bin", "J\xC3\xA9r\xC3\xB4me.bin"},
        {u"\u30C7\u30FC\u30BF.bin", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.bin"},
        {u"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1"},
        {u"\U0001F600.bin", "\xF0\x9F\x98\x80.bin"},  // a surrogate pair
    };
    for (const auto& c : cases) {
        PathCarry carry = PathCarry::Invalid;
        EXPECT_EQ(Utf8Of(c.in, carry), c.want);
        EXPECT_EQ(carry, PathCarry::Ok);
        char16_t back[platform::kPathChars + 1];
        ASSERT_EQ(platform::Utf8ToUtf16(c.want, back, platform::kPathChars + 1), PathCarry::Ok);
        EXPECT_EQ(std::u16string(back), c.in);
    }
}

TEST(PathText, HalfACharacterOrTooManyIsRefusedWholeNeverCut) {
    const struct {
        std::u16string in;
        PathCarry want;
    } cases[] = {
        {u"a\xD800", PathCarry::Unpaired},  // high surrogate at the end
        {u"a\xD800"
         u"b",
         PathCarry::Unpaired},  // high surrogate before a plain unit
        {u"\xDC00"
         u"a",
         PathCarry::Unpaired},  // low surrogate alone
        {std::u16string(256, u'a'), PathCarry::TooLong},
        {std::u16string(256, u'\u30C7'), PathCarry::TooLong},
    };
    for (const auto& c : cases) {
        PathCarry carry = PathCarry::Ok;
        EXPECT_EQ(Utf8Of(c.in, carry), "");
        EXPECT_EQ(carry, c.want);
    }
    // 255 characters of three bytes each fill the field exactly.
    PathCarry carry = PathCarry::Invalid;
    EXPECT_EQ(Utf8Of(std::u16string(255, u'\u30C7'), carry).size(), 765u);
    EXPECT_EQ(carry, PathCarry::Ok);
    // A buffer too small is refused too, not filled with a cut name.
    EXPECT_EQ(Utf8Of(u"J\u00E9r\u00F4me", carry, 4), "");
    EXPECT_EQ(carry, PathCarry::TooLong);
}

TEST(PathText, BytesThatAreNotOneWellFormedUtf8CharacterAreRefused) {
    const char* const invalid[] = {
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong '/'
        "\xED\xA0\x80",      // an encoded surrogate
        "\xF4\x90\x80\x80",  // above 10FFFF
        "\xE3\x83",          // cut short
        "\x80",              // a continuation byte alone
        "a\xFF",
    };
    for (const char* in : invalid) {
        char16_t out[8] = {u'x'};
        EXPECT_EQ(platform::Utf8ToUtf16(in, out, 8), PathCarry::Invalid) << in;
        EXPECT_EQ(out[0], 0);
    }
    char16_t out[platform::kPathChars + 1];
    EXPECT_EQ(platform::Utf8ToUtf16(std::string(256, 'a').c_str(), out, platform::kPathChars + 1), PathCarry::TooLong);
}

TEST(PathText, LinuxBytePathsCountCharactersNotBytes) {
    std::string accented;
    for (int i = 0; i < 255; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(platform::CheckBytePath(accented.c_str()), PathCarry::Ok);
    EXPECT_EQ(platform::CheckBytePath((accented + "x").c_str()), PathCarry::TooLong);
    EXPECT_EQ(platform::CheckBytePath("\xFF\xFE raw bytes"), PathCarry::Ok);  // any bytes, as given
}

// A read must never land on a port, a console or a disk, whatever the folder.
TEST(PathText, WindowsDeviceNamesAreToldInAnyFolderAndWithAnyExtension) {
    const char* const devices[] = {
        "NUL",
        "nul.bin",
        "C:\\work\\NUL.bin",
        "Z:\\tmp\\com1",
        "COM9.txt",
        "lpt1",
        "con",
        "AUX.tar.gz",
        "prn ",
        "nul  .bin",
        "CONIN$",
        "conout$.log",
        "COM\xC2\xB9",
        "LPT\xC2\xB3.x",
        "\\\\.\\COM12",
        "//./PhysicalDrive0",
        "\\\\?\\GLOBALROOT\\Device\\Null",
        "\\??\\C:\\x",
    };
    for (const char* path : devices) EXPECT_TRUE(platform::NamesWindowsDevice(path)) << path;
    const char* const files[] = {
        "COM10", "COM0",      "console.bin",      "nul_.bin",  "C:\\NUL\\flash.bin",
        "LPT",   "auxiliary", "\\\\?\\C:\\x.bin", "flash.bin", "C:\\work\\com1x.bin",
        "",
    };
    for (const char* path : files) EXPECT_FALSE(platform::NamesWindowsDevice(path)) << path;
}

TEST(FirmwarePathFromCommandLine, OneEnclosingPairOfQuotesGoesTheRestIsVerbatim) {
    const struct {
        std::u16string line;
        const char* want;
    } cases[] = {
        {u"tq73panel.exe", ""},
        {u"tq73panel.exe fw.mot", "fw.mot"},
        {u"tq73panel.exe \"Z:\\a b\\\u30C7\u30FC\u30BF.mot\"", "Z:\\a b\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.mot"},
        {u"\"C:\\Program Files\\tq73panel.exe\" \"x y.mot\"", "x y.mot"},
        {u"tq73panel.exe one two", "one two"},            // several words: one path
        {u"tq73panel.exe \"x y.mot\" ", "\"x y.mot\" "},  // the quotes do not enclose the tail
        {u"tq73panel.exe \"a\" \"b\"", "\"a\" \"b\""},    // nor here: two pairs
        {u"tq73panel.exe \"", "\""},
        {u"tq73panel.exe \"\"", ""},
    };
    for (const auto& c : cases) {
        char path[platform::kPathBytes];
        EXPECT_EQ(shell::FirmwarePathFromCommandLine(c.line.c_str(), path, platform::kPathBytes), PathCarry::Ok);
        EXPECT_STREQ(path, c.want);
    }
}

TEST(FirmwarePathFromCommandLine, ATailThatCannotBeCarriedLeavesNoPath) {
    char path[platform::kPathBytes];
    const std::u16string longTail = u"tq73panel.exe " + std::u16string(256, u'\u00E9');
    EXPECT_EQ(shell::FirmwarePathFromCommandLine(longTail.c_str(), path, platform::kPathBytes), PathCarry::TooLong);
    EXPECT_STREQ(path, "");
    // The quotes do not count against the 255 characters.
    const std::u16string quoted = u"tq73panel.exe \"" + std::u16string(255, u'\u00E9') + u"\"";
    EXPECT_EQ(shell::FirmwarePathFromCommandLine(quoted.c_str(), path, platform::kPathBytes), PathCarry::Ok);
    const std::u16string half = u"tq73panel.exe a\xD800.mot";
    EXPECT_EQ(shell::FirmwarePathFromCommandLine(half.c_str(), path, platform::kPathBytes), PathCarry::Unpaired);
    EXPECT_STREQ(path, "");
}

}  // namespace
