// shell_text_test.cpp - number texts of the edits, the command-line tail and the line setting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/serial_session.h"
#include "shell/command_line.h"
#include "shell/number_text.h"

namespace {

uint32_t Parsed(const char* text, uint32_t before = 0xDEADBEEF) {
    uint32_t field = before;
    shell::ParseNumberText(text, field);
    return field;
}

TEST(ParseNumberText, EveryRowOfTheTable) {
    EXPECT_EQ(Parsed("1000h"), 0x1000u);
    EXPECT_EQ(Parsed("E200h"), 0xE200u);
    EXPECT_EQ(Parsed("e200h"), 0xE200u);
    EXPECT_EQ(Parsed("0x100h"), 0x100u);
    EXPECT_EQ(Parsed("4096"), 4096u);
    EXPECT_EQ(Parsed("0x100"), 0u);
    EXPECT_EQ(Parsed("100H"), 100u);
    EXPECT_EQ(Parsed(""), 0u);
    EXPECT_EQ(Parsed("h", 1234), 1234u);  // nothing read: the field keeps its value
}

TEST(ParseNumberText, NegativeDecimalIsTwosComplementAndBlanksAreSkipped) {
    EXPECT_EQ(Parsed("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(Parsed("  256"), 256u);
    EXPECT_EQ(Parsed(" ffh"), 0xFFu);
}

TEST(ParseNumberText, AFullLengthTextIsReadWithinItsBuffer) {
    std::string text(255, '1');
    text.back() = 'h';
    EXPECT_EQ(Parsed(text.c_str()), 0xFFFFFFFFu);  // %lx saturates, nothing overflows
}

TEST(CommandLineTail, ProgramNameAndBlanksAreRemovedTheRestIsVerbatim) {
    EXPECT_STREQ(shell::CommandLineTail("tq73panel.exe"), "");
    EXPECT_STREQ(shell::CommandLineTail("tq73panel.exe   fw.mot"), "fw.mot");
    EXPECT_STREQ(shell::CommandLineTail("\"C:\\Program Files\\tq73panel.exe\" \"a b.mot\" "), "\"a b.mot\" ");
    EXPECT_STREQ(shell::CommandLineTail("tq73panel.exe one two"), "one two");
    EXPECT_STREQ(shell::CommandLineTail("tq73panel.exe\tx"), "x");
    EXPECT_STREQ(shell::CommandLineTail("\"unterminated"), "");
}

TEST(CopyCutToFit, LongTextsAreCutOnAWholeCharacter) {
    char buffer[256];
    const std::string ascii(300, 'a');
    shell::CopyCutToFit(ascii.c_str(), buffer, 256);
    EXPECT_EQ(std::strlen(buffer), 255u);
    // 254 ASCII characters, then a double-byte character: it does not fit
    // whole in the one place left, so it is left out rather than halved.
    std::string mixed(254, 'b');
    mixed += "\x82\xA0tail";
    shell::CopyCutToFit(mixed.c_str(), buffer, 256);
    EXPECT_EQ(std::strlen(buffer), 254u);
    shell::CopyCutToFit("short", buffer, 256);
    EXPECT_STREQ(buffer, "short");
}

TEST(LineSetting, SessionStateAndTimeouts) {
    const platform::LineState s = wire::SessionLine();
    EXPECT_EQ(s.baud, 38400u);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.parity, platform::Parity::None);
    EXPECT_EQ(s.stopBits, platform::StopBits::One);
    EXPECT_TRUE(s.dtrOn);
    EXPECT_TRUE(s.rtsOn);
    const platform::PortTimeouts t = wire::BuildPortTimeouts(256, 38400);
    EXPECT_EQ(t.readInterval, 2u);
    EXPECT_EQ(t.readTotalMultiplier, 1u);
    EXPECT_EQ(t.readTotalConstant, 2u);
    EXPECT_EQ(t.writeTotalMultiplier, 1u);
    EXPECT_EQ(t.writeTotalConstant, 1000u);
    EXPECT_EQ(wire::BuildPortTimeouts(256, 1200).writeTotalMultiplier, 2u);
}

}  // namespace
