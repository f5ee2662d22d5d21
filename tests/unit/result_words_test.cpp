// result_words_test.cpp - the headline of each kind of result, as the status
// strip shows it and tq73's result line begins.
#include <gtest/gtest.h>

#include <string>

#include "operations/result.h"
#include "shell/result_words.h"

namespace {

using ops::Activity;
using ops::OperationResult;
using ops::Outcome;

OperationResult Res(Activity a, uint32_t done, uint32_t total) {
    OperationResult r;
    r.activity = a;
    r.done = done;
    r.total = total;
    r.startMs = 1000;
    r.serial = 1;
    return r;
}

OperationResult Ended(OperationResult r, Outcome o, uint32_t endMs, uint32_t where = 0, int code = 0) {
    r.outcome = o;
    r.endMs = endMs;
    r.where = where;
    r.code = code;
    return r;
}

std::string Headline(const OperationResult& r) {
    char out[200];
    shell::ResultHeadline(r, out, sizeof out);
    return out;
}

TEST(ResultWords, Headlines) {
    OperationResult read = Res(Activity::FlashRead, 256, 1024);
    read.address = 0x1000;
    OperationResult chain = Res(Activity::ParamChain, 0, 0);
    chain.block = 1;
    chain.failStep = 1;
    OperationResult chainStop = chain;
    chainStop.failStep = 0;
    OperationResult erasing = Res(Activity::Recovery, 0, 0);
    erasing.stage = ops::Stage::Erasing;
    OperationResult writeMode = Res(Activity::Update, 0, 0);
    writeMode.stage = ops::Stage::WriteMode;
    OperationResult write = Res(Activity::FlashWrite, 768, 768);
    write.address = 0x3000;
    write.skipped = 2;
    OperationResult survived = read;
    survived.line.askedAgain = 3;
    survived.line.damaged = 2;
    survived.line.lost = 1;
    OperationResult once = read;
    once.line.askedAgain = 1;
    struct Case {
        OperationResult s;
        const char* text;
    } cases[] = {
        {Ended(Res(Activity::Update, 192, 192), Outcome::Complete, 19200), "update complete in 18.2 s"},
        {Ended(read, Outcome::Refused, 2000, 0x1100), "flash read 0x1000 refused at 0x1100"},
        {Ended(read, Outcome::NoAnswer, 2000, 0x1100), "flash read 0x1000: no answer at 0x1100"},
        {Ended(read, Outcome::PortClosed, 2000, 0x1100), "flash read 0x1000: the port closed at 0x1100"},
        {Ended(read, Outcome::FileError, 2000, 0x1000), "flash read 0x1000: the file could not be written"},
        {Ended(read, Outcome::DamagedAnswer, 2000, 0x1100), "flash read 0x1000: damaged answer at 0x1100"},
        {Ended(survived, Outcome::Complete, 38200), "flash read 0x1000 complete in 37.2 s, 3 answers asked again"},
        {Ended(once, Outcome::DamagedAnswer, 2000, 0x1100),
         "flash read 0x1000: damaged answer at 0x1100, 1 answer asked again"},
        {Ended(Res(Activity::Recovery, 3, 192), Outcome::Failed, 6100, 0x3180, 6),
         "recovery failed at page 0x3180, err 06, after 5.1 s"},
        {Ended(erasing, Outcome::Failed, 2400, 0x3000, 1), "recovery failed at the block 0x3000, err 01, after 1.4 s"},
        {Ended(writeMode, Outcome::Failed, 2800, 0, 2),
         "update failed at the write-mode request W, err 02, after 1.8 s"},
        {Ended(write, Outcome::Complete, 1300),
         "flash write 0x3000 complete in 0.3 s; 2 chunks of all FF not sent: they count on erased flash (erase first, "
         "or verify)"},
        {Ended(Res(Activity::Update, 0, 0), Outcome::Refused, 1100), "update refused"},
        {Ended(Res(Activity::Update, 0, 0), Outcome::NotStarted, 1000), "update not started"},
        {Ended(chain, Outcome::Refused, 3000, 0xE200), "parameter block 1: erase refused at 0xE200"},
        {Ended(chainStop, Outcome::NoAnswer, 3000), "parameter block 1: stop: no answer"},
        {Ended(Res(Activity::ApStop, 3, 3), Outcome::NoAnswer, 2800), "ap-stop: no answer"},
        {Ended(Res(Activity::Sequence, 0, 0), Outcome::Stopped, 13000), "pattern sequence stopped after 12.0 s"},
    };
    for (const Case& c : cases) EXPECT_EQ(Headline(c.s), c.text);
}

}  // namespace
