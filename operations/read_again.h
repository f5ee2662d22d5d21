// read_again.h - a flash read chunk whose answer came damaged or not at all
// is asked again: reading changes nothing on the device, so the same request
// a second or third time can only give the same bytes. Writes, erases and the
// boot loader's steps are never repeated (a repeated page would throw the
// boot loader out of step), so they do not come here.
#pragma once

#include <cstdint>

namespace ops {

// How many times a chunk is asked again before the read fails as it would
// have without: two, so that one bad answer in a row of three still passes.
constexpr int kAskAgainTimes = 2;

// Reads count bytes at address into destination: the library's result of the
// last request (wire::kAccepted when the bytes are in; wire::kDamagedAnswer
// when sound answers kept disagreeing). A refusal, a closed port or a count
// too large is never asked again. Once the operation has met a spoilt or lost
// answer, a chunk is taken only when two answers agree (one request more per
// chunk): the frame's 8-bit sum lets some double bit errors through. Each
// request asked again for a fault logs one line under the operation's name
// and is counted in the result; so is the turn to confirming.
int ReadChunkAskingAgain(uint8_t* destination, uint32_t address, uint32_t count, const char* operation);

// Counts a damaged or unanswered answer of any request in the result
// (nothing for other results).
void CountLineTrouble(int result);

}  // namespace ops
