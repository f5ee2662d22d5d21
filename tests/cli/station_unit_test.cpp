// station_unit_test.cpp - a station's own parts: reading the units' JSON
// lines back, the station's exit rule and rows, the units chosen by the
// arguments, and the SHA-256 a record names a firmware file by.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/args.h"
#include "cli/json.h"
#include "cli/json_read.h"
#include "cli/record.h"
#include "cli/station_view.h"
#include "firmware/sha256.h"

namespace {

using cli::station::UnitView;

// What JsonString writes, JsonReadString reads back; fields are found at the
// top level only, past nested objects and strings that look like keys.
TEST(JsonRead, FieldsComeBackAsWritten) {
    cli::JsonLine l;
    cli::JsonBegin(l, "log");
    cli::JsonString(l, "text", "a\"text\":\"b\\c\n\x01 \xE6\x9B\xB4");
    cli::JsonInt(l, "exit_code", -7);
    cli::JsonNumber(l, "rate", 10.9, 1);
    cli::JsonEnd(l);
    char out[64];
    ASSERT_TRUE(cli::JsonReadString(l.text, "text", out, sizeof out));
    EXPECT_STREQ(out, "a\"text\":\"b\\c\n\x01 \xE6\x9B\xB4");
    ASSERT_TRUE(cli::JsonReadString(l.text, "event", out, sizeof out));
    EXPECT_STREQ(out, "log");
    double n = 0;
    ASSERT_TRUE(cli::JsonReadNumber(l.text, "exit_code", n));
    EXPECT_EQ(n, -7);
    ASSERT_TRUE(cli::JsonReadNumber(l.text, "rate", n));
    EXPECT_DOUBLE_EQ(n, 10.9);
    EXPECT_FALSE(cli::JsonReadNumber(l.text, "text", n));

    const char* nested = R"({"a":{"text":"inner","b":[1,{"c":"}"}]},"text":"outer \u00e9\ud83d\ude00"})";
    ASSERT_TRUE(cli::JsonReadString(nested, "text", out, sizeof out));
    EXPECT_STREQ(out, "outer \xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_FALSE(cli::JsonReadString(nested, "c", out, sizeof out));
    for (const char* broken : {"", "not json", "{\"text\":\"open", "{\"text\" 1}", "{\"a\":1 \"text\":\"x\"}"}) {
        EXPECT_FALSE(cli::JsonReadString(broken, "text", out, sizeof out)) << broken;
    }
    // Cut to fit on a whole character.
    char small[6];
    ASSERT_TRUE(cli::JsonReadString(R"({"text":"ab\u66f4\u66f4"})", "text", small, sizeof small));
    EXPECT_STREQ(small, "ab\xE6\x9B\xB4");
}

UnitView Ended(const char* name, int code, const char* outcome) {
    UnitView u;
    std::snprintf(u.name, sizeof u.name, "%s", name);
    u.ended = u.resultSeen = true;
    u.exitCode = code;
    std::snprintf(u.outcome, sizeof u.outcome, "%s", outcome);
    std::snprintf(u.text, sizeof u.text, "%s: the result", outcome);
    u.endMs = 12700;
    return u;
}

// 0 only when every unit succeeded; the code the failed units share; else 9.
TEST(Station, ExitRuleAndCounts) {
    const struct {
        int codes[4];
        int n;
        int exit;
        const char* counts;
    } cases[] = {
        {{0, 0, 0}, 3, 0, "station: 3 of 3 units succeeded: exit 0"},
        {{0, 7, 0, 7}, 4, 7, "station: 2 of 4 units succeeded, 2 failed: exit 7"},
        {{3}, 1, 3, "station: 0 of 1 unit succeeded, 1 failed: exit 3"},
        {{0, 7, 8, 0}, 4, 9, "station: 2 of 4 units succeeded, 2 failed: exit 9 (the units failed in different ways)"},
        {{130, 130}, 2, 130, "station: 0 of 2 units succeeded, 2 failed: exit 130"},
    };
    for (const auto& c : cases) {
        UnitView units[4];
        for (int i = 0; i < c.n; ++i) units[i] = Ended("COM3", c.codes[i], c.codes[i] == 0 ? "complete" : "failed");
        EXPECT_EQ(cli::station::StationExit(units, c.n), c.exit) << c.counts;
        char counts[200];
        cli::station::FormatCounts(units, c.n, counts, sizeof counts);
        EXPECT_STREQ(counts, c.counts);
    }
}

TEST(Station, RowsAndSummary) {
    UnitView running;
    std::snprintf(running.name, sizeof running.name, "COM3");
    running.started = true;
    running.permille = 450;
    running.rate = 10.94;
    std::snprintf(running.unit, sizeof running.unit, "pages");
    std::snprintf(running.stage, sizeof running.stage, "update: page 86 of 192, 0:09 left");
    char row[400];
    cli::station::FormatRow(running, 6, 200, false, row, sizeof row);
    EXPECT_STREQ(row, "COM3    [#########-----------]  45%  update: page 86 of 192, 0:09 left, 10.9 pages/s");
    cli::station::FormatRow(running, 6, 20, false, row, sizeof row);
    EXPECT_STREQ(row, "COM3    [#########--");

    UnitView units[2] = {Ended("COM3", 0, "complete"), Ended("/dev/ttyUSB1", 7, "failed")};
    cli::station::FormatRow(units[1], 12, 200, true, row, sizeof row);
    EXPECT_STREQ(row, "/dev/ttyUSB1  \x1b[31mfailed    \x1b[0m  failed: the result");
    char summary[1000];
    cli::station::FormatSummary(units, 2, summary, sizeof summary);
    EXPECT_STREQ(summary, "PORT          OUTCOME        EXIT      TIME  FAILURE\n"
                          "COM3          complete          0    12.7 s\n"
                          "/dev/ttyUSB1  failed            7    12.7 s  failed: the result\n"
                          "station: 1 of 2 units succeeded, 1 failed: exit 7\n");
}

// The options that choose the units, as the station leaves them out of each
// unit's own command line; what is after "--" is the command's.
TEST(Station, UnitChoiceArguments) {
    const char* argv[] = {"tq73", "--port", "a", "--port=b", "--sim", "3", "--sim", "stop", "--ports-from", "f", "-q"};
    const int argc = sizeof argv / sizeof argv[0];
    const int expected[] = {0, 2, 0, 1, 2, 0, 1, 0, 2, 0, 0};
    for (int i = 1; i < argc; ++i) {
        if (i > 1 && expected[i - 1] == 2) continue;  // the value of the one before
        EXPECT_EQ(cli::UnitChoiceArguments(argc, argv, i), expected[i]) << argv[i];
    }
    cli::Request r;
    const char* ports[] = {"tq73", "--port", "a", "--port=b", "stop"};
    ASSERT_TRUE(cli::ParseArguments(5, ports, r)) << r.error;
    EXPECT_EQ(r.portCount, 2);
    EXPECT_STREQ(r.ports[1], "b");
    EXPECT_STREQ(r.port, "a");
    cli::Request s;
    const char* sims[] = {"tq73", "--sim", "8", "update", "--if-different", "f.mot"};
    ASSERT_TRUE(cli::ParseArguments(6, sims, s)) << s.error;
    EXPECT_EQ(s.simUnits, 8);
    EXPECT_TRUE(s.ifDifferent && cli::ServesStation(s));
}

// The record names the unit's adapter as the system knows it, and a firmware
// command's file by its name as given.
TEST(Record, NamesTheAdapterAndTheFirmware) {
    cli::Request r;
    const char* args[] = {"tq73", "--port", "/dev/ttyUSB0", "--record", "r.jsonl", "update", "--verify", "fw.mot"};
    ASSERT_TRUE(cli::ParseArguments(8, args, r)) << r.error;
    platform::ports::PortInfo adapter;
    adapter.name = "/dev/ttyUSB0";
    adapter.friendly = "FT232R USB UART";
    adapter.usb = true;
    adapter.vid = 0x0403;
    adapter.pid = 0x6001;
    adapter.serial = "A12B3C";
    cli::record::Facts facts;
    facts.request = &r;
    facts.unit = r.port;
    facts.exitCode = 7;
    facts.outcome = "failed";
    facts.text = "update failed, err 09";
    facts.modelCode = 0x71;
    facts.adapter = &adapter;
    cli::JsonLine line;
    cli::record::Format(facts, line);
    char text[200];
    double n = 0;
    const struct {
        const char* key;
        const char* value;
    } strings[] = {
        {"port", "/dev/ttyUSB0"}, {"adapter_vid", "0403"}, {"adapter_pid", "6001"}, {"adapter_serial", "A12B3C"},
        {"command", "update"},    {"firmware", "fw.mot"},  {"outcome", "failed"},   {"text", "update failed, err 09"}};
    for (const auto& f : strings) {
        ASSERT_TRUE(cli::JsonReadString(line.text, f.key, text, sizeof text)) << f.key << " in " << line.text;
        EXPECT_STREQ(text, f.value) << f.key;
    }
    ASSERT_TRUE(cli::JsonReadNumber(line.text, "model", n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(cli::JsonReadNumber(line.text, "exit_code", n));
    EXPECT_EQ(n, 7);
    EXPECT_EQ(line.text[line.length - 1], '\n');
    EXPECT_EQ(std::strchr(line.text, '\n'), line.text + line.length - 1) << "one line";
}

std::string Digest(const std::string& data, size_t piece) {
    firmware::Sha256 s;
    firmware::Sha256Begin(s);
    for (size_t at = 0; at < data.size(); at += piece)
        firmware::Sha256Add(s, data.data() + at, data.size() - at < piece ? data.size() - at : piece);
    char hex[65];
    firmware::Sha256Hex(s, hex);
    return hex;
}

// FIPS 180-4's examples, fed whole and in pieces that straddle the blocks.
TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (size_t piece : {1, 7, 55, 64, 1000}) {
        EXPECT_EQ(Digest(two, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1") << piece;
    }
    EXPECT_EQ(Digest(std::string(1000000, 'a'), 4096),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
