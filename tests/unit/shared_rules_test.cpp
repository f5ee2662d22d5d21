// shared_rules_test.cpp - rules that the window and tq73 both ask: the top of
// the address space, and a text the unit can store (this system's code page
// 932 conversion, one character at a time).
#include <gtest/gtest.h>

#include <string>

#include "operations/address_space.h"
#include "platform/unit_text.h"

namespace {

TEST(SharedRules, AWriteOrEraseMustEndAtTheTopOfTheAddressSpace) {
    const struct {
        uint64_t start, length;
        bool past;
    } cases[] = {
        {0, 0x1000000, false},    {0, 0x1000001, true},    {0xFFFFFF, 1, false},         {0xFFFFFF, 2, true},
        {0xFFFF00, 0x100, false}, {0xFFFF00, 0x101, true}, {0xFFFFFF, 0xFFFFFFFF, true}, {0x3000, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ops::RunsPastTopOfAddressSpace(c.start, c.length), c.past) << std::hex << c.start << "+" << c.length;
    }
}

TEST(SharedRules, TheFirstCharacterTheUnitCannotStoreIsNamed) {
    const struct {
        const char* text;
        bool lacks;
        const char* character;
        uint32_t code;
        bool notUtf8;
    } cases[] = {
        // The texts are UTF-8 bytes: the program's literals are code page 932.
        {"", false, "", 0, false},
        {"TQ7300 #1", false, "", 0, false},
        // "ﾌﾞﾛｯｸ消去 更新完了 αβ"
        {"\xEF\xBE\x8C\xEF\xBE\x9E\xEF\xBE\x9B\xEF\xBD\xAF\xEF\xBD\xB8\xE6\xB6\x88\xE5\x8E\xBB "
         "\xE6\x9B\xB4\xE6\x96\xB0\xE5\xAE\x8C\xE4\xBA\x86 \xCE\xB1\xCE\xB2",
         false, "", 0, false},
        // "Ελλάδα": Greek without accents is in the code page, with them not
        {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1", true, "\xCE\xAC", 0x3AC, false},
        {"ok \xF0\x9F\x98\x80", true, "\xF0\x9F\x98\x80", 0x1F600, false},
        {"100\xC2\xA5", true, "\xC2\xA5", 0xA5, false},  // the yen sign reads back as a backslash at best
        {"abc\xFF", true, "?", 0xFF, true},
        {"\xE6\x9B", true, "?", 0xE6, true},  // a character cut short
    };
    for (const auto& c : cases) {
        platform::TextRefusal refusal;
        EXPECT_EQ(platform::FindCharacterCp932Lacks(c.text, refusal), c.lacks) << c.text;
        if (!c.lacks) continue;
        EXPECT_STREQ(refusal.character, c.character) << c.text;
        EXPECT_EQ(refusal.codePoint, c.code) << c.text;
        EXPECT_EQ(refusal.notUtf8, c.notUtf8) << c.text;
        EXPECT_STREQ(refusal.text, c.text);
    }
}

}  // namespace
