// flash_transfer.h - moving a range of device flash to and from a file:
// the write, read and erase workers and their chunking rules.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "operations/address_space.h"
#include "operations/operation_params.h"

namespace ops {

constexpr uint32_t kTransferBufferSize = 0x20000;
constexpr uint32_t kChunkSize = 256;

// Source of a write and destination of a read; never cleared between
// transfers, so bytes a transfer does not fill keep what was there.
extern std::array<uint8_t, kTransferBufferSize> TransferBuffer;

// Bytes of the next write chunk: at most 256, ending at the next 256-byte
// boundary of the device address.
uint32_t WriteChunkSize(uint32_t address, uint32_t remaining);
// Bytes of the next read chunk: at most 256, not aligned.
uint32_t ReadChunkSize(uint32_t remaining);
// Erased flash reads 0xFF; such a chunk needs no request.
bool AllErased(const uint8_t* data, uint32_t count);

// Whether the last transfer worker lost the device: a request of it got no
// answer within the bound, or the port closed under it. Set before the
// worker's UM_WORKER_DONE, so the UI thread reads it once the worker is
// reaped; the parameter-block chain does not go on writing to a device that
// has stopped answering.
extern std::atomic<bool> TransferLostDevice;

// A length beyond TransferBuffer is refused with a box (nothing is sent);
// true when it fits.
bool TransferLengthFits(const OperationParams* p, const char* operation);
// Handles the result of a flash read request as the read worker does (the
// line that says where, the box "FLASH READ 異常"); true when the reading
// must stop.
bool ReadRequestFailed(int result, const char* operation, uint32_t address);
// Why a flash read may not put its file at a target.
enum class TargetFault : uint8_t {
    None,
    NotAFile,         // a link, a folder, a device or a Windows device name stands there
    ReadOnly,         // a file that nobody may write
    Held,             // a file that cannot be opened for writing now
    PartialNotAFile,  // "<target>.partial", written first, is not a file of the read's own
    PartialName,      // the file system does not take the name "<target>.partial"
    Folder,           // the folder takes no new file (missing, or no permission)
};
// Whether a flash read may put its file at target: nothing or a writable
// file stands there (it is not changed now), and the partial file
// "<target>.partial" that the read writes first can be made. Asked before the
// first request, so that a read into a missing folder fails at once.
TargetFault CheckReadTarget(const char* target);
// The log line that says why, and what to do.
void LogReadTargetFault(TargetFault fault, const char* target);

// Worker entries; the parameter is the OperationParams record. Each ends
// with UM_WORKER_DONE (0) after success and failure alike.
uint32_t FlashWriteWorker(void* params);
uint32_t FlashReadWorker(void* params);
uint32_t FlashEraseWorker(void* params);

}  // namespace ops
