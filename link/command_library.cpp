// command_library.cpp - the request operations of the device's command set.
#include "link/command_library.h"

#include <cstring>

#include "link/frame.h"
#include "link/device_times.h"

namespace wire {

RecordSourceFields RecordSource{};

namespace {

constexpr uint8_t kCommand22 = 0x22;
constexpr uint8_t kRecordCommand0 = 0x30;
constexpr uint8_t kRecordCommand1 = 0x31;
constexpr uint8_t kCommand2 = 0x32;
constexpr uint8_t kAddressCommand = 0x40;
constexpr uint8_t kScaledCommand = 0x41;
constexpr uint8_t kRecordSelectorLong = 0;   // after a record for 0x31
constexpr uint8_t kRecordSelectorShort = 2;  // after a record for 0x30

// A frame's payload follows STX, the command byte and the two length bytes.
constexpr uint32_t kPayloadOffset = 4;
// The 'P' header (the sub-code and three address or selector bytes) that
// every memory request opens with; a write's data follow it.
constexpr uint32_t kMemoryHeaderSize = 4;
// The sub-code and the five bytes of PackAddressCount: a read or an erase.
constexpr uint32_t kAddressCountRequestSize = 1 + 5;

// RecordSource.flags: the low nibble is the base of the code byte, the high
// bits switch parts of the record on.
constexpr uint8_t kFlagsCodeBase = 0x0F;
constexpr uint8_t kFlagLongForm = 0x10;    // see kLengthLongForm and kTypeLongBlock8
constexpr uint8_t kFlagMarkerByte = 0x20;  // kMarkerByte follows the kind
constexpr uint8_t kFlagExtra2 = 0x40;
constexpr uint8_t kFlagExtra1 = 0x80;

// The record's first byte, its type: kind 1 has a type of its own; every
// other kind starts from the plain type, with a bit for each form of block8.
constexpr uint8_t kKindOwnType = 1;
constexpr uint8_t kTypeOfKindOwnType = 0x27;
constexpr uint8_t kTypePlain = 0x03;
constexpr uint8_t kTypeBlock8 = 0x20;      // block8 is present
constexpr uint8_t kTypeLongBlock8 = 0x40;  // and, in the long form, closes with kBlock8LongMark
constexpr int kBlock8MarkIndex = 6;
constexpr uint8_t kBlock8LongMark = 7;
constexpr uint8_t kMarkerByte = 0x04;
constexpr int kBlock8Size = 8;
constexpr int kBlock4Size = 4;
// The length byte's top bit marks the long form, whose frame runs this much
// further than the record (BuildRecordAndSend zeros the rest).
constexpr uint8_t kLengthLongForm = 0x80;

// The kinds whose code byte also counts with extra2, each in its own unit.
constexpr uint8_t kKindCountPlusOne = 0x2C;  // extra2 + 1
constexpr uint8_t kKindCountByFour = 0x23;   // 4 * (extra2 + 1)
constexpr uint8_t kKindCount = 0xB8;         // extra2

uint8_t* Payload() { return TransmitFrame.data() + kPayloadOffset; }

// Device addresses go out as 24 bits, low byte first.
void PutAddress24(uint32_t address, uint8_t* destination) {
    destination[0] = static_cast<uint8_t>(address);
    destination[1] = static_cast<uint8_t>(address >> 8);
    destination[2] = static_cast<uint8_t>(address >> 16);
}

// 'P' header: the sub-code and three address or selector bytes.
void PutMemoryHeader(uint8_t subCode, uint32_t address) {
    Payload()[0] = subCode;
    PutAddress24(address, Payload() + 1);
}

// Clears the handshake and sends the payload that is in place. Callers hold
// the transmitter only around this: what follows is waiting, which needs no
// buffer.
void ArmAndSend(uint8_t command, uint32_t payloadLength) {
    ArmResponse();
    SendFrame(command, payloadLength);
}

// Whether the answer in the ResponseBuffer is a whole frame whose payload
// holds at least count bytes. The receiver delivers every frame that starts
// with STX, whole or not; data taken from a cut one would be zeros.
bool AnswerHolds(uint32_t count) {
    const uint32_t payload = ResponseBuffer[2] | ResponseBuffer[3] << 8;
    return AnswerFrameSound() && payload >= count;
}

// Awaits the answer to a request that returns data and copies count bytes of
// its payload to destination when it was accepted and holds them.
}  // namespace

bool AnswerFrameSound() {
    const int payload = ResponseBuffer[2] | ResponseBuffer[3] << 8;
    return CheckFrame(ResponseBuffer.data(), kFrameBufferSize, payload) == kFrameGood;
}

namespace {

int AwaitData(uint8_t* destination, uint32_t count) {
    const int result = AwaitOwnAnswer();
    if (result != kAccepted) return result;
    if (!AnswerHolds(count)) return kDamagedAnswer;
    std::memcpy(destination, ResponseBuffer.data() + kPayloadOffset, count);
    return kAccepted;
}

}  // namespace

void PackAddressCount(uint32_t address, uint32_t count, uint8_t* destination) {
    PutAddress24(address, destination);
    destination[3] = static_cast<uint8_t>(count);
    destination[4] = static_cast<uint8_t>(count >> 8);
}

int AwaitOwnAnswer() {
    if (AwaitAnswer(wire::kOwnPollBoundMs) != AnswerWait::Arrived) return kNoAnswer;
    if (ResponseStatus() != kStatusAccepted) return kRefusedPolled;
    return kAccepted;
}

int WritePatternArea(const uint8_t* data, uint32_t count) {
    count &= 0xFFFF;
    if (count > kMaxDataCount) return kCountTooLarge;
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubPattern, 0);
        if (data != nullptr) std::memcpy(Payload() + kMemoryHeaderSize, data, count);
        ArmAndSend(kMemoryRequest, count + kMemoryHeaderSize);
    }
    return WaitForResponse();
}

int SendScaledCommand(uint32_t level, uint32_t span, uint8_t code) {
    const uint32_t scaledLevel = ((level & 0xFFFF) * 256) / 275;
    const uint32_t scaledSpan = ((span & 0xFFFF) * 55) & 0xFFFF;
    TransmitterLock tx(false);
    uint8_t* p = Payload();
    p[0] = static_cast<uint8_t>(scaledLevel);
    p[1] = static_cast<uint8_t>(scaledLevel >> 8);
    p[2] = static_cast<uint8_t>(scaledSpan);
    p[3] = static_cast<uint8_t>(scaledSpan >> 8);
    p[4] = code;
    ArmResponse();
    return SendFrame(kScaledCommand, 5);
}

int WriteFlashChunk(const uint8_t* data, uint32_t address, uint32_t count) {
    count &= 0xFFFF;
    if (count > kMaxDataCount) return kCountTooLarge;
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubWrite, address);
        std::memcpy(Payload() + kMemoryHeaderSize, data, count);
        ArmAndSend(kMemoryRequest, count + kMemoryHeaderSize);
    }
    return AwaitOwnAnswer();
}

int EraseFlashRange(uint32_t address, uint32_t length) {
    {
        TransmitterLock tx(false);
        Payload()[0] = kSubErase;
        PackAddressCount(address, length, Payload() + 1);
        ArmAndSend(kMemoryRequest, kAddressCountRequestSize);
    }
    return AwaitOwnAnswer();
}

int ReadFlashChunk(uint8_t* destination, uint32_t address, uint32_t count) {
    if (count > kMaxAnswerCount) return kCountTooLarge;
    {
        TransmitterLock tx(false);
        Payload()[0] = kSubRead;
        PackAddressCount(address, count, Payload() + 1);
        ArmAndSend(kMemoryRequest, kAddressCountRequestSize);
    }
    return AwaitData(destination, count);
}

int QueryDeviceClock(uint8_t* destination) {
    {
        TransmitterLock tx(false);
        ArmAndSend(kClockQueryRequest, 0);
    }
    return AwaitData(destination, kClockReadingSize);
}

int SendCommand22(uint8_t value) {
    {
        TransmitterLock tx(false);
        Payload()[0] = value;
        ArmAndSend(kCommand22, 1);
    }
    return AwaitOwnAnswer();
}

int SendCommand2() {
    {
        TransmitterLock tx(false);
        Payload()[0] = 0x02;
        ArmAndSend(kCommand2, 1);
    }
    return WaitForResponse();
}

int ReadArea02(uint8_t count) {
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubReadArea, 0);
        // A 16-bit count whose high byte is always 0.
        Payload()[kMemoryHeaderSize] = count;
        Payload()[kMemoryHeaderSize + 1] = 0;
        ArmAndSend(kMemoryRequest, kMemoryHeaderSize + 2);
    }
    return WaitForResponse();
}

int WriteRecordArea(uint8_t lengthByte, uint8_t selector) {
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubRecord, 0);
        Payload()[1] = selector;
        ArmAndSend(kMemoryRequest, lengthByte + kMemoryHeaderSize);
    }
    return WaitForResponse();
}

int SendRecordCommand1(uint8_t lengthByte, uint8_t value) {
    const int first = WriteRecordArea(lengthByte, kRecordSelectorLong);
    if (first != kAccepted) return first;
    TransmitterLock tx(false);
    Payload()[0] = lengthByte;
    Payload()[1] = value;
    ArmAndSend(kRecordCommand1, 2);
    return kAccepted;
}

int SendRecordCommand0(uint8_t value) {
    int first;
    {
        // The record's first byte is read under the transmitter that the
        // caller (who wrote the record) may hold as well.
        TransmitterLock tx(false);
        first = WriteRecordArea(Payload()[kMemoryHeaderSize], kRecordSelectorShort);
    }
    if (first != kAccepted) return first;
    TransmitterLock tx(false);
    Payload()[0] = value;
    ArmAndSend(kRecordCommand0, 1);
    return kAccepted;
}

int BuildRecord(const RecordSourceFields& s, uint8_t* record, uint8_t& lengthByte, uint8_t& codeByte) {
    const bool longForm = (s.flags & kFlagLongForm) != 0;
    uint8_t type = kTypeOfKindOwnType;
    if (s.kind != kKindOwnType) {
        type = kTypePlain;
        if (s.block8 != nullptr) type += kTypeBlock8;
        if (s.block8 != nullptr && longForm && s.block8[kBlock8MarkIndex] == kBlock8LongMark) type += kTypeLongBlock8;
    }
    int n = 0;
    record[n++] = type;
    record[n++] = s.kind;
    if (s.flags & kFlagMarkerByte) record[n++] = kMarkerByte;
    if (s.block8 != nullptr) {
        std::memcpy(record + n, s.block8, kBlock8Size);
        n += kBlock8Size;
    }
    if (s.flags & kFlagExtra1) record[n++] = s.extra1;
    if (s.flags & kFlagExtra2) record[n++] = s.extra2;
    if (s.block4 != nullptr) {
        std::memcpy(record + n, s.block4, kBlock4Size);
        n += kBlock4Size;
    }
    uint32_t code = s.flags & kFlagsCodeBase;
    if (s.kind == kKindCountPlusOne) code += s.extra2 + 1u;
    if (s.kind == kKindCountByFour) code += 4u * s.extra2 + 4u;
    if (s.kind == kKindCount) code += s.extra2;
    codeByte = static_cast<uint8_t>(code);
    lengthByte = static_cast<uint8_t>(n + (longForm ? kLengthLongForm : 0));
    return n;
}

int BuildRecordAndSend() {
    TransmitterLock tx(false);
    uint8_t* record = Payload() + kMemoryHeaderSize;
    uint8_t lengthByte = 0;
    uint8_t codeByte = 0;
    const int n = BuildRecord(RecordSource, record, lengthByte, codeByte);
    // The long form's frame length runs 128 bytes past the record: send
    // zeros there rather than whatever an earlier request left behind.
    std::memset(record + n, 0, lengthByte - static_cast<size_t>(n));
    return SendRecordCommand1(lengthByte, codeByte);
}

void SendAddressCommand(uint32_t address, uint32_t count, uint8_t value) {
    TransmitterLock tx(false);
    PackAddressCount(address, count, Payload());
    Payload()[5] = value;
    ArmAndSend(kAddressCommand, 6);
}

}  // namespace wire
