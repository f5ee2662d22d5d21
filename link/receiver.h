// receiver.h - the receiver thread: frames the device's answers, hands them to
// requesters through ResponseReady, and hands over single bytes in raw capture.
#pragma once

#include <cstdint>

#include "link/link_state.h"

namespace wire {

enum FrameVerdict : int { kFrameGood = 0, kFrameBadChecksum = 81, kFrameBadTrailer = 82 };
enum RequestResult : int { kAccepted = 0, kNoAnswer = 3, kRefused = 4 };

constexpr int kReadExactAttempts = 100;
constexpr uint16_t kStalePartialMs = 100;

uint32_t ReceiverLoop(void* unused);

// Reads count bytes into destination with up to `attempts` reads; the count
// read, or -1 when it gave up (attempts used up or a stop was asked for).
int ReadExact(uint8_t* destination, int count, int attempts);

// Checks the frame in ResponseBuffer (whose header was read), logs it as an R
// line with the count and the bytes that arrived of it, serves
// NotifyOnResponse and sets ResponseReady.
int DeliverFrame(const uint8_t* fromStatusByte);
// The verdict of a frame in buffer with the given payload length, looking only
// at bytes inside the buffer.
int CheckFrame(const uint8_t* frame, int bufferSize, int payloadLength);

int WaitForResponse();
int ResponseAccepted();
// Polls up to `count` x 10 ms for a raw byte; 1 and the byte, or 0.
int WaitForBootByte(int count, uint8_t* byte);

// In raw capture: removes the bytes that arrived behind the byte handed over
// last. Only called while that byte is still marked ready, when the receiver
// does not read (see the raw capture rule in receiver.cpp).
void DrainRawInput();

}  // namespace wire
