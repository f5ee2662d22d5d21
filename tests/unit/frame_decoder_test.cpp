// frame_decoder_test.cpp - every request and answer of the command set read
// back into words, damaged frames, boot-mode steps and their replies, and the
// Japanese texts' English.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/frame_decoder.h"
#include "shell/log_gloss.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A frame with its checksum summed here, apart from the code under test.
Bytes Framed(uint8_t command, const Bytes& payload) {
    Bytes f(payload.size() + 4);
    f[0] = 0x02;
    f[1] = command;
    f[2] = static_cast<uint8_t>(payload.size() & 0xFF);
    f[3] = static_cast<uint8_t>(payload.size() >> 8);
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    f.push_back(0x03);
    unsigned sum = 0;
    for (uint8_t b : f) sum += b;
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x0D);
    return f;
}

std::string Decode(shell::FrameDecoder& d, char letter, const Bytes& f, long long ms = -1) {
    return d.Frame(letter, f.data(), static_cast<int>(f.size()), static_cast<int>(f.size()), ms).text;
}

struct RequestRow {
    Bytes frame;
    const char* text;
};

TEST(FrameDecoder, EveryRequestOfTheCommandSet) {
    const Bytes patternTable(53, 0x02);
    Bytes write4 = Hex("84003000");
    write4.insert(write4.end(), {1, 2, 3, 4});
    Bytes pattern = Hex("83000000");
    pattern.insert(pattern.end(), patternTable.begin(), patternTable.end());
    const RequestRow rows[] = {
        {Framed(0x20, Hex("6E26040506")), "clock set 2026-12-08 04:05:06"},
        {Framed(0x20, Hex("00000000 00")), "clock set 2000-01-01 00:00:00"},
        {Framed(0x20, Hex("E90E2A3456")), "clock set 2010-06-14 2A:34:56 (not packed BCD)"},
        {Framed(0x20, Hex("6E2604")), "clock set (payload 3 bytes, the command takes 5)"},
        {Framed(0x21, {}), "clock query"},
        {Framed(0x22, Hex("05")), "request 0x22, value 0x05"},
        {Framed(0x30, Hex("07")), "record command 0, value 0x07"},
        {Hex("023102000200033A0D"), "record command 1, length byte 0x02, value 0x00"},
        {Framed(0x32, Hex("02")), "request 0x32, value 0x02"},
        {Framed(0x40, Hex("003000000107")), "address command 0x003000, count 256, value 0x07"},
        {Hex("024105005D004C04FD03F50D"), "scaled command, level 0x005D, span 0x044C, code 0xFD"},
        {Hex("0250060004003000000103900D"), "flash read 0x003000, 256 bytes"},
        {Framed(0x50, write4), "flash write 0x003000, 4 bytes"},
        {Hex("025006004400E200000103820D"), "flash erase 0x00E200, 256 bytes"},
        {Hex("02500400830000000"
             "3DC0D"),
         "pattern write, empty"},
        {Framed(0x50, pattern), "pattern write, 53 bytes"},
        {Hex("02500600810000000300"
             "03DF0D"),
         "record write, selector 0, 2 bytes"},
        {Framed(0x50, Hex("020000001000")), "area read, 16 bytes"},
        {Framed(0x50, Hex("99000000")), "memory access, unknown sub-code 0x99"},
        {Framed(0x50, Hex("8400")), "flash write (payload 2 bytes, a memory access takes at least 4)"},
        {Framed(0x50, Hex("0400300000")), "flash read (payload 5 bytes, the command takes 6)"},
        {Hex("0260000003650D"), "stop request"},
        {Hex("0261000003660D"), "resume request"},
        {Framed(0x62, {}), "request 0x62"},
        {Framed(0x70, {}), "model request p (0x70)"},
        {Framed(0x71, {}), "model request q (0x71)"},
        {Framed(0x72, {}), "model request r (0x72)"},
        {Framed(0x61, Hex("00")), "resume request (payload 1 bytes, the command takes 0)"},
        {Framed(0x99, {}), "unknown command 0x99"},
    };
    for (const RequestRow& row : rows) {
        shell::FrameDecoder d;
        EXPECT_EQ(Decode(d, 'T', row.frame), row.text);
    }
}

TEST(FrameDecoder, TheStopRequestAfterItsWakeByte) {
    shell::FrameDecoder d;
    EXPECT_STREQ(d.WakeByte(1000).text, "wake byte 5C");
    EXPECT_EQ(Decode(d, 'T', Framed(0x60, {}), 1050), "stop request, after the wake byte 5C (+50 ms)");
    EXPECT_EQ(Decode(d, 'T', Framed(0x60, {}), 1610), "stop request (+560 ms)");
}

struct AnswerRow {
    Bytes request;
    Bytes answer;
    int length;  // as the line gives it; 0: the answer's size
    const char* text;
};

TEST(FrameDecoder, AnswersNamedAfterTheirRequest) {
    const Bytes read = Hex("0250060004003000000103900D");
    const Bytes erase = Hex("025006004400E200000103820D");
    Bytes data256(256, 0x5A);
    const Bytes readAnswer = Framed('0', data256);
    Bytes badSum = Framed('0', {});
    badSum[5] = 0x12;
    Bytes noEtx = Framed('0', {});
    noEtx[4] = 0x00;
    Bytes noCr = Framed('0', {});
    noCr[6] = 0x0A;
    const Bytes cut = Bytes(readAnswer.begin(), readAnswer.begin() + 8);
    const AnswerRow rows[] = {
        {read, readAnswer, 0, "answer to flash read 0x003000: accepted, 256 data bytes"},
        {erase, Framed('1', {}), 0, "answer to flash erase 0x00E200: refused, status 0x31"},
        {Framed(0x71, {}), Framed('0', {}), 0, "answer to model request q (0x71): accepted"},
        {Framed(0x71, {}), Framed('2', {}), 0, "answer to model request q (0x71): refused, status 0x32"},
        {Framed(0x60, {}), Framed('9', Hex("01")), 0, "answer to stop request: refused, status 0x39, 1 data byte"},
        {Framed(0x21, {}), Framed('0', Hex("6E2604050602")), 0,
         "answer to clock query: accepted, 6 data bytes: clock 2026-12-08 04:05:06, weekday 2"},
        {Framed(0x21, {}), Framed('1', {}), 0, "answer to clock query: refused, status 0x31"},
        {read, badSum, 0, "answer to flash read 0x003000: accepted; bad checksum: 0x12, want 0x35"},
        {read, noEtx, 0, "answer to flash read 0x003000: accepted; no ETX: 0x00 where 03 belongs"},
        {read, noCr, 0, "answer to flash read 0x003000: accepted; no CR: 0x0A where 0D belongs"},
        {read, cut, 0, "answer to flash read 0x003000: accepted, 256 data bytes; cut: 8 of 263 bytes"},
        {{}, Framed('0', {}), 0, "answer: accepted"},
        {{}, Hex("FF300000"), 0, "not a frame: it begins with 0xFF, not STX"},
        {{}, Hex("0230"), 0, "cut: 2 bytes, too few for a frame's header"},
    };
    for (const AnswerRow& row : rows) {
        shell::FrameDecoder d;
        if (!row.request.empty()) Decode(d, 'T', row.request);
        EXPECT_EQ(Decode(d, 'R', row.answer), row.text);
    }
}

TEST(FrameDecoder, ALineThatShowsOnlyTheFirst64BytesIsNotCalledDamaged) {
    Bytes write = Hex("84003000");
    write.resize(260, 0x11);
    const Bytes f = Framed(0x50, write);
    shell::FrameDecoder d;
    const shell::Decoding got = d.Frame('T', f.data(), 64, static_cast<int>(f.size()), -1);
    EXPECT_STREQ(got.text,
                 "flash write 0x003000, 256 bytes [the line shows 64 of 267 bytes: the checksum is not checked]");
}

std::vector<std::string> BootRun(const std::vector<std::pair<Bytes, int>>& steps) {
    shell::BootDecoder boot;
    std::vector<std::string> texts;
    for (const auto& step : steps) {
        std::vector<shell::Decoding> out;
        boot.Host(step.first.data(), static_cast<int>(step.first.size()), -1, out);
        for (const auto& d : out) texts.push_back(d.text);
        if (step.second >= 0) texts.push_back(boot.Reply(static_cast<uint8_t>(step.second), -1).text);
    }
    return texts;
}

TEST(BootDecoder, ARunWithRightAndWrongRepliesAndErrorStatuses) {
    Bytes page(128, 0x01);
    page[0] = 0x80;  // sum 0x80 + 127 = 0xFF
    const std::vector<std::string> want = {
        "block erase code 0x0A (0x3000-0x33FF)",
        "erase status 0x00: no error",
        "block erase code 0x03 (0xA000-0xBFFF)",
        "erase status 0xA0: error, bit 0x20 set (the block is not erased)",
        "block erase code 0x01 (0xE000-0xEFFF)",
        "erase status 0x20: no error",
        "block erase code 0x09 (no such block); the code's repeat is 0x0A",
        "erase status 0x00: no error",
        "enter write mode W",
        "write mode reply 0xAA: right",
        "page address 0x3080",
        "address echo 0xB0: right",
        "page data 0x3080, 128 bytes, sum 0xFF",
        "data sum echo 0xFF: right",
        "program page 0x3080 U",
        "program status 0x90: error, bit 0x10 set (the page is not programmed)",
        "page address 0xA000",
        "address echo 0xA1, want 0xA0: wrong",
        "page data 0xA000, 128 bytes, sum 0xFF",
        "data sum echo 0x12, want 0xFF: wrong",
        "program page 0xA000 U",
        "program status 0x00: no error",
        "end 0xFF: back to the application (no reply)",
        "reply 0x55 to no step",
    };
    const auto got = BootRun({{Hex("450A0A"), 0x00},
                              {Hex("450303"), 0xA0},
                              {Hex("450101"), 0x20},
                              {Hex("45090A"), 0x00},
                              {Hex("57"), 0xAA},
                              {Hex("8030"), 0xB0},
                              {page, 0xFF},
                              {Hex("55"), 0x90},
                              {Hex("00A0"), 0xA1},
                              {page, 0x12},
                              {Hex("55"), 0x00},
                              {Hex("FF"), 0x55}});
    EXPECT_EQ(got, want);
}

TEST(BootDecoder, AWrongReplyToWriteMode) {
    EXPECT_EQ(BootRun({{Hex("57"), 0x55}}),
              (std::vector<std::string>{"enter write mode W", "write mode reply 0x55, want 0xAA: wrong"}));
}

TEST(DecodeHostStream, FramesWakeBytesAndABootRunInOneCapture) {
    Bytes stream = Hex("5C");
    for (const Bytes& part : {Framed(0x60, {}), Framed(0x71, {}), Hex("450A0A578030")}) {
        stream.insert(stream.end(), part.begin(), part.end());
    }
    stream.insert(stream.end(), 128, 0xFF);
    for (const Bytes& part : {Hex("55FF"), Framed(0x61, {}), Hex("7F"), Hex("0250")}) {
        stream.insert(stream.end(), part.begin(), part.end());
    }
    std::vector<std::string> got;
    for (const shell::StreamItem& item : shell::DecodeHostStream(stream.data(), stream.size())) {
        got.push_back(std::to_string(item.offset) + " " + item.decoding.text);
    }
    const std::vector<std::string> want = {
        "0 wake byte 5C",
        "1 stop request, after the wake byte 5C",
        "8 model request q (0x71)",
        "15 block erase code 0x0A (0x3000-0x33FF)",
        "18 enter write mode W",
        "19 page address 0x3080",
        "21 page data 0x3080, 128 bytes, sum 0x80",
        "149 program page 0x3080 U",
        "150 end 0xFF: back to the application (no reply)",
        "151 resume request",
        "158 byte 0x7F outside a frame",
        "159 cut: 2 bytes, too few for a frame's header",
    };
    EXPECT_EQ(got, want);
}

TEST(FrameDecoder, FieldsForJson) {
    shell::FrameDecoder d;
    const Bytes f = Hex("0250060004003000000103900D");
    const shell::Decoding got = d.Frame('T', f.data(), 13, 13, -1);
    std::string fields;
    for (int i = 0; i < got.count; ++i) {
        const shell::DecodedField& x = got.fields[i];
        fields += std::string(x.key) + "=" +
                  (x.kind == shell::DecodedField::Kind::Text ? std::string(x.text) : std::to_string(x.number)) + ";";
    }
    EXPECT_EQ(fields, "kind=request;sub_code=4;address=12288;count=256;command=80;sound=1;");
}

struct GlossRow {
    const char* japanese;
    const char* english;  // nullptr: none
};

TEST(GlossOf, EachJapaneseTextOfTheConsole) {
    const GlossRow rows[] = {
        {"ﾌﾞﾛｯｸ消去 3000-33FF", "block erase 3000-33FF"},
        {"書込中", "writing"},
        {"書込3080", "write 3080"},
        {"更新完了", "update complete"},
        {"更新失敗 err: 03", "update failed, err: 03"},
        {"機種が適合しません", "the model does not match"},
        {"ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません", "the firmware file has no model information"},
        {"開始!!", "start!!"},
        {"停止!!", "stop!!"},
        {"FLASH WRITE 異常", "flash write failure"},
        {"FLASH READ 異常", "flash read failure"},
        {"FLASH ERASE 異常", "flash erase failure"},
        {"COMがオープンできません", "the COM port cannot be opened"},
        {"更新完了!", nullptr},
        {"書込", nullptr},
        {"resp 00", nullptr},
    };
    for (const GlossRow& row : rows) {
        char english[128];
        const bool glossed = shell::GlossOf(row.japanese, english, sizeof english);
        EXPECT_EQ(glossed, row.english != nullptr) << row.japanese;
        if (row.english != nullptr) {
            EXPECT_STREQ(english, row.english);
        }
    }
}

}  // namespace

namespace {

struct LineRow {
    const char* line;
    bool frame;
    char letter;
    int length;
    size_t shown;
};

TEST(ParseFrameLine, TheLogsFrameLinesAndNothingElse) {
    const LineRow rows[] = {
        {"T-  7 0260000003650D", true, 'T', 7, 7}, {"R-267 0230", true, 'R', 267, 2}, {"R-  0 ", true, 'R', 0, 0},
        {"T-  7 0260000003650", false, 0, 0, 0},   // half a byte
        {"T-  7 0260000003650d", false, 0, 0, 0},  // the log writes upper case
        {"X-  7 0260000003650D", false, 0, 0, 0},  {"T-7", false, 0, 0, 0},           {"resp 00", false, 0, 0, 0},
    };
    for (const LineRow& row : rows) {
        char letter = 0;
        int length = 0;
        std::vector<uint8_t> bytes;
        EXPECT_EQ(shell::ParseFrameLine(row.line, letter, length, bytes), row.frame) << row.line;
        if (!row.frame) continue;
        EXPECT_EQ(letter, row.letter);
        EXPECT_EQ(length, row.length);
        EXPECT_EQ(bytes.size(), row.shown);
    }
}

}  // namespace
