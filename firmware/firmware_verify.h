// firmware_verify.h - comparing the unit's flash with the firmware image,
// page for page as the programmer would write it.
#pragma once

#include <cstdint>

#include "firmware/image_loader.h"
#include "operations/verify.h"

namespace firmware {

// The pages the programmer would write (each 128-byte page of block rows 0
// to 6 that holds a byte other than 0xFF), adjacent pages merged into one
// segment; offset = address. Returns the segments written to out, at most
// ops::kMaxVerifySegments.
int FirmwarePageSegments(const Image& image, ops::VerifySegment* out);

// Worker entry: reads those pages in application mode and compares them
// with the FirmwareImage. Ends with UM_WORKER_DONE (0).
uint32_t FirmwareVerifyWorker(void* unused);

}  // namespace firmware
