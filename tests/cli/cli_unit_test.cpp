// cli_unit_test.cpp - tq73's own parts: its arguments, its JSON lines, the console sink's
// controls, messages and timers, and lines printed from several threads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/args.h"
#include "cli/exit_codes.h"
#include "cli/json.h"
#include "platform/terminal.h"
#include "cli/output.h"
#include "platform/console/console_ui.h"
#include "platform/log_queue.h"
#include "platform/platform.h"
#include "shell/number_text.h"
#include "shell/result_words.h"
#include "tq_version.h"

namespace {

using cli::Command;

// ---- results ---------------------------------------------------------------------

// Each outcome as the window's status strip says it, and as tq73 ends with
// it: its result line, exit code and JSON outcome.
TEST(Results, EachOutcomeInTheWindowAndInTq73) {
    using ops::Activity;
    using ops::NotStartedWhy;
    using ops::Outcome;
    struct Case {
        Activity activity;
        Outcome outcome;
        NotStartedWhy why;
        bool interrupted;
        const char* strip;
        const char* line;  // after the strip's text, unless it starts otherwise
        int exit;
        const char* name;
    } cases[] = {
        {Activity::FlashRead, Outcome::Complete, NotStartedWhy::None, false, "flash read 0x1000 complete in 1.5 s",
         ": 4096 bytes in dump.bin", 0, "complete"},
        {Activity::Sequence, Outcome::Stopped, NotStartedWhy::None, false, "pattern sequence stopped after 1.5 s", "",
         0, "stopped"},
        {Activity::FlashVerify, Outcome::Different, NotStartedWhy::None, false,
         "flash verify 0x1000: 2 of 4,096 bytes differ in 1 range, the first at 0x001010",
         " (port COM3, file dump.bin): the unit does not hold the file there", 8, "different"},
        {Activity::FlashRead, Outcome::NoAnswer, NotStartedWhy::None, false, "flash read 0x1000: no answer at 0x1100",
         " (port COM3, file dump.bin): check the cable, the port and that the unit is powered, then try again", 4,
         "no_answer"},
        {Activity::FlashRead, Outcome::DamagedAnswer, NotStartedWhy::None, false,
         "flash read 0x1000: damaged answer at 0x1100",
         " (port COM3, file dump.bin): the answer came cut or corrupted; check the cable and the connectors, then "
         "try again",
         4, "damaged_answer"},
        {Activity::Update, Outcome::Refused, NotStartedWhy::None, false, "update refused",
         " (port COM3, file dump.bin): the unit does not take this firmware's model; check that the file is meant "
         "for it",
         5, "refused"},
        {Activity::Recovery, Outcome::Failed, NotStartedWhy::None, false,
         "recovery failed at page 0x1100, err 06, after 1.5 s",
         ": no reply to a page's data (port COM3, file dump.bin): the unit is left in its boot loader in the middle "
         "of a page, where no command reaches it; restart it into its boot loader (power it off and on in boot "
         "mode), then run tq73 --port COM3 recover dump.bin",
         7, "failed"},
        {Activity::FlashRead, Outcome::PortClosed, NotStartedWhy::None, false,
         "flash read 0x1000: the port closed at 0x1100",
         " (port COM3, file dump.bin): the port went away under the operation; check the cable or adapter, then "
         "try again",
         3, "port_closed"},
        {Activity::FlashRead, Outcome::FileError, NotStartedWhy::None, false,
         "flash read 0x1000: the file could not be written",
         " (port COM3, file dump.bin): check that the folder exists and is writable and the file is not open "
         "elsewhere",
         6, "file_error"},
        {Activity::FlashRead, Outcome::NotStarted, NotStartedWhy::ReadOnly, false,
         "flash read 0x1000 not started: the file is read-only",
         "flash read: dump.bin is read-only: nothing was sent; make it writable or choose another name (port COM3, "
         "file dump.bin)",
         6, "file_error"},
        {Activity::FlashWrite, Outcome::NotStarted, NotStartedWhy::BeyondFile, false,
         "flash write 0x1000 not started: the length is more than the file holds",
         "flash read: LEN 4096 is more than dump.bin holds: nothing was sent", 2, "usage"},
        {Activity::FlashRead, Outcome::NotStarted, NotStartedWhy::Length, false,
         "flash read 0x1000 not started: the length is larger than a transfer takes", " (port COM3, file dump.bin)", 2,
         "not_started"},
        {Activity::FlashRead, Outcome::NotStarted, NotStartedWhy::Busy, false,
         "flash read 0x1000 not started: another operation runs", " (port COM3, file dump.bin)", 1, "not_started"},
        {Activity::FlashRead, Outcome::NoAnswer, NotStartedWhy::None, true, "flash read 0x1000: no answer at 0x1100",
         "interrupted: flash read 0x1000: no answer at 0x1100 (port COM3, file dump.bin): dump.bin was not changed; "
         "dump.bin.partial holds only the bytes read before the interruption",
         130, "interrupted"},
    };
    shell::ResultContext context;
    context.command = "flash read";
    context.file = "dump.bin";
    context.path = "dump.bin";
    context.port = "COM3";
    context.advicePort = "COM3";
    context.length = "4096";
    for (const Case& c : cases) {
        ops::OperationResult r;
        r.activity = c.activity;
        r.outcome = c.outcome;
        r.why = c.why;
        r.address = 0x1000;
        r.where = 0x1100;
        r.code = 6;
        r.done = r.total = 4096;
        r.startMs = 1000;
        r.endMs = 2500;
        r.verify = {4096, 2, 1, 0x1010, 0x12, 0x34};
        char strip[256];
        shell::ResultHeadline(r, strip, sizeof strip);
        EXPECT_STREQ(strip, c.strip);
        context.interrupted = c.interrupted;
        char line[1024];
        shell::ResultSentence(r, context, line, sizeof line);
        const std::string expected = c.line[0] == ':' || c.line[0] == ' ' || c.line[0] == '\0'
                                         ? std::string(c.strip) + c.line
                                         : std::string(c.line);
        EXPECT_EQ(line, expected) << c.strip;
        const cli::Exit exit = cli::ExitFor(r, c.interrupted);
        EXPECT_EQ(exit.code, c.exit) << c.strip;
        EXPECT_STREQ(exit.name, c.name) << c.strip;
    }
}

// ---- number texts ---------------------------------------------------------------

TEST(NumberArgument, AcceptedTextsMeanWhatTheWindowsEditReadsThemAs) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"4096", 4096},        {"0", 0},     {"1000h", 0x1000},      {"0x1000h", 0x1000},
        {"ffFFffh", 0xFFFFFF}, {"0010", 10}, {"16777215", 0xFFFFFF}, {"0h", 0},
    };
    for (const auto& c : cases) {
        uint32_t value = 1;
        char why[160] = "";
        ASSERT_TRUE(shell::ParseExactNumberText(c.text, 0xFFFFFF, value, why, sizeof why)) << c.text << ": " << why;
        EXPECT_EQ(value, c.value) << c.text;
        uint32_t window = 7;
        shell::ParseNumberText(c.text, window);
        EXPECT_EQ(window, c.value) << c.text << " as the window reads it";
    }
}

TEST(NumberArgument, TextsTheWindowWouldMisreadAreRefusedWithAHint) {
    const struct {
        const char* text;
        const char* hint;
    } cases[] = {
        {"1000H", "lower-case h (1000h)"},
        {"0x1000", "trailing h (1000h)"},
        {"12a", "not a number"},
        {"", "not a number"},
        {"h", "not a number"},
        {"0xh", "not a number"},
        {"-5", "not a number"},
        {"1e3", "not a number"},
        {"1000000h", "larger than FFFFFFh"},
        {"16777216", "larger than"},
        {"99999999999999999999", "larger than"},
    };
    for (const auto& c : cases) {
        uint32_t value = 0;
        char why[160] = "";
        EXPECT_FALSE(shell::ParseExactNumberText(c.text, 0xFFFFFF, value, why, sizeof why)) << c.text;
        EXPECT_NE(std::strstr(why, c.hint), nullptr) << c.text << ": " << why;
    }
}

// ---- the command line ------------------------------------------------------------

cli::Request Parse(std::vector<const char*> args, bool expectOk = true) {
    args.insert(args.begin(), "tq73");
    cli::Request r;
    EXPECT_EQ(cli::ParseArguments(static_cast<int>(args.size()), args.data(), r), expectOk) << r.error;
    return r;
}

TEST(Arguments, CommandsAndTheirFields) {
    cli::Request r = Parse({"--sim", "read", "3000h", "256", "f.bin"});
    EXPECT_EQ(r.command, Command::Read);
    EXPECT_TRUE(r.sim);
    EXPECT_STREQ(r.address, "3000h");
    EXPECT_EQ(r.addressValue, 0x3000u);
    EXPECT_EQ(r.lengthValue, 256u);
    EXPECT_STREQ(r.file, "f.bin");

    r = Parse({"--port=/dev/ttyUSB0", "write", "0", "f"});
    EXPECT_EQ(r.command, Command::Write);
    EXPECT_STREQ(r.port, "/dev/ttyUSB0");
    EXPECT_STREQ(r.length, "");  // the file's size

    r = Parse({"clock", "get", "--json", "-q"});
    EXPECT_EQ(r.command, Command::ClockGet);
    EXPECT_TRUE(r.json);
    EXPECT_EQ(r.verbosity, cli::Verbosity::Quiet);

    r = Parse({"param", "2", "--", "-a", "b"});
    EXPECT_EQ(r.block, 2);
    EXPECT_STREQ(r.text1, "-a");
    EXPECT_STREQ(r.text2, "b");

    EXPECT_EQ(Parse({"pattern", "--seconds", "5"}).seconds, 5);
    EXPECT_EQ(Parse({"monitor", "--seconds=2"}).seconds, 2);
    EXPECT_EQ(Parse({"pattern"}).seconds, -1);
    EXPECT_EQ(Parse({"--json", "--help"}).command, Command::Help);
    EXPECT_EQ(Parse({"erase", "0", "FFFFh"}).lengthValue, 0xFFFFu);
}

// --help and --version answer at once, wherever they stand and whatever else
// is given; --help wins over --version.
TEST(Arguments, HelpAndVersionAnswerWhateverElseIsGiven) {
    const struct {
        std::vector<const char*> args;
        Command command;
    } cases[] = {
        {{"--version"}, Command::Version},
        {{"-V"}, Command::Version},
        {{"--sim", "update", "f.mot", "-V"}, Command::Version},
        {{"--version", "read", "0"}, Command::Version},  // arguments missing: not asked about
        {{"-V", "--help"}, Command::Help},
        {{"--help", "--version"}, Command::Help},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.args).command, c.command) << c.args.front();
    }
    const std::string text = cli::VersionText();
    EXPECT_EQ(text.rfind("tq73 " TQ_VERSION " (commit ", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(Arguments, RefusalsSayWhy) {
    const struct {
        std::vector<const char*> args;
        const char* why;
    } cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command"},
        {{"--seconds", "5", "pattern"}, "after the command"},
        {{"monitor", "--seconds", "0"}, "from 1"},
        {{"monitor", "--seconds", "x"}, "from 1"},
        {{"erase", "0", "10000h"}, "larger than FFFFh"},
        {{"read", "0", "20001h", "f"}, "larger than 20000h"},
        {{"clock", "now"}, "set or get"},
        {{"update"}, "arguments missing"},
        {{"stop", "extra"}, "too many arguments"},
        {{"--sim", "--port", "x", "stop"}, "either --port or --sim"},
        {{"-q", "-v", "stop"}, "exclude each other"},
        {{"param", "4", "a", "b"}, "0 to 3"},
        {{"--port"}, "needs a port"},
        {{"--colour", "stop"}, "unknown option"},
        {{"--force", "stop"}, "belongs to update, recover and verify"},
        {{"--strict", "read", "0", "1", "f"}, "belongs to update, recover and verify"},
        {{"--expect-answer", "stop"}, "belongs to resume, request62, clock set and param"},
        {{"monitor", "--seconds", "1000001"}, "from 1 to 1000000"},
        {{"read", "0", "16", ""}, "read: FILE is empty"},
        {{"update", ""}, "update: FILE is empty"},
        {{"verify", "0", "f", "0"}, "LEN 0 compares nothing"},
        {{"write", "FFFF00h", "f", "101h"}, "runs past the top"},
        {{"erase", "FFFFFFh", "2"}, "runs past the top"},
        {{"--sim", "65", "stop"}, "1 to 64 units"},
        {{"--sim", "0", "stop"}, "1 to 64 units"},
        {{"--ports-from", "f", "--sim", "stop"}, "either --port or --sim"},
        {{"--if-different", "verify", "f"}, "--if-different belongs to update"},
        {{"--port", "a", "--port", "b", "ports"}, "takes no units"},
        {{"--record", "r", "ports"}, "makes no record"},
        {{"--record"}, "--record needs a value"},
        {{"--sim", "2", "--label", "x", "stop"}, "--label names one unit"},
    };
    for (const auto& c : cases) {
        cli::Request r = Parse(c.args, false);
        EXPECT_NE(std::strstr(r.error, c.why), nullptr) << r.error;
    }
}

// ---- Ctrl+C ----------------------------------------------------------------------------

std::string ReadAll(int fd) {
    std::string text;
    char chunk[512];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Two signals closer than the spacing are one request; the third request
// leaves at once with the advice, and under --json with a result that has
// its time. In a child process: the handler ends it.
TEST(Interrupts, CloseOnesCountOnceAndTheThirdLeavesWithTheAdviceAndTheTime) {
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        platform::terminal::Init();
        cli::out::Settings settings;
        settings.json = true;
        settings.command = "update";
        cli::out::Configure(settings);
        cli::out::SetInterruptAdvice("run recover");
        raise(SIGTERM);
        raise(SIGHUP);  // the same request
        if (platform::terminal::Interrupts() != 1) _exit(1);
        for (int i = 0; i < 2; ++i) {
            usleep((platform::terminal::kInterruptSpacingMs + 100) * 1000);
            raise(SIGINT);
        }
        _exit(2);  // not reached: the third request ends the process with 130
    }
    close(out[1]);
    close(err[1]);
    const std::string stdoutText = ReadAll(out[0]);
    const std::string stderrText = ReadAll(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(stderrText.find("tq73: interrupted a third time: leaving at once; run recover"), std::string::npos)
        << stderrText;
    EXPECT_EQ(stdoutText.rfind("{\"event\":\"result\",\"ms\":", 0), 0u) << stdoutText;
    EXPECT_NE(stdoutText.find("\"exit_code\":130,\"outcome\":\"interrupted\""), std::string::npos) << stdoutText;
    EXPECT_EQ(stdoutText.back(), '\n');
}

// ---- the port list -------------------------------------------------------------------

TEST(PortList, SortedByTheGivenOrderAndTiesKeepTheirPlace) {
    char names[4][platform::terminal::kPortNameSize] = {"COM10", "COM2", "COM02", "COM1"};
    platform::terminal::SortPortNames(names, 4,
                                      [](const char* a, const char* b) { return std::atoi(a + 3) < std::atoi(b + 3); });
    EXPECT_STREQ(names[0], "COM1");
    EXPECT_STREQ(names[1], "COM2");
    EXPECT_STREQ(names[2], "COM02");
    EXPECT_STREQ(names[3], "COM10");
}

// ---- JSON lines ----------------------------------------------------------------------

std::string Line(const cli::JsonLine& l) { return std::string(l.text, l.length); }

TEST(Json, StringsAreEscapedAndUtf8PassesThrough) {
    cli::JsonLine l;
    cli::JsonBegin(l, "log");
    cli::JsonString(l, "text", "a\"b\\c\n\x01\t\x7f \xE6\x9B\xB4");
    cli::JsonInt(l, "n", -12);
    cli::JsonNumber(l, "rate", 3.14159, 1);
    cli::JsonBool(l, "ended", true);
    cli::JsonEnd(l);
    EXPECT_EQ(Line(l),
              "{\"event\":\"log\",\"text\":\"a\\\"b\\\\c\\n\\u0001\\t\\u007f \xE6\x9B\xB4\",\"n\":-12,\"rate\":3.1,"
              "\"ended\":true}\n");
    EXPECT_FALSE(l.cut);
}

TEST(Json, ALineThatWouldOverflowStaysOneValidObject) {
    std::string big;
    for (int i = 0; i < 3000; ++i) big += "\xE6\x9B\xB4";  // U+66F4 in UTF-8: 3 bytes each
    cli::JsonLine l;
    cli::JsonBegin(l, "log");
    cli::JsonString(l, "text", big.c_str());
    cli::JsonInt(l, "after", 1);  // no room left: left out whole
    cli::JsonEnd(l);
    const std::string s = Line(l);
    EXPECT_TRUE(l.cut);
    EXPECT_LE(s.size(), cli::kJsonLineSize);
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s.substr(s.size() - 3), "\"}\n");
    const size_t open = s.find("\"text\":\"") + 8;
    EXPECT_EQ((s.size() - 3 - open) % 3, 0u) << "cut inside a character";
    EXPECT_EQ(s.find("after"), std::string::npos);

    std::string quotes(5000, '"');  // every byte escapes to two
    cli::JsonBegin(l, "log");
    cli::JsonString(l, "text", quotes.c_str());
    cli::JsonEnd(l);
    const std::string q = Line(l);
    EXPECT_EQ(q.substr(q.size() - 3), "\"}\n");
    // Between the quotes only whole escapes: \" pairs, never a lone backslash.
    const size_t from = q.find("\"text\":\"") + 8;
    const std::string body = q.substr(from, q.size() - 3 - from);
    EXPECT_EQ(body.size() % 2, 0u);
    for (size_t i = 0; i < body.size(); i += 2) ASSERT_EQ(body.substr(i, 2), "\\\"") << "at " << i;
}

// ---- the console sink -----------------------------------------------------------------

class ConsoleUi : public ::testing::Test {
protected:
    void SetUp() override { platform::console::ResetConsoleUi(); }
    void TearDown() override { platform::console::ResetConsoleUi(); }
};

// tq73 hands the commands their values in their calls: nothing it might set
// in a control is read back by a command in its place.
TEST_F(ConsoleUi, KeepsNoControlTexts) {
    platform::SetControlText(202, "/tmp/flash.bin");
    char buffer[16] = "x";
    platform::ReadControlText(202, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
    char path[64] = "x";
    EXPECT_EQ(platform::ReadControlPath(202, path, sizeof path), platform::PathCarry::Ok);
    EXPECT_STREQ(path, "");
}

TEST_F(ConsoleUi, PostedMessagesComeInOrderAndAFullQueueCountsItsLosses) {
    for (int i = 0; i <= platform::console::kPostedCapacity; ++i)
        platform::PostToDialog(1025, static_cast<uintptr_t>(i), -i);
    EXPECT_EQ(platform::console::PostedLost(), 1);
    platform::console::Posted m{};
    for (int i = 0; i < platform::console::kPostedCapacity; ++i) {
        ASSERT_TRUE(platform::console::TakePosted(m));
        EXPECT_EQ(m.wParam, static_cast<uintptr_t>(i));
        EXPECT_EQ(m.lParam, -i);
    }
    EXPECT_FALSE(platform::console::TakePosted(m));
}

TEST_F(ConsoleUi, TimersRepeatUntilStopped) {
    platform::StartTimer(1, 30);
    EXPECT_TRUE(platform::console::AnyTimerRunning());
    EXPECT_EQ(platform::console::TakeDueTimer(), -1);
    platform::SleepMs(40);
    EXPECT_EQ(platform::console::TakeDueTimer(), 1);
    EXPECT_EQ(platform::console::TakeDueTimer(), -1);  // armed again, not due yet
    platform::SleepMs(40);
    EXPECT_EQ(platform::console::TakeDueTimer(), 1);
    platform::StopTimer(1);
    platform::SleepMs(40);
    EXPECT_EQ(platform::console::TakeDueTimer(), -1);
    EXPECT_FALSE(platform::console::AnyTimerRunning());
}

// Standard output into a file for the duration of a test.
class CapturedOutput {
public:
    CapturedOutput() : path_(::testing::TempDir() + "tq73_unit_out.txt") {
        std::fflush(stdout);
        saved_ = dup(1);
        std::FILE* f = std::fopen(path_.c_str(), "w");
        dup2(fileno(f), 1);
        std::fclose(f);
    }
    ~CapturedOutput() { Restore(); }
    std::vector<std::string> Lines() {
        Restore();
        std::ifstream in(path_);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

// tq73's loop shows what the workers log: a worker queues its lines and goes
// on, past the queue's bound it shows them itself, in order, and its box
// comes after every line it logged before. A line is stamped with the time
// it was logged, not the time it was shown.
TEST_F(ConsoleUi, OtherThreadsLinesWaitForTheLoopAndABoxComesAfterThem) {
    cli::out::Settings s;
    s.json = true;
    cli::out::Configure(s);
    CapturedOutput captured;
    platform::console::ShowLinesOnThisThread();
    std::thread([] { platform::LogLine("waiting"); }).join();
    EXPECT_EQ(captured.Lines().size(), 0u) << "shown before the loop looked";
    CapturedOutput more;
    platform::SleepMs(300);
    platform::console::ShowQueued();
    constexpr int kLines = static_cast<int>(platform::LogQueue::kCapacity) + 100;
    std::thread([] {
        for (int i = 0; i < kLines; ++i) platform::LogLine(("line " + std::to_string(i) + "\"").c_str());
        platform::WarningBox("box");
    }).join();
    platform::LogLine("the loop's own");
    const std::vector<std::string> lines = more.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(1 + kLines + 2));
    EXPECT_NE(lines[0].find("waiting"), std::string::npos);
    for (int i = 0; i < kLines; ++i)
        ASSERT_NE(lines[1 + i].find("line " + std::to_string(i) + "\\\""), std::string::npos);
    EXPECT_NE(lines[1 + kLines].find("\"event\":\"box\""), std::string::npos);
    EXPECT_NE(lines[2 + kLines].find("the loop's own"), std::string::npos);
    const auto ms = [](const std::string& line) { return std::stol(line.substr(line.find("\"ms\":") + 5)); };
    EXPECT_GE(ms(lines[2 + kLines]) - ms(lines[0]), 300) << lines[0];
}

TEST_F(ConsoleUi, LinesFromSeveralThreadsArePrintedWholeAndFramesAreNoted) {
    cli::out::Settings s;
    s.json = true;
    cli::out::Configure(s);
    CapturedOutput captured;
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            char line[64];
            for (int i = 0; i < kLines; ++i) {
                std::snprintf(line, sizeof line, "thread %d line %d %s", t, i, "..........................");
                platform::LogLine(line);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const uint8_t request[] = {0x02, 0x71, 0x00, 0x00, 0x03, 0x76, 0x0D};  // model request 'q'
    const uint8_t answer[] = {0x02, 0x30, 0x00, 0x00, 0x03, 0x35, 0x0D};   // accepted
    platform::LogFrame('T', 7, request, 7, "T-  7 0271000003760D");
    platform::LogFrame('R', 7, answer, 7, "R-  7 0230000003350D");
    // Text that looks like a frame is a log line: frames come only through the hook.
    platform::LogLine("R-  7 0231000003360D");
    const std::vector<std::string> lines = captured.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines + 3));
    for (size_t i = 0; i + 3 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("{\"event\":\"log\",\"ms\":", 0), 0u) << lines[i];
        const std::string end = std::string(26, '.') + "\"}";
        ASSERT_GE(lines[i].size(), end.size());
        EXPECT_EQ(lines[i].substr(lines[i].size() - end.size()), end) << lines[i];
    }
    EXPECT_NE(lines[kThreads * kLines].find("\"event\":\"sent\""), std::string::npos);
    EXPECT_NE(lines[kThreads * kLines + 1].find("\"bytes\":\"0230000003350D\""), std::string::npos);
    EXPECT_NE(lines[kThreads * kLines + 2].find("\"event\":\"log\""), std::string::npos);
    const cli::out::Frames f = cli::out::Seen();
    EXPECT_EQ(f.received, 1);
    EXPECT_EQ(f.request[1], 0x71);
    EXPECT_EQ(f.answer[1], '0');
}

}  // namespace
