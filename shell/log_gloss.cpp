// log_gloss.cpp - one row per Japanese text of the console.
#include "shell/log_gloss.h"

#include <cstdio>
#include <cstring>

namespace shell {

namespace {

struct Gloss {
    const char* japanese;  // CP932 (this file is compiled to it)
    const char* english;
    bool prefix;  // the text goes on with numbers, carried over as they stand
};

// Longer texts first where one begins another ("書込中" before "書込").
constexpr Gloss kGlosses[] = {
    {"ﾌﾞﾛｯｸ消去 ", "block erase ", true},
    {"書込中", "writing", false},
    {"書込", "write ", true},
    {"更新完了", "update complete", false},
    {"更新失敗 err: ", "update failed, err: ", true},
    {"機種が適合しません", "the model does not match", false},
    {"ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません", "the firmware file has no model information", false},
    {"開始!!", "start!!", false},
    {"停止!!", "stop!!", false},
    {"FLASH WRITE 異常", "flash write failure", false},
    {"FLASH READ 異常", "flash read failure", false},
    {"FLASH ERASE 異常", "flash erase failure", false},
    {"COMがオープンできません", "the COM port cannot be opened", false},
};

}  // namespace

bool GlossOf(const char* cp932, char* english, size_t cap) {
    if (cap == 0) return false;
    english[0] = '\0';
    for (const Gloss& g : kGlosses) {
        const size_t n = std::strlen(g.japanese);
        if (std::strncmp(cp932, g.japanese, n) != 0) continue;
        if (!g.prefix && cp932[n] != '\0') continue;
        if (g.prefix && cp932[n] == '\0') continue;
        std::snprintf(english, cap, "%s%s", g.english, g.prefix ? cp932 + n : "");
        return true;
    }
    return false;
}

}  // namespace shell
