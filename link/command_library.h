// command_library.h - one operation per request kind of the device's
// application-mode command set, with its payload layout and result codes.
//
// Every operation builds its payload in TransmitFrame under the transmitter
// and sends it with SendFrame; the waiting ones run on a worker thread (the
// UI thread must stay free to carry out the log requests of the receiver).
#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "link/receiver.h"
#include "link/device_times.h"

namespace wire {

// Results beside kAccepted (0), kNoAnswer (3) and kRefused (4) of receiver.h.
enum LibraryResult : int {
    kRefusedPolled = 5,  // refused, seen by an operation that polls on its own
    kCountTooLarge = 6,  // the count does not fit a request or an answer: nothing sent
    // Accepted, but the answer cannot carry the data: its frame is not whole
    // (bytes missing, a wrong checksum) or its payload is shorter than asked.
    // Nothing is copied, so that a cut answer never passes for flash contents.
    kDamagedAnswer = 7,
};

// The 'P' memory-access request and its sub-codes.
constexpr uint8_t kMemoryRequest = 0x50;
constexpr uint8_t kSubRead = 0x04;
constexpr uint8_t kSubWrite = 0x84;
constexpr uint8_t kSubErase = 0x44;
constexpr uint8_t kSubPattern = 0x83;
constexpr uint8_t kSubRecord = 0x81;
constexpr uint8_t kSubReadArea = 0x02;

constexpr uint8_t kSetClockRequest = 0x20;
constexpr uint8_t kClockQueryRequest = 0x21;
constexpr int kClockReadingSize = 6;

// Data behind the 4-byte 'P' header, and what an answer's payload can hold.
constexpr uint32_t kMaxDataCount = kMaxPayload - 4;  // 501
constexpr uint32_t kMaxAnswerCount = kMaxPayload;    // 505

// Where BuildRecordAndSend takes its record from; zero at start.
struct RecordSourceFields {
    uint8_t kind;
    uint8_t flags;  // 0-3 code base; 4 long form; 5 byte 0x04; 6 extra2; 7 extra1
    uint8_t extra1;
    uint8_t extra2;
    const uint8_t* block8;  // 8 bytes, or nullptr
    const uint8_t* block4;  // 4 bytes, or nullptr
};
extern RecordSourceFields RecordSource;

// Address bits 0-23, then count bits 0-15, low byte first (5 bytes).
void PackAddressCount(uint32_t address, uint32_t count, uint8_t* destination);

// Waits for the answer up to wire::kOwnPollBoundMs: kAccepted, kRefusedPolled, or
// kNoAnswer (also at once when the port is closed; LastAnswerWait tells which).
int AwaitOwnAnswer();
// The last answer in ResponseBuffer arrived whole: its trailer and checksum
// are right (its status may still refuse).
bool AnswerFrameSound();

int WritePatternArea(const uint8_t* data, uint32_t count);                   // 0, 3, 4 or 6
int SendScaledCommand(uint32_t level, uint32_t span, uint8_t code);          // bytes written
int WriteFlashChunk(const uint8_t* data, uint32_t address, uint32_t count);  // 0, 3, 5 or 6
int EraseFlashRange(uint32_t address, uint32_t length);                      // 0, 3 or 5
int ReadFlashChunk(uint8_t* destination, uint32_t address, uint32_t count);  // 0, 3, 5, 6 or 7
// Copies exactly six bytes of the answer's payload.
int QueryDeviceClock(uint8_t* destination);  // 0, 3, 5 or 7
int SendCommand22(uint8_t value);            // 0, 3 or 5
int SendCommand2();                          // 0, 3 or 4
int ReadArea02(uint8_t count);               // 0, 3 or 4; the data stay in ResponseBuffer
// Sends the record that the caller put at payload offset 4; hold the
// transmitter (TransmitterLock) from writing the record until this returns.
int WriteRecordArea(uint8_t lengthByte, uint8_t selector);  // 0, 3 or 4
int SendRecordCommand1(uint8_t lengthByte, uint8_t value);
int SendRecordCommand0(uint8_t value);
int BuildRecordAndSend();
void SendAddressCommand(uint32_t address, uint32_t count, uint8_t value);

// The record that BuildRecordAndSend makes of RecordSource: written to
// record (17 bytes at most); returns its length and sets the length and
// code bytes of the 0x31 request that follows it.
int BuildRecord(const RecordSourceFields& source, uint8_t* record, uint8_t& lengthByte, uint8_t& codeByte);

}  // namespace wire
