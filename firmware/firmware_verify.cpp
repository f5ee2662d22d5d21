// firmware_verify.cpp - the firmware's pages read back in application mode.
#include "firmware/firmware_verify.h"

#include "firmware/programmer.h"
#include "link/receiver.h"
#include "platform/platform.h"

namespace firmware {

int FirmwarePageSegments(const Image& image, ops::VerifySegment* out) {
    int count = 0;
    for (int row = 0; row < kProgrammedRows; ++row) {
        const BootBlock& block = BootBlockTable[row];
        for (uint32_t page = block.start; page < block.start + block.size; page += kPageSize) {
            if (FirstUsedAddress(image, page, kPageSize) < 0) continue;
            ops::VerifySegment* last = count != 0 ? &out[count - 1] : nullptr;
            if (last != nullptr && last->address + last->length == page) {
                last->length += kPageSize;  // one read may then take two pages
            } else if (count < ops::kMaxVerifySegments) {
                out[count++] = ops::VerifySegment{page, page, kPageSize};
            }
        }
    }
    return count;
}

uint32_t FirmwareVerifyWorker(void*) {
    static ops::VerifySegment segments[ops::kMaxVerifySegments];
    const int count = FirmwarePageSegments(FirmwareImage, segments);
    ops::RunVerify(ops::VerifyPlan{"firmware verify", "the firmware file", FirmwareImage.data(), segments, count});
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace firmware
