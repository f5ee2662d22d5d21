// programmer.cpp - the boot-mode programmer: erase pass, write mode, page pass.
#include "firmware/programmer.h"

#include <atomic>
#include <cstdio>

#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "link/device_times.h"

namespace firmware {

namespace {

// The reply byte to a step, after the host cleared ResponseReady and wrote
// the step's bytes.
bool SendStep(const uint8_t* bytes, int count) {
    wire::ArmResponse();
    return wire::WriteRaw(bytes, count) == count;
}

bool anyReply = false;  // the unit answered a boot step in this run
std::atomic<bool> writePass{false};

bool AwaitReply(uint8_t& reply) {
    const bool replied = wire::WaitForBootByte(wire::kReplyPolls, &reply) == 1;
    anyReply = anyReply || replied;
    return replied;
}

// Blocks and pages whose status byte reported a failure in this run.
ops::DeviceErrors runErrors;

// Logs a status byte; an error status is counted against the block or page
// at address, and the run goes on.
void LogStatus(uint8_t status, uint8_t errorBit, uint32_t address) {
    char line[64];
    if (StatusReportsError(status, errorBit)) {
        std::snprintf(line, sizeof line, "resp error **********  %02x", status);
        const bool erase = errorBit == kEraseErrorBit;
        if (runErrors.blocks == 0 && runErrors.pages == 0) runErrors.first = address;
        ++(erase ? runErrors.blocks : runErrors.pages);
        ops::ReportDeviceErrors(runErrors);
    } else {
        std::snprintf(line, sizeof line, "resp %02x", status);
    }
    platform::LogLine(line);
}

int EraseBlock(const Image& image, const BootBlock& block) {
    const int first = FirstUsedAddress(image, block.start, block.size);
    if (first < 0) return kProgramOk;
    char line[64];
    std::snprintf(line, sizeof line, "ﾌﾞﾛｯｸ消去 %04X-%04X", static_cast<unsigned>(first),
                  static_cast<unsigned>(block.start + block.size - 1));
    platform::LogLine(line);
    const uint8_t command[3] = {kBootErase, block.code, block.code};
    SendStep(command, 3);
    platform::PauseMs(wire::kEraseSettleMs);
    uint8_t status = 0;
    if (!AwaitReply(status)) return kNoEraseReply;
    LogStatus(status, kEraseErrorBit, block.start);
    return kProgramOk;
}

int EnterWriteMode() {
    platform::LogLine("書込中");
    ops::SetStage(ops::Stage::WriteMode);
    const uint8_t command = kBootWriteMode;
    writePass.store(true);
    SendStep(&command, 1);
    uint8_t reply = 0;
    if (!AwaitReply(reply)) return kNoWriteModeReply;
    if (reply != kBootWriteModeReady) {
        char line[32];
        std::snprintf(line, sizeof line, "err %02x", reply);
        platform::LogLine(line);
        return kBadWriteModeReply;
    }
    return kProgramOk;
}

// Pages programmed so far and pages to program, for whoever shows progress.
uint32_t pagesDone = 0;
uint32_t failedPage = 0;  // the page a write pass stopped at, for its line
uint32_t pagesToProgram = 0;

int WritePage(const Image& image, uint32_t page) {
    char line[32];
    std::snprintf(line, sizeof line, "書込%x", static_cast<unsigned>(page));
    platform::LogLine(line);

    const uint8_t address[2] = {static_cast<uint8_t>(page & 0xFF), static_cast<uint8_t>(page >> 8)};
    SendStep(address, 2);
    uint8_t reply = 0;
    if (!AwaitReply(reply)) return kNoAddressReply;
    if (reply != static_cast<uint8_t>(address[0] + address[1])) return kBadAddressEcho;

    uint8_t sum = 0;
    for (uint32_t i = 0; i < kPageSize; ++i) sum = static_cast<uint8_t>(sum + image[page + i]);
    // Bytes that came in behind the echo would otherwise be handed over as
    // the data echo.
    wire::DrainRawInput();
    SendStep(&image[page], kPageSize);
    if (!AwaitReply(reply)) return kNoDataReply;
    if (reply != sum) return kBadDataEcho;

    const uint8_t program = kBootProgramPage;
    SendStep(&program, 1);
    if (!AwaitReply(reply)) return kNoProgramReply;
    LogStatus(reply, kProgramErrorBit, page);
    platform::PauseMs(wire::kPageSettleMs);
    return kProgramOk;
}

int WriteBlock(const Image& image, const BootBlock& block) {
    if (FirstUsedAddress(image, block.start, block.size) < 0) return kProgramOk;
    for (uint32_t page = block.start; page < block.start + block.size; page += kPageSize) {
        if (FirstUsedAddress(image, page, kPageSize) < 0) continue;
        // Between two pages the device waits for an address, where the
        // closing byte ends the pass cleanly.
        const int result = wire::LinkFlagSet(wire::kFlagEndWritePass) ? kWritePassEnded : WritePage(image, page);
        if (result != kProgramOk) {
            failedPage = page;
            ops::ReportFailure(ops::Outcome::Failed, page, result);
            return result;
        }
        ops::ReportUnits(++pagesDone, pagesToProgram);
    }
    return kProgramOk;
}

int RunPasses(const Image& image) {
    ops::SetStage(ops::Stage::Erasing);
    for (int row = 0; row < kProgrammedRows; ++row) {
        const int result = EraseBlock(image, BootBlockTable[row]);
        if (result != kProgramOk) {
            ops::ReportFailure(ops::Outcome::Failed, BootBlockTable[row].start, result);
            return result;
        }
    }
    int result = EnterWriteMode();
    if (result != kProgramOk) {
        ops::ReportFailure(ops::Outcome::Failed, 0, result);
        return result;
    }
    // The status says the write mode opens until it has settled, then counts
    // pages: its reply comes within a millisecond, too short a stage to show.
    platform::PauseMs(wire::kWriteModeSettleMs);
    pagesDone = 0;
    pagesToProgram = CountPagesToProgram(image);
    ops::ReportUnits(0, pagesToProgram);
    ops::SetStage(ops::Stage::Pages);
    for (int row = 0; row < kProgrammedRows && result == kProgramOk; ++row) {
        result = WriteBlock(image, BootBlockTable[row]);
    }
    // The end byte returns the device to its application; it goes out after
    // every write pass, also one that failed part-way.
    const uint8_t end = kBootEnd;
    wire::WriteRaw(&end, 1);
    writePass.store(false);
    if (result == kProgramOk && (runErrors.blocks != 0 || runErrors.pages != 0)) {
        result = kDeviceReportedFailure;
        ops::ReportFailure(ops::Outcome::Failed, runErrors.first, result);
    }
    return result;
}

// The line after "更新失敗 err: 09": how much failed, where, and what to try.
void LogDeviceErrors() {
    char what[96];
    ops::FormatDeviceErrors(runErrors, what, sizeof what);
    char line[320];
    std::snprintf(line, sizeof line,
                  "update: the device reported %.96s, the first at 0x%04X: the unit does not hold this firmware; "
                  "run the update again, and if the same place fails again the unit's flash needs service",
                  what, unsigned(runErrors.first));
    platform::LogLine(line);
}

// The line after "更新失敗 err: 01" to "08": where the unit is left and what
// brings it back, as the simulated unit shows it does.
void LogWayOut(int result) {
    const char* line = nullptr;
    switch (UnitLeftAfter(result, anyReply)) {
        case UnitLeft::Unknown:
            line = "update: nothing answered in boot mode and nothing was written: if the unit runs its "
                   "application, use farm udt; if it waits in its boot loader, check the cable and use recovery";
            break;
        case UnitLeft::WriteModeOpen:
            line = "update: the unit may be left in its write mode, where no command reaches it: restart it into its "
                   "boot loader (power it off and on in boot mode), then use recovery";
            break;
        case UnitLeft::MidPage:
            line = "update: the unit is left in its boot loader in the middle of a page, where no command reaches "
                   "it: restart it into its boot loader (power it off and on in boot mode), then use recovery";
            break;
        case UnitLeft::PartlyWritten:
            line = "update: the unit has left its boot loader with its flash only partly written: use farm udt "
                   "again; if the unit does not answer, start it in its boot loader and use recovery";
            break;
        case UnitLeft::Application:
        default: return;
    }
    platform::LogLine(line);
}

// The line after "更新失敗 err: 0a": where the pass stopped and what to try.
void LogPassEnded() {
    char line[240];
    std::snprintf(line, sizeof line,
                  "update: the write pass was ended before the page at 0x%04X, with its closing byte; the pages from "
                  "there on are not written: start the unit in its boot loader and run recovery",
                  unsigned(failedPage));
    platform::LogLine(line);
}

}  // namespace

uint32_t CountPagesToProgram(const Image& image) {
    uint32_t pages = 0;
    for (int row = 0; row < kProgrammedRows; ++row) {
        const BootBlock& block = BootBlockTable[row];
        for (uint32_t page = block.start; page < block.start + block.size; page += kPageSize) {
            if (FirstUsedAddress(image, page, kPageSize) >= 0) ++pages;
        }
    }
    return pages;
}

int FirstUsedAddress(const Image& image, uint32_t start, uint32_t size) {
    for (uint32_t a = start; a < start + size && a < kImageSize; ++a) {
        if (image[a] != 0xFF) return static_cast<int>(a);
    }
    return -1;
}

const char* ProgramResultMeaning(int result) {
    switch (result) {
        case kProgramOk: return "complete";
        case kNoEraseReply: return "no reply to a block erase";
        case kNoWriteModeReply: return "no reply to the write-mode request W";
        case kBadWriteModeReply: return "the reply to W was not AA";
        case kNoAddressReply: return "no reply to a page address";
        case kBadAddressEcho: return "wrong echo of a page address";
        case kNoDataReply: return "no reply to a page's data";
        case kBadDataEcho: return "wrong checksum echo of a page's data";
        case kNoProgramReply: return "no reply to the program request U";
        case kDeviceReportedFailure: return "the device reported blocks not erased or pages not programmed";
        case kWritePassEnded: return "the write pass was ended early, before a page, with its closing byte";
        default: return "unknown result";
    }
}

bool ProgramResultLeavesBootMode(int result) { return result >= kNoEraseReply && result <= kBadWriteModeReply; }

UnitLeft UnitLeftAfter(int result, bool replied) {
    switch (result) {
        case kProgramOk: return UnitLeft::Application;
        case kNoEraseReply: return UnitLeft::Unknown;
        case kNoWriteModeReply: return replied ? UnitLeft::WriteModeOpen : UnitLeft::Unknown;
        case kBadWriteModeReply: return UnitLeft::WriteModeOpen;
        case kNoAddressReply:
        case kBadAddressEcho:
        case kNoDataReply:
        case kNoProgramReply: return UnitLeft::MidPage;
        // The closing byte came where the unit awaited "U" or a page
        // address: it took it as the end of the pass.
        case kBadDataEcho:
        case kDeviceReportedFailure:
        case kWritePassEnded:
        default: return UnitLeft::PartlyWritten;
    }
}

bool LastRunAnswered() { return anyReply; }

bool WritePassRuns() { return writePass.load(); }

bool StatusReportsError(uint8_t status, uint8_t errorBit) { return status > 0x80 && (status & errorBit) != 0; }

int ProgramFirmwareImage(const Image& image) {
    runErrors = ops::DeviceErrors{};
    anyReply = false;
    wire::SetLinkFlag(wire::kFlagRawCapture);
    const int result = RunPasses(image);
    wire::ClearLinkFlag(wire::kFlagRawCapture | wire::kFlagEndWritePass);
    writePass.store(false);  // also after a "W" that got no answer
    return result;
}

uint32_t FirmwareUpdateWorker(void*) {
    const int result = ProgramFirmwareImage(FirmwareImage);
    if (result == kProgramOk) {
        platform::LogLine("更新完了");
    } else {
        char line[48];
        std::snprintf(line, sizeof line, "更新失敗 err: %02x", result);
        platform::LogLine(line);
        if (result == kDeviceReportedFailure) LogDeviceErrors();
        if (result == kWritePassEnded) LogPassEnded();
        if (result < kDeviceReportedFailure) LogWayOut(result);
    }
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace firmware
