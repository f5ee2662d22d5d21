// receiver.h - the receiver thread: frames the device's answers, hands them to
// requesters through ResponseReady, and hands over single bytes in raw capture.
#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "link/device_times.h"

namespace wire {

enum FrameVerdict : int { kFrameGood = 0, kFrameBadChecksum = 81, kFrameBadTrailer = 82 };
enum RequestResult : int { kAccepted = 0, kNoAnswer = 3, kRefused = 4 };

constexpr int kReadExactAttempts = 100;

// Whether the session's receiver ended because the port went away; it stays
// set until the next session starts.
bool PortLost();
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

// How one wait for the device's answer ended.
enum class AnswerWait { Arrived, TimedOut, PortClosed };

// The one wait for an answer: until ResponseReady is set, the port is closed,
// or boundMs has passed. It ends as soon as the receiver has delivered, not
// at a poll; a requester arms (ArmResponse) before it sends and waits after.
AnswerWait AwaitAnswer(uint32_t boundMs);
// How the calling thread's last AwaitAnswer ended: a worker that got "no
// answer" from a request tells the operator whether the port closed.
AnswerWait LastAnswerWait();
// The receiver's side: ResponseBuffer is complete; sets ResponseReady
// (release) and wakes the waiter.
void MarkAnswerReady();
// Wakes a waiter without an answer, so that it sees the port has closed.
void WakeAnswerWaiter();

int WaitForResponse();
int ResponseAccepted();
// Waits up to `count` x 10 ms for a raw byte; 1 and the byte, or 0.
int WaitForBootByte(int count, uint8_t* byte);

// In raw capture: removes what arrived behind the byte handed over last, up to
// kRawDiscardLimit bytes, without waiting for bytes that are not there. Only
// called while that byte is still marked ready, when the receiver does not
// read (see the raw capture rule in receiver.cpp).
constexpr int kRawDiscardLimit = 10;
void DrainRawInput();

}  // namespace wire
