// command_library.cpp - the request operations of the device's command set.
#include "link/command_library.h"

#include <cstring>

#include "link/frame.h"

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

uint8_t* Payload() { return TransmitFrame.data() + 4; }

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
    std::memcpy(destination, ResponseBuffer.data() + 4, count);
    return kAccepted;
}

}  // namespace

void PackAddressCount(uint32_t address, uint32_t count, uint8_t* destination) {
    PutAddress24(address, destination);
    destination[3] = static_cast<uint8_t>(count);
    destination[4] = static_cast<uint8_t>(count >> 8);
}

int AwaitOwnAnswer() {
    if (AwaitAnswer(kOwnPollBoundMs) != AnswerWait::Arrived) return kNoAnswer;
    if (ResponseStatus() != kStatusAccepted) return kRefusedPolled;
    return kAccepted;
}

int WritePatternArea(const uint8_t* data, uint32_t count) {
    count &= 0xFFFF;
    if (count > kMaxDataCount) return kCountTooLarge;
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubPattern, 0);
        if (data != nullptr) std::memcpy(Payload() + 4, data, count);
        ArmAndSend(kMemoryRequest, count + 4);
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
        std::memcpy(Payload() + 4, data, count);
        ArmAndSend(kMemoryRequest, count + 4);
    }
    return AwaitOwnAnswer();
}

int EraseFlashRange(uint32_t address, uint32_t length) {
    {
        TransmitterLock tx(false);
        Payload()[0] = kSubErase;
        PackAddressCount(address, length, Payload() + 1);
        ArmAndSend(kMemoryRequest, 6);
    }
    return AwaitOwnAnswer();
}

int ReadFlashChunk(uint8_t* destination, uint32_t address, uint32_t count) {
    if (count > kMaxAnswerCount) return kCountTooLarge;
    {
        TransmitterLock tx(false);
        Payload()[0] = kSubRead;
        PackAddressCount(address, count, Payload() + 1);
        ArmAndSend(kMemoryRequest, 6);
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
        Payload()[4] = count;
        Payload()[5] = 0;
        ArmAndSend(kMemoryRequest, 6);
    }
    return WaitForResponse();
}

int WriteRecordArea(uint8_t lengthByte, uint8_t selector) {
    {
        TransmitterLock tx(false);
        PutMemoryHeader(kSubRecord, 0);
        Payload()[1] = selector;
        ArmAndSend(kMemoryRequest, lengthByte + 4u);
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
        first = WriteRecordArea(Payload()[4], kRecordSelectorShort);
    }
    if (first != kAccepted) return first;
    TransmitterLock tx(false);
    Payload()[0] = value;
    ArmAndSend(kRecordCommand0, 1);
    return kAccepted;
}

int BuildRecord(const RecordSourceFields& s, uint8_t* record, uint8_t& lengthByte,
                uint8_t& codeByte) {
    const bool longForm = (s.flags & 0x10) != 0;
    uint8_t type = 0x27;
    if (s.kind != 1) {
        type = 0x03;
        if (s.block8 != nullptr) type += 0x20;
        if (s.block8 != nullptr && longForm && s.block8[6] == 7) type += 0x40;
    }
    int n = 0;
    record[n++] = type;
    record[n++] = s.kind;
    if (s.flags & 0x20) record[n++] = 0x04;
    if (s.block8 != nullptr) {
        std::memcpy(record + n, s.block8, 8);
        n += 8;
    }
    if (s.flags & 0x80) record[n++] = s.extra1;
    if (s.flags & 0x40) record[n++] = s.extra2;
    if (s.block4 != nullptr) {
        std::memcpy(record + n, s.block4, 4);
        n += 4;
    }
    uint32_t code = s.flags & 0x0F;
    if (s.kind == 0x2C) code += s.extra2 + 1u;
    if (s.kind == 0x23) code += 4u * s.extra2 + 4u;
    if (s.kind == 0xB8) code += s.extra2;
    codeByte = static_cast<uint8_t>(code);
    lengthByte = static_cast<uint8_t>(n + (longForm ? 0x80 : 0));
    return n;
}

int BuildRecordAndSend() {
    TransmitterLock tx(false);
    uint8_t* record = Payload() + 4;
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
